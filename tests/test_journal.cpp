// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "GateHarness.h"
#include "guard/Events.h"
#include "guard/frmMain.h"
#include "platform/linux/LinuxJournal.h"
#include "tray/frmTray.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QtEndian>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Bed {
    TestBed t;
    frmMain m{t.app};
    QString tool = exe("tool");
    QString other = exe("other");

    QString exe(const QString& name)
    {
        t.write("bin/" + name, name.toUtf8());
        return t.path("bin/" + name);
    }
    static QString record(const QString& path) { return QFileInfo(path).fileName() + "|" + path; }
    void start(const QList<QPair<QString, QString>>& settings, const QString& deny)
    {
        t.settings(settings);
        t.write("allow.csv", "");
        t.write("deny.csv", deny.toUtf8());
        t.processes.add(10, "tool", tool, 4);
        t.processes.add(11, "other", other);
        ASSERT_EQ(m.Form_Load(), frmMain::Start::Running);
    }
    QByteArrayList events() const { return t.journal.field("MIRVAK_EVENT"); }
};

// The fields of the end of `tool` (pid 10, parent 4) by its deny record.
template <typename Entry>
void expectEnded(const Entry& ended, const Bed& g)
{
    EXPECT_EQ(ended.value("MESSAGE_ID"), events::messageId(events::Kind::Ended));
    EXPECT_EQ(ended.value("SYSLOG_IDENTIFIER"), "mirvak");
    EXPECT_EQ(ended.value("PRIORITY"), "5");
    EXPECT_EQ(ended.value("MIRVAK_NAME"), "tool");
    EXPECT_EQ(ended.value("MIRVAK_PATH"), g.tool.toUtf8());
    EXPECT_EQ(ended.value("MIRVAK_PID"), "10");
    EXPECT_EQ(ended.value("MIRVAK_PPID"), "4");
    EXPECT_EQ(ended.value("MIRVAK_RULE"), ("deny.csv: " + Bed::record(g.tool)).toUtf8());
    EXPECT_EQ(ended.value("MIRVAK_MODE"), "enforce");
}

TEST(Journal, EachEventCarriesItsFields)
{
    Bed g;
    g.start({}, Bed::record(g.tool) + "\r\n" + Bed::record(g.other) + "\r\n");
    g.t.processes.table[1].killable = false;
    g.m.guard.time_Timer();
    ASSERT_EQ(g.events(), (QByteArrayList{"start", "ended", "end_failed"}));
    const auto& ended = g.t.journal.entries[1];
    expectEnded(ended, g);
    EXPECT_EQ(ended.value("MESSAGE"), "Ended tool");
    EXPECT_EQ(ended.value("MIRVAK_UID"), "ann");
    const auto& failed = g.t.journal.entries[2];
    EXPECT_EQ(failed.value("MESSAGE_ID"), events::messageId(events::Kind::EndFailed));
    EXPECT_EQ(failed.value("PRIORITY"), "4");
    EXPECT_EQ(failed.value("MIRVAK_PID"), "11");
}

TEST(Journal, AUserDecisionAtLevelFourCarriesTheHash)
{
    Bed g;
    g.t.app.hashes.run = [](std::function<void()> task) { task(); };
    g.start({{"list_level", "4"}}, "");
    g.t.processes.table.pop_back();
    g.m.guard.time_Timer();
    g.m.guard.time_Timer();
    ASSERT_TRUE(g.m.isVisible());
    g.m.btnDeny_MouseUp();
    ASSERT_EQ(g.events(), (QByteArrayList{"start", "decision"}));
    const auto& decision = g.t.journal.entries[1];
    EXPECT_EQ(decision.value("MESSAGE_ID"), events::messageId(events::Kind::Decision));
    EXPECT_EQ(decision.value("MIRVAK_ANSWER"), "deny");
    EXPECT_EQ(decision.value("MIRVAK_SHA256"), QCryptographicHash::hash("tool", QCryptographicHash::Sha256).toHex());
}

TEST(Journal, MonitorModeEndsNothingAndNotesEachProgramOnce)
{
    Bed g;
    g.start({{"guard_mode", "monitor"}}, Bed::record(g.tool) + "\r\n");
    g.m.guard.time_Timer();
    g.m.guard.time_Timer();
    EXPECT_TRUE(g.t.processes.killed.empty());
    EXPECT_FALSE(g.m.isVisible());
    EXPECT_EQ(g.events(), (QByteArrayList{"start", "would_end", "would_ask"}));
    EXPECT_EQ(g.t.journal.field("MIRVAK_MODE").value(1), "monitor");
    const QString seen = g.t.read("seen.csv");
    EXPECT_EQ(seen.count(Bed::record(g.tool)), 1);
    EXPECT_EQ(seen.count(Bed::record(g.other)), 1);
}

TEST(Journal, WithoutAJournalTheGuardGoesOnAndSaysSoOnce)
{
    for (const bool off : {false, true}) {
        Bed g;
        g.t.journal.running = off;
        g.start({{"journal", off ? "0" : "1"}}, Bed::record(g.tool) + "\r\n" + Bed::record(g.other) + "\r\n");
        g.m.guard.time_Timer();
        EXPECT_EQ(g.t.processes.killed.size(), 2u);
        EXPECT_TRUE(g.t.journal.entries.empty());
        EXPECT_EQ(g.t.read("error.log").count("No system journal takes the events"), off ? 0 : 1);
    }
}

struct TipTray : platform::Tray {
    QString tip;
    void add(const QIcon&, const QString& t) override { tip = t; }
    void modify(const QIcon&, const QString& t) override { tip = t; }
    void remove() override {}
};

TEST(Journal, TheTrayTipTellsMonitorMode)
{
    for (const char* mode : {"monitor", "enforce"}) {
        Bed g;
        TipTray icon;
        std::unique_ptr<frmTray> tray;
        g.m.guard.loadTray = [&] {
            tray = std::make_unique<frmTray>(g.t.app, g.m.guard, icon);
            tray->Form_Load();
        };
        g.start({{"guard_mode", mode}}, "");
        EXPECT_EQ(icon.tip, mode == QLatin1String("monitor") ? "Mirvak: monitor mode, nothing is ended" : "Mirvak: guarding");
    }
}

// The fields of each entry the native protocol carries in a datagram.
QHash<QByteArray, QByteArray> entry(const QByteArray& datagram)
{
    QHash<QByteArray, QByteArray> fields;
    qsizetype at = 0;
    while (at < datagram.size()) {
        const qsizetype end = datagram.indexOf('\n', at);
        const QByteArray line = datagram.mid(at, end - at);
        const qsizetype equals = line.indexOf('=');
        if (equals >= 0) {
            fields.insert(line.left(equals), line.mid(equals + 1));
            at = end + 1;
            continue;
        }
        // NAME, then a little-endian 64-bit size, the bytes and a line end.
        const quint64 size = qFromLittleEndian<quint64>(datagram.constData() + end + 1);
        fields.insert(line, datagram.mid(end + 9, qsizetype(size)));
        at = end + 9 + qsizetype(size) + 1;
    }
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
