#include "Fakes.h"
#include "process/mdProcess.h"
#include "store/mdSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

// desktop-file-validate's complaints, or nullopt when the tool is missing.
std::optional<QString> validate(const QString& file)
{
    const QString tool = QStandardPaths::findExecutable("desktop-file-validate");
    if (tool.isEmpty())
        return std::nullopt;
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(tool, {file});
    run.waitForFinished();
    const QString out = QString::fromUtf8(run.readAll());
    return run.exitCode() == 0 && !out.contains("error") ? QString() : out;
}

} // namespace

TEST(StartupEntry, CreatedWithQuotedExecAndValid)
{
    TestBed t;
    t.env.startup = t.path("config/autostart");   // missing: it is created
    // Characters the Exec quoting and the string escapes must both handle.
    t.program.dir = t.path("we \"ird $x %y\\z`");
    mdProcess::startupApp(t.app, true);
    ASSERT_TRUE(t.exists("config/autostart/Mirvak 1.9.desktop"));
    const QString dir = t.tmp.path();
    const QString text = QString::fromUtf8(t.read("config/autostart/Mirvak 1.9.desktop"));
    EXPECT_EQ(text, "[Desktop Entry]\n"
                    "Type=Application\n"
                    "Name=Mirvak Process Manager\n"
                    "Comment=Guard.\n"
                    "Exec=\"" + dir + "/we \\\\\"ird \\\\$x %%y\\\\\\\\z\\\\`/Mirvak\"\n"
                    "Path=" + dir + "/we \"ird $x %y\\\\z`\n"
                    "Icon=" + dir + "/we \"ird $x %y\\\\z`/mirvak.png\n"
                    "Terminal=false\n"
                    "X-GNOME-Autostart-enabled=true\n");
    EXPECT_FALSE(t.exists("error.log"));

    TestBed plain;
    plain.env.startup = plain.path("autostart");
    plain.program.name = "guard";
    mdProcess::startupApp(plain.app, true);
    ASSERT_TRUE(plain.exists("autostart/guard 1.9.desktop"));
    EXPECT_TRUE(plain.read("autostart/guard 1.9.desktop").contains("\nExec=\"" + plain.program.exePath().toUtf8() + "\"\n"));

    const auto weird = validate(t.path("config/autostart/Mirvak 1.9.desktop"));
    const auto ordinary = validate(plain.path("autostart/guard 1.9.desktop"));
    if (!weird)
        GTEST_SKIP() << "desktop-file-validate is not installed";
    EXPECT_EQ(*weird, "");
    EXPECT_EQ(*ordinary, "");
}

TEST(StartupEntry, PresentEntryStaysAndOnlyThisVersionIsRemoved)
{
    for (const char* value : {"1", "0", "2"}) {
        TestBed t;
        t.settings({{"startup_load", value}});
        mdSettings::getSettings(t.app);
        t.env.startup = t.path("autostart");
        t.write("autostart/Mirvak 1.9.desktop", "[Desktop Entry]\nExec=/elsewhere\n");
        t.write("autostart/Mirvak 1.8.desktop", "old");
        mdProcess::startupApp(t.app, mdSettings::isOn(t.app, "startup_load"));
        if (QByteArray(value) == "1")
            EXPECT_EQ(t.read("autostart/Mirvak 1.9.desktop"), "[Desktop Entry]\nExec=/elsewhere\n");
        else
            EXPECT_FALSE(t.exists("autostart/Mirvak 1.9.desktop")) << value;
        EXPECT_EQ(t.read("autostart/Mirvak 1.8.desktop"), "old") << value;
        EXPECT_FALSE(t.exists("error.log")) << value;
    }

    TestBed absent;
    absent.env.startup = absent.path("autostart");
    mdProcess::startupApp(absent.app, false);
    EXPECT_FALSE(absent.exists("autostart"));
}

TEST(StartupEntry, FailuresAreLoggedOnceAndStartGoesOn)
{
    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    t.env.startup = t.path("autostart");
    t.files.failWrites << "Mirvak 1.9.desktop";
    EXPECT_NO_THROW(mdProcess::startupApp(t.app, true));
    EXPECT_EQ(t.read("error.log"), "mdProcess.startupApp: Permission denied\r\n\r\n");
    EXPECT_FALSE(t.exists("autostart/Mirvak 1.9.desktop"));

    // No startup folder at all: nothing to do and nothing to log.
    TestBed none;
    none.settings();
    mdSettings::getSettings(none.app);
    none.env.startup.clear();
    mdProcess::startupApp(none.app, true);
    mdProcess::startupApp(none.app, false);
    EXPECT_FALSE(none.exists("error.log"));
}
