// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "guard/frmTrust.h"

#include <QPushButton>

// A first start, every kind of decision, counted saves and a restart on a bad setting leave the
// files recorded in tests/data/session, byte for byte.
TEST(Session, LeavesTheRecordedFiles)
{
    TestBed t;
    t.settings({{"list_level", "2"}, {"clean_value", "2"}});
    t.processes.add(1, "Mirvak", t.program.exePath());
    for (const char* name : {"a", "b", "c", "e", "f", "g", "k"})
        t.write(QString("bin/") + name, QByteArray(int(qstrlen(name)) * 7, 'x'));
    t.processes.add(2, "a", t.path("bin/a"));
    t.processes.add(3, "other");
    {
        frmMain m(t.app);
        t.app.hashes.run = [](std::function<void()> task) { task(); };
        ASSERT_EQ(m.Form_Load(), frmMain::Start::Running);
        ASSERT_TRUE(m.trust);
        t.desktop.clock = 1000;
        m.trust->btnYes->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto decide = [&](qint64 pid, const char* name, void (frmMain::*press)()) {
            t.processes.add(pid, name, t.path(QString("bin/") + name));
            m.guard.time_Timer();
            ASSERT_TRUE(m.isVisible() && m.guard.appName == name);
            (m.*press)();
        };
        m.guard.time_Timer();
        decide(10, "b", &frmMain::btnAllow_MouseUp);
        decide(11, "c", &frmMain::btnDeny_MouseUp);
        decide(12, "e", &frmMain::btnAllowNow_MouseUp);
        decide(13, "f", &frmMain::btnDenyNow_MouseUp);
        decide(14, "g", &frmMain::btnClose_MouseUp);
        t.files.failRemoves.insert("g");
        m.guard.time_Timer();
        m.btnDelete_MouseUp();
        m.btnDelete_MouseUp();
        t.files.failRemoves.clear();
        m.btnDelete_MouseUp();
        t.processes.add(15, "c", t.path("bin/c"));
        m.guard.time_Timer();
        decide(16, "k", &frmMain::btnAllow_MouseUp);
        EXPECT_EQ(t.processes.killed, (std::vector<qint64>{11, 13, 14, 15}));
    }
    t.settings({{"list_level", "2"}, {"clean_value", "2"}, {"check_interval", "often"}});
    App again({t.processes, t.files, t.env, t.shell, t.desktop, t.program});
    frmMain restarted(again);
    EXPECT_EQ(restarted.Form_Load(), frmMain::Start::Running);
    EXPECT_FALSE(restarted.guard.time.isActive());
    for (const char* name : {"allow.csv", "deny.csv", "settings.ini", "error.log"}) {
        // Its folder written as "@", so that the files compare from any folder.
        const QByteArray left = t.read(name).replace(t.tmp.path().toUtf8(), "@");
        QFile expected(QString(MIRVAK_SOURCE_DIR "/tests/data/session/") + name);
        // Recorded anew only on request, from the code before a change.
        if (qEnvironmentVariableIsSet("MIRVAK_RECORD_SESSION") && expected.open(QIODevice::WriteOnly)) {
            expected.write(left);
            expected.close();
        }
        ASSERT_TRUE(expected.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(left, expected.readAll()) << name;
    }
}
