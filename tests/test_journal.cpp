// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "GateHarness.h"
#include "guard/Events.h"
#include "guard/frmMain.h"
#include "platform/linux/LinuxJournal.h"

#include <QCoreApplication>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Bed = TwoPrograms<frmMain>;

// The fields of the end of `tool` (pid 10, parent 4) by its deny record.
void expectEnded(const QHash<QByteArray, QByteArray>& ended, const Bed& g)
{
    const QHash<QByteArray, QByteArray> fields{{"MESSAGE_ID", events::messageId(events::Kind::Ended)}, {"SYSLOG_IDENTIFIER", "mirvak"},
                                               {"PRIORITY", "5"}, {"MIRVAK_NAME", "tool"}, {"MIRVAK_PATH", g.tool.toUtf8()},
                                               {"MIRVAK_PID", "10"}, {"MIRVAK_PPID", "4"}, {"MIRVAK_UID", "1000"},
                                               {"MIRVAK_RULE", "deny.csv: " + Bed::record(g.tool)}, {"MIRVAK_MODE", "enforce"}};
    for (const auto& [name, value] : fields.asKeyValueRange())
        EXPECT_EQ(ended.value(name), value) << name.constData();
}

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
        const auto& ended = g.t.journal.entries[1];
        expectEnded(ended, g);
        EXPECT_EQ(ended.value("MESSAGE"), "Ended tool");
        const auto& failed = g.t.journal.entries[2];
        EXPECT_EQ(failed.value("MESSAGE_ID"), events::messageId(events::Kind::EndFailed));
        EXPECT_EQ(failed.value("PRIORITY"), "4");
        EXPECT_EQ(failed.value("MIRVAK_PID"), "11");
    }
}

// Monitor mode ends nothing, notes each program once and says so in the tray's tip.
TEST(Journal, MonitorModeEndsNothingAndNotesEachProgramOnce)
{
    Bed g;
    g.start({}, Bed::record(g.tool) + "\r\n", {{"guard_mode", "monitor"}});
    g.m.guard.time_Timer();
    g.m.guard.time_Timer();
    EXPECT_TRUE(g.t.processes.killed.empty());
    EXPECT_FALSE(g.m.isVisible());
    EXPECT_EQ(g.t.journal.field("MIRVAK_EVENT"), (QByteArrayList{"start", "would_end", "would_ask"}));
    EXPECT_EQ(g.t.journal.field("MIRVAK_MODE").value(1), "monitor");
    const QString seen = g.t.read("seen.csv");
    EXPECT_EQ(seen.count(Bed::record(g.tool)), 1);
    EXPECT_EQ(seen.count(Bed::record(g.other)), 1);
}

// The fields of a datagram of the native protocol; no value here holds a line break, which would take
// the protocol's binary form.
QHash<QByteArray, QByteArray> entry(const QByteArray& datagram)
{
    QHash<QByteArray, QByteArray> fields;
    for (const QByteArray& line : datagram.split('\n'))
        if (const qsizetype equals = line.indexOf('='); equals > 0)
            fields.insert(line.left(equals), line.mid(equals + 1));
    return fields;
}

TEST(Journal, TheSystemJournalReceivesTheEvents)
{
    const auto outcome = gateharness::runInNamespace(
        {QCoreApplication::applicationFilePath(), "--gtest_filter=Journal.TheSystemJournalReceivesTheEvents"});
    if (!outcome.skipped.isEmpty())
        GTEST_SKIP() << qPrintable(outcome.skipped);
    if (!outcome.inside) {
        EXPECT_TRUE(outcome.passed) << qPrintable(outcome.output);
        return;
    }
    // Only this namespace sees the tmpfs and the socket on it.
    ASSERT_EQ(::mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=0755"), 0);
    ASSERT_TRUE(QDir().mkpath("/run/systemd/journal"));
    const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(socket, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    platform::LinuxJournal journal;
    Bed g;
    g.t.app.sys.journal = &journal;
    g.start({}, Bed::record(g.tool) + "\r\n");
    g.m.guard.time_Timer();
    std::vector<QHash<QByteArray, QByteArray>> entries;
    QByteArray datagram(65536, '\0');
    // Each send is in the socket's queue before it returns.
    for (ssize_t n; (n = ::recv(socket, datagram.data(), datagram.size(), MSG_DONTWAIT)) > 0;)
        entries.push_back(entry(datagram.left(n)));
    ::close(socket);
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0].value("MIRVAK_EVENT"), "start");
    EXPECT_EQ(entries[0].value("MESSAGE_ID"), events::messageId(events::Kind::GuardStart));
    expectEnded(entries[1], g);
    EXPECT_EQ(entries[1].value("MIRVAK_EVENT"), "ended");
    EXPECT_TRUE(g.t.read("error.log").isEmpty());
}

} // namespace
