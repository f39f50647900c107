// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "app/Cli.h"
#include "guard/frmMain.h"
#include "design/mdDesign.h"
#include "guard/frmTrust.h"
#include "store/mdLists.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {
// Takes the lock only to fail the test: the command line must never reach for it.
struct Watched : FakeProgram {
    bool takeInstanceLock() override { return ADD_FAILURE(), false; }
};

// Beside this program: a, twice; another user's "other"; "c", whose path can't be read; "d", on the deny list. `cli`
// is the command line's on the same folder.
struct Table : TestBed {
    QString a = path("bin/a"), d = path("bin/d");
    Watched command;
    App cli{{processes, files, env, shell, desktop, command}};
    Table(const char* level = "1")
    {
        command.dir = tmp.path();
        settings({{"list_level", level}}), write("bin/a", "aaa"), write("bin/d", "d"), write("deny.csv", ("d|" + d).toUtf8());
        processes.add(1, "Mirvak", program.exePath()), processes.add(2, "a", a), processes.add(3, "a", a);
        processes.add(4, "other"), processes.add(5, "c").missing = platform::PathState::Unreadable, processes.add(6, "d", d);
    }
};

// A guard started in that folder, with state of its own.
struct Started {
    App app;
    frmMain m{app};
    explicit Started(TestBed& t) : app({t.processes, t.files, t.env, t.shell, t.desktop, t.program})
    {
        app.hashes.run = [](std::function<void()> task) { task(); };
        EXPECT_EQ(m.Form_Load(), frmMain::Start::Running);
    }
    // The alert's record after a tick, or "-".
    std::string tick() { return m.guard.time_Timer(), (m.isVisible() ? m.guard.appRecord : "-").toStdString(); }
};
} // namespace

