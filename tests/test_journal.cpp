// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/Events.h"
#include "guard/frmMain.h"

namespace {

using Bed = TwoPrograms<frmMain>;

// Each event carries its fields; without a journal the guard goes on and says so once, unless the setting
// turns the journal off.
TEST(Journal, EachEventCarriesItsFieldsAndWithoutAJournalTheGuardGoesOn)
{
    for (const QString journal : {"running", "missing", "off"}) {
        SCOPED_TRACE(journal.toStdString());
        const bool running = journal == "running";
        Bed g;
        g.t.journal.running = journal != "missing";
        g.start({}, Bed::record(g.tool) + "\r\n" + Bed::record(g.other) + "\r\n", {{"journal", journal == "off" ? "0" : "1"}});
        g.t.processes.table[1].killable = !running;
        g.m.guard.time_Timer();
        EXPECT_EQ(g.t.processes.killed, (std::vector<qint64>{10, 11}));
        EXPECT_EQ(g.t.read("error.log").count("No system journal takes the events"), journal == "missing" ? 1 : 0);
        if (!running) {
            EXPECT_TRUE(g.t.journal.entries.empty());
            continue;
        }
        ASSERT_EQ(g.t.journal.field("MIRVAK_EVENT"), (QByteArrayList{"start", "ended", "end_failed"}));
        const QHash<QByteArray, QByteArray> fields[] = {
            {{"MESSAGE_ID", events::messageId(events::Kind::Ended)}, {"SYSLOG_IDENTIFIER", "mirvak"}, {"PRIORITY", "5"},
             {"MIRVAK_NAME", "tool"}, {"MIRVAK_PATH", g.tool.toUtf8()}, {"MIRVAK_PID", "10"}, {"MIRVAK_PPID", "4"}, {"MIRVAK_UID", "1000"},
             {"MIRVAK_RULE", "deny.csv: " + Bed::record(g.tool)}, {"MIRVAK_MODE", "enforce"}, {"MESSAGE", "Ended tool"}},
            {{"MESSAGE_ID", events::messageId(events::Kind::EndFailed)}, {"PRIORITY", "4"}, {"MIRVAK_PID", "11"}}};
        for (int entry : {0, 1})
            for (const auto& [name, value] : fields[entry].asKeyValueRange())
                EXPECT_EQ(g.t.journal.entries[entry + 1].value(name), value) << name.constData();
    }
}

// Monitor mode ends nothing, notes each program once and says so in the tray's tip.
TEST(Journal, MonitorModeEndsNothingAndNotesEachProgramOnce)
{
    Bed g;
    g.start({}, Bed::record(g.tool) + "\r\n", {{"guard_mode", "monitor"}});
    g.m.guard.time_Timer();
    g.m.guard.time_Timer();
    EXPECT_EQ(std::pair(g.t.processes.killed.size(), g.m.isVisible()), std::pair(std::size_t(0), false));
    EXPECT_EQ(g.t.journal.field("MIRVAK_EVENT"), (QByteArrayList{"start", "would_end", "would_ask"}));
    EXPECT_EQ(g.t.journal.field("MIRVAK_MODE").value(1), "monitor");
    const QString seen = g.t.read("seen.csv");
    EXPECT_EQ(std::pair(seen.count(Bed::record(g.tool)), seen.count(Bed::record(g.other))), std::pair(qsizetype(1), qsizetype(1)));
}

} // namespace
