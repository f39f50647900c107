// SPDX-License-Identifier: GPL-3.0-or-later
// The windows as users without a mouse or with a screen reader meet them, each test run again on the X display.
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
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

const char* const kChild = "MIRVAK_DESK_CHILD";

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
    QWidget* open(const QString& which)
    {
        QWidget* window = &main;
        if (which == "alert") {
            main.guard.TakeProcesses();
        } else if (which == "first start") {
            main.offerTrust();
            window = main.trust.data();
        } else if (which == "allow list") {
            t.write("allow.csv", line());
            mdLists::getList(t.app, t.app.allowList, "allow.csv");
            auto* list = new frmList(t.app, main.guard, frmList::Kind::Allow, &main);
            list->listLoad();
            window = list;
        } else if (which == "settings") {
            auto* settings = new frmSettings(t.app, main.guard, &main);
            QObject::connect(settings, &frmSettings::applied, [this] { applied = true; });
            window = settings;
        } else {
            window = new frmAbout(t.app, main.guard, &main);
        }
        window->show();
        return window;
    }
};

// In the parent: the test again in a child on the display, or skipped where it cannot run.
void rerun(const char* test, bool can, const char* needs, const QList<QPair<QString, QString>>& env = {})
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !can)
        GTEST_SKIP() << needs;
    EXPECT_EQ(rerunOnDisplay(test, env + QList<QPair<QString, QString>>{{kChild, "1"}}), 0);
}

// The tree as the screen reader's library reads it, one "role|name|actions|description" a line.
QStringList tree()
{
    QProcess reader;
    reader.start("/usr/bin/python3", {MIRVAK_SOURCE_DIR "/tests/atspi_tree.py", QString::number(QCoreApplication::applicationPid())});
    // This process answers the reader's questions meanwhile.
    EXPECT_TRUE(QTest::qWaitFor([&reader] { return reader.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    return QString::fromUtf8(reader.readAllStandardOutput()).split('\n');
}

} // namespace

// Each window is driven with Tab, Space, Enter and Escape alone, typed on the X display by xdotool; the alert's run is
// the end-to-end test's.
TEST(Keys, EveryWindowIsDrivenByTheKeyboardAlone)
{
    if (qEnvironmentVariableIsEmpty(kChild))
        return rerun("Keys.EveryWindowIsDrivenByTheKeyboardAlone", !QStandardPaths::findExecutable("xdotool").isEmpty(),
                     "needs an X display and xdotool");
    const struct {
        const char* window;
        const char* keys;
        std::function<bool(Desk&)> done;
    } cases[] = {
        {"first start", "Tab space", [](Desk& d) { return d.t.exists("allow.csv") && d.t.read("allow.csv").isEmpty(); }},
        {"allow list", "Tab space Tab space", [](Desk& d) { return d.t.read("deny.csv") == d.line() && d.t.read("allow.csv").isEmpty(); }},
        {"settings", "Return", [](Desk& d) { return d.applied; }},
        {"about", "Tab space Escape", [](Desk& d) { return d.t.shell.opened.size() == 1 && d.main.findChildren<frmAbout*>().isEmpty(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        Desk d;
        QWidget* window = d.open(c.window);
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

// Qt speaks AT-SPI on the X display; the test reads its own windows.
TEST(Access, EveryControlHasRoleNameAndAction)
{
    if (qEnvironmentVariableIsEmpty(kChild))
        return rerun("Access.EveryControlHasRoleNameAndAction", QFile::exists("/usr/lib/python3/dist-packages/pyatspi"),
                     "needs an X display and python3-pyatspi", {{"QT_ACCESSIBILITY", "1"}, {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}});
    Desk d;
    for (const char* window : {"alert", "allow list", "about", "settings"})
        d.open(window);
    const QStringList full = tree();
    QStringList lines;
    for (const QString& line : full)
        lines << line.section('|', 0, 2);
    const QStringList wanted{
        "filler|New application: editor|", "push button|Allow|Press,SetFocus", "push button|Deny|Press,SetFocus",
        "push button|Allow now|Press,SetFocus", "push button|Deny now|Press,SetFocus", "push button|Search the web|Press,SetFocus",
        "push button|Delete|Press,SetFocus", "push button|Close|Press,SetFocus",
        "filler|Allow List of Applications (1)|", "text|Filter|SetFocus", "table|Allow List of Applications|",
        "push button|Move to the deny list|Press,SetFocus", "push button|Add\u2026|Press,SetFocus",
        "push button|Contact|Press,SetFocus", "text|About|SetFocus", "push button|Clear the filter|Press", "push button|Report|Press,SetFocus",
        "filler|Settings|", "text|check_interval|SetFocus", "text|web_search|SetFocus", "push button|Save|Press,SetFocus"};
    for (const QString& line : wanted)
        EXPECT_TRUE(lines.contains(line)) << line.toStdString() << "\n" << lines.join('\n').toStdString();
    // The details are read out as text, never as markup.
    EXPECT_TRUE(full.filter("process id: 500").size() == 1 && full.filter("<p").isEmpty()) << full.join('\n').toStdString();
    for (const QString& line : lines)
        EXPECT_FALSE(line.startsWith("push button||")) << "a button without a name";
}
