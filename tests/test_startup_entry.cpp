#include "Fakes.h"
#include "process/mdProcess.h"
#include "store/mdSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {
// A program folder with logging on, startup_load as given and an autostart folder.
struct EntryBed : TestBed {
    explicit EntryBed(const char* load = "1")
    {
        settings({{"startup_load", load}});
        mdSettings::getSettings(app);
        env.startup = path("autostart");
    }
    void start() { mdProcess::startupApp(app, mdSettings::isOn(app, "startup_load")); }
};
} // namespace

TEST(StartupEntry, CreatedWithQuotedExecAndValid)
{
    EntryBed t;
    t.env.startup = t.path("config/autostart");   // missing: it is created
    t.program.dir = t.path("we \"ird $x %y\\z`");   // quoted for Exec, then escaped as a string
    t.start();
    const QString dir = t.tmp.path();
    EXPECT_EQ(QString::fromUtf8(t.read("config/autostart/Mirvak 1.9.desktop")),
              "[Desktop Entry]\nType=Application\nName=Mirvak Process Manager\nComment=Guard.\n"
              "Exec=\"" + dir + "/we \\\\\"ird \\\\$x %%y\\\\\\\\z\\\\`/Mirvak\"\n"
              "Path=" + dir + "/we \"ird $x %y\\\\z`\n"
              "Icon=" + dir + "/we \"ird $x %y\\\\z`/mirvak.png\n"
              "Terminal=false\nX-GNOME-Autostart-enabled=true\n");

    EntryBed plain;
    plain.program.name = "guard";
    plain.start();
    EXPECT_TRUE(plain.read("autostart/guard 1.9.desktop")
                    .contains("\nExec=\"" + plain.path("guard").toUtf8() + "\"\n"));

    const QString tool = QStandardPaths::findExecutable("desktop-file-validate");
    if (tool.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    EXPECT_EQ(QProcess::execute(tool, {t.path("config/autostart/Mirvak 1.9.desktop")}), 0);
}

TEST(StartupEntry, PresentEntryStaysOnlyThisVersionGoesAndFailuresAreLogged)
{
    const QByteArray user = "[Desktop Entry]\nExec=/elsewhere\n";
    for (const char* load : {"1", "0", "2"}) {
        EntryBed t(load);
        t.write("autostart/Mirvak 1.9.desktop", user);
        t.write("autostart/Mirvak 1.8.desktop", "old");
        t.start();
        EXPECT_EQ(t.exists("autostart/Mirvak 1.9.desktop"), *load == '1') << load;
        EXPECT_EQ(t.read("autostart/Mirvak 1.9.desktop"), *load == '1' ? user : "") << load;
        EXPECT_EQ(t.read("autostart/Mirvak 1.8.desktop"), "old") << load;
        EXPECT_FALSE(t.exists("error.log")) << load;
    }
    EntryBed t;
    t.files.failWrites << "Mirvak 1.9.desktop";
    EXPECT_NO_THROW(t.start());
    EXPECT_EQ(t.read("error.log"), "mdProcess.startupApp: Permission denied\r\n\r\n");
}
