#include "Fakes.h"
#include "app/Cli.h"
#include "guard/frmMain.h"
#include "guard/frmTrust.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QKeyEvent>
#include <QLockFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>

namespace {
// Beside this program: a, twice; another user's "other"; "c", whose path can't be read; "d", on the deny list.
struct Table : TestBed {
    QString a = path("bin/a"), d = path("bin/d");
    Table(const char* level = "1")
    {
        settings({{"list_level", level}}), write("bin/a", "aaa"), write("bin/d", "d"), write("deny.csv", ("d|" + d).toUtf8());
        processes.add(1, "Mirvak", program.exePath()), processes.add(2, "a", a), processes.add(3, "a", a);
        processes.add(4, "other"), processes.add(5, "c").missing = platform::PathState::Unreadable, processes.add(6, "d", d);
    }
};

// A guard started in that folder, with state of its own.
struct Guard {
    App app;
    frmMain m{app};
    explicit Guard(TestBed& t) : app({t.processes, t.files, t.env, t.shell, t.desktop, t.program})
    {
        app.hashes.run = [](std::function<void()> task) { task(); };
        EXPECT_EQ(m.Form_Load(), frmMain::Start::Running);
    }
    // The alert's record after a tick, or "-".
    std::string tick() { return m.time_Timer(), (m.isVisible() ? m.appRecord : "-").toStdString(); }
};

// Takes the lock only to fail the test: the command line must never reach for it.
struct Watched : FakeProgram {
    bool takeInstanceLock() override { return ADD_FAILURE(), false; }
};
} // namespace

// Asked once, only the scan's records of what the walk would ask about, and no alert over the question.
TEST(FirstStart, AskedOnceAnsweredByYesNoOrEscapeAndNoAlertWhileAsking)
{
    for (const char* answer : {"yes", "no", "escape"}) {
        Table t;
        Guard g(t);
        frmMain& m = g.m;
        EXPECT_EQ(g.tick(), "-");
        ASSERT_TRUE(m.trust && m.trust->isVisible() && m.time.isActive());
        EXPECT_EQ(t.processes.killed, std::vector<qint64>{6});   // the deny list acts while it asks
        EXPECT_EQ(m.trust->lblQuestion->text(), "Trust the 2 programs that run now?");
        m.trust->btnShow->click();
        EXPECT_TRUE(m.trust->txtList->isVisible());
        EXPECT_EQ(m.trust->txtList->toPlainText(), "a  " + t.a + "\nother  (another user's)");
        if (answer == std::string("escape")) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(m.trust, &escape);
        } else {
            (answer == std::string("yes") ? m.trust->btnYes : m.trust->btnNo)->click();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_FALSE(m.trust);
        const bool yes = answer == std::string("yes");
        EXPECT_EQ(t.read("allow.csv"), yes ? ("a|" + t.a + "\r\nother\r\n").toUtf8() : "") << answer;
        EXPECT_EQ(g.tick(), (yes ? "c" : "a|" + t.a).toStdString());
        EXPECT_FALSE(Guard(t).m.trust) << answer;
    }
}

TEST(FirstStart, NothingToTrustAsksNothingAndWritesNothing)
{
    Table t;
    t.processes.table.resize(1);   // only itself
    Guard g(t);
    EXPECT_FALSE(g.m.trust || t.exists("allow.csv"));
}