// Asked once, only the scan's records of what the walk would ask about, and no alert over the question. It opens in the
// alert's place, bottom right above the panel, and stays there as it grows; keys the user typed for another window do
// not answer it: they count after a quiet second in it.
TEST(FirstStart, AskedOnceInItsCornerAnsweredByKeysOnlyAfterAQuietSecond)
{
    for (const char* answer : {"Yes", "No", "Escape"}) {
        Table t;
        Started g(t);
        frmTrust* const asked = g.m.trust;
        ASSERT_TRUE(asked && asked->isVisible() && g.m.guard.time.isActive());
        EXPECT_EQ(std::pair(g.tick(), t.processes.killed), std::pair(std::string("-"), std::vector<qint64>{6}));   // only d ends
        asked->btnShow->click();
        t.write("allow.csv", "x|/x\r\n");   // written meanwhile by --allow-running
        EXPECT_EQ(asked->lblQuestion->text() + (asked->txtList->isVisible() ? " shows:\n" : "") + asked->txtList->toPlainText(),
                  "Trust the 2 programs that run now? shows:\na  " + t.a + "\nother  (another user's)");
        EXPECT_EQ(asked->pos(), mdDesign::availablePlace(t.desktop.available, asked->frameGeometry().size()));
        EXPECT_GT(asked->height(), 150);
        QTest::keyClick(asked->btnYes, Qt::Key_Return);
        ASSERT_TRUE(asked->isVisible());
        t.desktop.clock = 1000;
        if (*answer == 'Y')
            QTest::keyClick(asked->btnYes, Qt::Key_Return);
        else if (*answer == 'N')
            asked->btnNo->click();
        else
            QTest::keyClick(asked, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_FALSE(g.m.trust);
        EXPECT_EQ(t.read("allow.csv"), ((*answer == 'Y' ? "a|" + t.a + "\r\nother\r\n" : QString()) + "x|/x\r\n").toUtf8()) << answer;
        EXPECT_EQ(g.tick(), (*answer == 'Y' ? "c" : "a|" + t.a).toStdString());
        EXPECT_FALSE(Started(t).m.trust) << answer;
    }
}

// At level 4 the question is up before any hash is known; its records come in as the hashes do, and Yes waits for them.
// --allow-running tells how far they are, and adds the programs once all are known.
TEST(FirstStart, AskedAtOnceWhileHashesAreComputedAndAllowRunningTellsHowFarTheyAre)
{
    std::vector<std::function<void()>> tasks;   // hashes started, run when the test says
    const auto later = [&tasks](std::function<void()> task) { tasks.push_back(std::move(task)); };
    Table t("4");
    t.app.hashes.run = later;
    frmMain m(t.app);
    ASSERT_EQ(m.Form_Load(), frmMain::Start::Running);
    frmTrust* const asked = m.trust;
    ASSERT_TRUE(asked && asked->isVisible());
    EXPECT_EQ(tasks.size(), 2u);   // a, once for its two processes, and d, whose level-1 deny record does not match here
    const auto shown = [&] { return (asked->lblQuestion->text() + " " + (asked->lblWait->isVisible() ? asked->lblWait->text() : "")).trimmed(); };
    EXPECT_EQ(shown(), "Trust the 3 programs that run now? Computing the SHA-256 of 2 of them; Yes waits until all are known.");
    asked->btnYes->click();
    for (int left : {2, 1}) {
        EXPECT_TRUE(m.trust && !t.exists("allow.csv"));
        EXPECT_EQ(shown(), QString("Trust the 3 programs that run now? Yes: computing the SHA-256 of %1 more; they are added "
                                   "once known.").arg(left));
        tasks[2 - left]();
        QCoreApplication::processEvents();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(m.trust);
    const QStringList saved = QString::fromUtf8(t.read("allow.csv")).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(saved.size(), 3);
    EXPECT_TRUE(saved[0].startsWith("a|") && saved[0].endsWith("|" + t.a + "|sha256:" + QCryptographicHash::hash("aaa", QCryptographicHash::Sha256).toHex()));
    EXPECT_TRUE(saved[1].startsWith("d|") && saved[1].contains("|sha256:"));
    EXPECT_EQ(saved[2], "other");
    Table c("4");
    tasks.clear();
    c.app.hashes.run = later;
    std::vector<std::pair<int, int>> told;
    const Cli::Outcome o = Cli::allowRunning(c.app, [&](int known, int total) {
        told.emplace_back(known, total);
        for (auto& task : std::exchange(tasks, {}))
            task();   // the workers go on while it tells
    });
    EXPECT_EQ(told, (std::vector<std::pair<int, int>>{{1, 3}, {3, 3}}));
    EXPECT_EQ(o.out, "Mirvak: added 3 programs to " + c.path("allow.csv") + "\n");
    EXPECT_EQ(QString::fromUtf8(c.read("allow.csv")).count("|sha256:"), 2);
}

// Merged into what the file holds, saved whole or not at all, the lock left alone and a running copy warned.
TEST(CommandLine, AllowRunningMergesCountsAndSavesWhole)
{
    const QString restart = "Mirvak: the running guard takes them in at its next check\n";
    // List level, allow.csv before, another copy runs, the save fails; how many are added.
    for (const auto& [level, before, otherCopy, fails, added] : {std::tuple("1", QByteArray("old|/o\r\n"), true, false, 3),
             {"1", "a|@a\r\nb|@b\r\n", true, false, 1}, {"4", "", false, false, 3}, {"1", "old|/o\r\n", true, true, 0}}) {
        Table t(level);
        t.write("bin/b", "b"), t.processes.add(7, "b", t.path("bin/b"));
        t.command.lockFree = !otherCopy;
        int hashed = 0;   // one file that runs twice is read once
        t.cli.hashes.hash = [real = t.cli.hashes.hash, &hashed](qint64 pid, const QString& path, const auto& version) {
            return ++hashed, path.endsWith("/b") ? std::nullopt : real(pid, path, version);   // b cannot be read
        };
        if (!before.isEmpty())
            t.write("allow.csv", QByteArray(before).replace("@a", t.a.toUtf8()).replace("@b", t.path("bin/b").toUtf8()));
        t.files.failWrites = fails ? QSet<QString>{"allow.csv"} : QSet<QString>{};
        std::optional<Started> running;
        if (otherCopy && !fails)
            running.emplace(t), running->tick();   // its alert is up
        const Cli::Outcome o = Cli::allowRunning(t.cli);
        const QString file = t.path("allow.csv"), count = QString::number(added) + (added == 1 ? " program" : " programs");
        EXPECT_EQ(QString::number(o.status) + o.out + o.err, fails ? "1Mirvak: can't save " + file + "; it is left as it was\n"
                  : "0Mirvak: added " + count + " to " + file + "\n" + (*level == '4' ? "Mirvak: left out 1 program that "
                  "could not be read to hash\n" : "") + (otherCopy ? restart : ""));
        if (fails) {
            EXPECT_EQ(t.read("allow.csv"), before) << "a failed save leaves the file whole";
            continue;
        }
        // A running guard takes the file in before a save of its own, or at its next tick.
        if (running) {
            before.startsWith("old") ? running->m.btnAllow_MouseUp() : running->m.btnClose_MouseUp();
            EXPECT_EQ(running->tick(), "c") << before.constData();
        }
        // The guard on the merged list asks only about c; at level 4 the deny record of level 1 spares d, and b is asked after c.
        EXPECT_EQ(Started(t).tick(), "c") << level;
        EXPECT_EQ(t.read("allow.csv").count('\n'), before.count('\n') + added);
        const QByteArray hash = "|" + t.a.toUtf8() + "|sha256:" + QCryptographicHash::hash("aaa", QCryptographicHash::Sha256).toHex();
        EXPECT_EQ(std::pair(t.read("allow.csv").contains(hash), hashed), std::pair(*level == '4', *level == '4' ? 3 : 0));
    }
    // A list it cannot read is neither written over nor are its denied programs trusted; a list_level that is
    // no number would make records of bare names, here and at first start.
    for (const char* unread : {"allow.csv", "deny.csv", "list_level"}) {
        Table t(*unread == 'l' ? "x" : "1");
        t.write("allow.csv", "old|/o\r\n"), t.files.failReads = {unread};
        const Cli::Outcome o = Cli::allowRunning(t.app);
        EXPECT_EQ(QString::number(o.status) + o.out + o.err, *unread == 'l' ? "1Mirvak: list_level in " + t.path("settings.ini")
                  + ": Type mismatch: 'x' is not a number\n" : "1Mirvak: can't read " + t.path(unread) + "; nothing is added\n");
        EXPECT_EQ(t.read("allow.csv"), "old|/o\r\n");
        QFile::remove(t.path("allow.csv"));
        EXPECT_EQ(Started(t).m.trust.isNull(), *unread == 'l') << unread;
    }
}

// An Allow that the running guard saves while the command walks and hashes is in the file afterwards.
TEST(CommandLine, AllowRunningKeepsWhatTheGuardSavesMeanwhile)
{
    Table t("4");
    t.write("allow.csv", "old|/o\r\n");
    Started running(t);
    t.command.lockFree = false;
    bool saved = false;
    t.cli.hashes.hash = [real = t.cli.hashes.hash, &running, &saved](qint64 pid, const QString& path, const auto& version) {
        if (!std::exchange(saved, true)) {
            running.app.allowList.add("new|/n");
            running.m.guard.saveAllowList();
        }
        return real(pid, path, version);
    };
    EXPECT_EQ(Cli::allowRunning(t.cli).status, 0);
    const QByteArray file = t.read("allow.csv");
    EXPECT_TRUE(saved);
    EXPECT_TRUE(file.startsWith("a|") && file.contains("\r\nnew|/n\r\nold|/o\r\nother\r\n")) << file.constData();
}

// Another copy's lock is read, never taken over or rewritten; a lock whose id is free or runs another program is stale.
// A crashed copy's lock names an id that a new session may give the next copy: not "another copy runs".
TEST(CommandLine, AnotherCopysLockIsOnlyRead)
{
    TestBed lock;
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", lock.tmp.path().toUtf8());
    platform::LinuxProgram program;
    const QString name = "mirvak-" + program.exeName() + ".lock";
    QProcess copy;   // stands for the running copy
    copy.start("sleep", {"30"});
    copy.waitForStarted();
    const QByteArray id = QByteArray::number(copy.processId());
    for (const auto& [owner, runs] : {std::pair(id + "\nsleep", true), {id + "\nMirvak", false}, {"4194305\nsleep", false}}) {
        const QByteArray text = owner + "\n" + QSysInfo::machineHostName().toUtf8() + "\n";
        lock.write(name, text);
        EXPECT_EQ(program.otherCopyRuns(), runs) << owner.constData();
        EXPECT_EQ(lock.read(name), text);
    }
    copy.kill();
    copy.waitForFinished();
    const QString path = lock.path(name);
    ASSERT_TRUE(QFile::remove(path));
    {
        QLockFile crashed(path);   // its unlock removes the file, which the copy stands for
        ASSERT_TRUE(crashed.tryLock(0) && QFile::copy(path, path + ".kept"));
    }
    ASSERT_TRUE(QFile::rename(path + ".kept", path));
    EXPECT_TRUE(program.takeInstanceLock());
    qputenv("XDG_RUNTIME_DIR", old);
}
