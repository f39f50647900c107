// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/Events.h"
#include "guard/frmMain.h"

namespace {

using Bed = TwoPrograms<frmMain>;

// Each event carries its fields; without a journal the guard goes on and says so once, unless the setting turns the
// journal off. Monitor mode ends nothing, asks about nothing and notes each program once, over two ticks.
TEST(Journal, EachEventCarriesItsFieldsWithoutAJournalTheGuardGoesOnAndMonitorModeEndsNothing)
{
    // How the journal stands, or monitor mode; the events it takes and the processes ended.
    for (const auto& [journal, taken, killed] :
         {std::tuple(QString("running"), QByteArrayList{"start", "ended", "end_failed"}, std::vector<qint64>{10, 11}),
          {"missing", {}, {10, 11}}, {"off", {}, {10, 11}}, {"monitor", {"start", "would_end", "would_ask"}, {}}}) {
        SCOPED_TRACE(journal.toStdString());
        const bool monitor = journal == "monitor";
        Bed g;
        g.t.journal.running = journal != "missing";
        g.start({}, Bed::record(g.tool) + "\r\n" + (monitor ? QByteArray() : Bed::record(g.other) + "\r\n"),
                {{"journal", journal == "off" ? "0" : "1"}, {"guard_mode", monitor ? "monitor" : "enforce"}});
        g.t.processes.table[1].killable = journal != "running";
        for (int tick = monitor ? 2 : 1; tick > 0; --tick)
            g.m.guard.time_Timer();
        EXPECT_EQ(std::tuple(g.t.processes.killed, g.t.journal.field("MIRVAK_EVENT"), g.m.isVisible()), std::tuple(killed, taken, false));
        EXPECT_EQ(g.t.read("error.log").count("No system journal takes the events"), journal == "missing" ? 1 : 0);
        const QString seen = g.t.read("seen.csv");
        EXPECT_EQ(std::pair(seen.count(Bed::record(g.tool)), seen.count(Bed::record(g.other))), std::pair(qsizetype(monitor), qsizetype(monitor)));
        EXPECT_EQ(g.t.journal.field("MIRVAK_MODE").value(1), monitor ? "monitor" : taken.isEmpty() ? "" : "enforce");
        if (journal != "running")
            continue;
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

} // namespace