// Merged into what the file holds, saved whole or not at all, the lock left alone and a running copy warned.
TEST(CommandLine, AllowRunningMergesCountsAndSavesWhole)
{
    const QString restart = "Mirvak: the running guard keeps its own allow list in memory; restart it to use the "
                            "additions, or its next save of the list drops them\n";
    struct Row {
        const char* level;
        QByteArray before;
        bool otherCopy, failWrite;
        int added, status;
    };
    for (const Row& r : {Row{"1", "old|/o\r\n", false, false, 3, 0}, Row{"1", "A|@a\r\nb|@b\r\n", true, false, 1, 0},
                         Row{"4", "", false, false, 3, 0}, Row{"1", "old|/o\r\n", true, true, 0, 1}}) {
        Table t(r.level);
        t.write("bin/b", "b"), t.processes.add(7, "b", t.path("bin/b"));
        Watched program;
        program.dir = t.tmp.path(), program.lockFree = !r.otherCopy;
        App cli({t.processes, t.files, t.env, t.shell, t.desktop, program});
        cli.hashes.hash = [real = cli.hashes.hash](qint64 pid, const QString& path, const auto& version) {
            return path.endsWith("/b") ? std::nullopt : real(pid, path, version);   // b cannot be read
        };
        if (!r.before.isEmpty())
            t.write("allow.csv", QByteArray(r.before).replace("@a", t.a.toUtf8()).replace("@b", t.path("bin/b").toUtf8()));
        t.files.failWrites = r.failWrite ? QSet<QString>{"allow.csv"} : QSet<QString>{};
        const Cli::Outcome o = Cli::allowRunning(cli);
        const QString file = t.path("allow.csv");
        EXPECT_EQ(o.status, r.status);
        EXPECT_EQ((o.out + o.err).toStdString(), (r.failWrite ? "Mirvak: can't save " + file + "; it is left as it was\n"
                                   : QString("Mirvak: added %1 program%2 to %3\n").arg(r.added).arg(r.added == 1 ? "" : "s")
                                         .arg(file) + (*r.level == '4' ? "Mirvak: left out 1 program that could not be read to hash\n" : "")
                                   + (r.otherCopy ? restart : "")).toStdString());
        if (r.failWrite) {
            EXPECT_EQ(t.read("allow.csv"), r.before) << "a failed save leaves the file whole";
            continue;
        }
        // The guard on the merged list asks only about c; at level 4 the deny record of level 1 spares d, and b is asked after c.
        EXPECT_EQ(Guard(t).tick(), "c") << r.level;
        EXPECT_EQ(t.read("allow.csv").count('\n'), r.before.count('\n') + r.added);
        const QByteArray hash = "|" + t.a.toUtf8() + "|sha256:" + QCryptographicHash::hash("aaa", QCryptographicHash::Sha256).toHex();
        EXPECT_EQ(t.read("allow.csv").contains(hash), *r.level == '4');
    }
}

// The real program, with no display to reach: these options end before it would need one.
TEST(CommandLine, HelpVersionAndWrongArgumentsNeedNoDisplay)
{
    const QString usage = "Usage: Mirvak [OPTION]\n", hint = "\nTry 'Mirvak --help' for more information.\n";
    for (const auto& [arguments, status, text] : {std::tuple(QStringList{"--version"}, 0, QString("Mirvak 1.9.0\n")),
             {{"-h", "--allow-running"}, 0, usage}, {{"--help"}, 0, usage},
             {{"--allow-running", "--bogus"}, 2, "Mirvak: Unknown option 'bogus'." + hint},
             {{"stray"}, 2, "Mirvak: Unexpected argument 'stray'." + hint}}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        p.setProcessEnvironment(env), p.start(MIRVAK_EXE, arguments);
        ASSERT_TRUE(p.waitForFinished(30000));
        const QString out = p.readAllStandardOutput(), err = p.readAllStandardError();
        EXPECT_EQ(std::pair(p.exitCode(), (status ? err : out).left(text.size())), std::pair(status, text));
        EXPECT_TRUE(status ? out.isEmpty() : err.isEmpty()) << err.toStdString();
    }
}

// Another copy's lock is read, never taken over or rewritten; a lock whose owner is gone names no copy.
TEST(CommandLine, AnotherCopysLockIsOnlyRead)
{
    TestBed lock;
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", lock.tmp.path().toUtf8());
    platform::LinuxProgram program;
    for (const auto& [owner, runs] : {std::pair("1", true), std::pair("4194305", false)}) {
        const QByteArray text = owner + QByteArray("\nMirvak\n") + QSysInfo::machineHostName().toUtf8() + "\n";
        lock.write("mirvak-" + program.exeName() + ".lock", text);
        EXPECT_EQ(program.otherCopyRuns(), runs) << owner;
        EXPECT_EQ(lock.read("mirvak-" + program.exeName() + ".lock"), text);
    }
    qputenv("XDG_RUNTIME_DIR", old);
}
