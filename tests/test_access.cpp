// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "design/frmAbout.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "store/mdSettings.h"
#include "tray/frmSettings.h"

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace {

const char* const kChild = "MIRVAK_ATSPI_CHILD";

// The tree as the screen reader's library reads it, one "role|name|actions|description" a line, blanks trimmed.
QStringList tree()
{
    QProcess reader;
    QEventLoop loop;
    QObject::connect(&reader, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    reader.start("/usr/bin/python3", {MIRVAK_SOURCE_DIR "/tests/atspi_tree.py", QString::number(QCoreApplication::applicationPid())});
    // This process answers the reader's questions meanwhile.
    loop.exec();
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    QStringList lines;
    for (const QString& line : QString::fromUtf8(reader.readAllStandardOutput()).split('\n'))
        lines << line.trimmed();
    return lines;
}

} // namespace

// Runs itself again on the X display, where Qt speaks AT-SPI, and reads its own windows.
TEST(Access, EveryControlHasRoleNameAndAction)
{
    if (qEnvironmentVariableIsEmpty(kChild)) {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !QFile::exists("/usr/lib/python3/dist-packages/pyatspi"))
            GTEST_SKIP() << "needs an X display and python3-pyatspi";
        const QList<QPair<QString, QString>> env{{kChild, "1"}, {"QT_ACCESSIBILITY", "1"}, {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}};
        EXPECT_EQ(rerunOnDisplay("Access.EveryControlHasRoleNameAndAction", env), 0);
        return;
    }
    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    t.processes.add(500, "editor", t.path("editor"));
    t.write("editor", "binary");
    frmMain main(t.app);
    main.guard.TakeProcesses();
    frmList list(t.app, main.guard, frmList::Kind::Allow);
    list.show();
    frmAbout about(t.app, main.guard);
    about.show();
    frmSettings settings(t.app, main.guard);
    settings.show();
    const QStringList full = tree();
    QStringList lines;
    for (const QString& line : full)
        lines << line.section('|', 0, 2);
    const QStringList wanted{
        "filler|New application: editor|", "push button|Allow|Press,SetFocus", "push button|Deny|Press,SetFocus",
        "push button|Allow now|Press,SetFocus", "push button|Deny now|Press,SetFocus", "push button|Search the web|Press,SetFocus",
        "push button|Delete|Press,SetFocus", "push button|Close|Press,SetFocus",
        "filler|Allow List of Applications (0)|", "text|Filter|SetFocus", "table|Allow List of Applications|",
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
