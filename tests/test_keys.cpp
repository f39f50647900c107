// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "design/frmAbout.h"
#include "guard/frmMain.h"
#include "guard/frmTrust.h"
#include "lists/frmList.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "tray/frmSettings.h"
#include "platform/linux/KeyGate.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

const char* const kChild = "MIRVAK_KEYS_CHILD";

// The guard over an unknown "editor", and the windows it opens.
struct Desk {
    TestBed t;
    frmMain main{t.app};
    bool applied = false;

    Desk()
    {
        t.settings();
        mdSettings::getSettings(t.app);
        t.write("editor", "binary");
        t.processes.add(500, "editor", t.path("editor"));
    }
    QByteArray line() const { return ("editor|" + t.path("editor") + "\r\n").toUtf8(); }
};

} // namespace

// Each window is driven with Tab, Space, Enter and Escape alone, typed on the X display by xdotool.
TEST(Keys, EveryWindowIsDrivenByTheKeyboardAlone)
{
    if (qEnvironmentVariableIsEmpty(kChild)) {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "needs an X display and xdotool";
        EXPECT_EQ(rerunOnDisplay("Keys.EveryWindowIsDrivenByTheKeyboardAlone", {{kChild, "1"}}), 0);
        return;
    }
    const struct {
        const char* window;
        const char* keys;
        std::function<QWidget*(Desk&)> open;
        std::function<bool(Desk&)> done;
    } cases[] = {
        {"alert", "Tab Tab Return",
         [](Desk& d) {
             d.main.guard.TakeProcesses();
             return &d.main;
         },
         [](Desk& d) { return d.t.read("deny.csv") == d.line() && d.main.isHidden(); }},
        {"first start", "Tab space",
         [](Desk& d) {
             d.main.offerTrust();
             return d.main.trust.data();
         },
         [](Desk& d) { return d.t.exists("allow.csv") && d.t.read("allow.csv").isEmpty(); }},
        {"allow list", "Tab space Tab space",
         [](Desk& d) {
             d.t.write("allow.csv", d.line());
             mdLists::getList(d.t.app, d.t.app.allowList, "allow.csv");
             auto* list = new frmList(d.t.app, d.main.guard, frmList::Kind::Allow, &d.main);
             list->listLoad();
             list->show();
             return list;
         },
         [](Desk& d) { return d.t.read("deny.csv") == d.line() && d.t.read("allow.csv").isEmpty(); }},
        {"settings", "Return",
         [](Desk& d) {
             auto* settings = new frmSettings(d.t.app, d.main.guard, &d.main);
             QObject::connect(settings, &frmSettings::applied, [&d] { d.applied = true; });
             settings->show();
             return settings;
         },
         [](Desk& d) { return d.applied; }},
        {"about", "Tab space Escape",
         [](Desk& d) {
             auto* about = new frmAbout(d.t.app, d.main.guard, &d.main);
             about->show();
             return about;
         },
         [](Desk& d) { return d.t.shell.opened.size() == 1 && d.main.findChildren<frmAbout*>().isEmpty(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        Desk d;
        QWidget* window = c.open(d);
        ASSERT_TRUE(window);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }, 10000));
        // The keys count once the window has held the focus for a quiet second.
        d.t.desktop.clock += KeyGate::kQuietMs;
        QProcess xdotool;
        xdotool.start("xdotool", QStringList{"key", "--delay", "100"} + QString(c.keys).split(' '));
        EXPECT_TRUE(QTest::qWaitFor([&d, &c] { return c.done(d); }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&xdotool] { return xdotool.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(xdotool.exitCode(), 0);
    }
}
