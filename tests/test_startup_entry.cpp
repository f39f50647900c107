#include "Fakes.h"
#include "process/mdProcess.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

namespace {
// A program folder with logging on, startup_load as given and no autostart folder yet.
struct EntryBed : TestBed {
    explicit EntryBed(const char* load = "1")
    {
        settings({{"startup_load", load}});
        mdSettings::getSettings(app);
        env.startup = path("config/autostart");
    }
    void start() { mdProcess::startupApp(app, mdSettings::isOn(app, "startup_load")); }
};
} // namespace

TEST(StartupEntry, CreatedOnlyWhenMissingOnlyThisVersionGoesAndFailuresAreLogged)
{
    EntryBed t;
    t.program.name = "guard";
    t.program.dir = t.path("we \"ird $x %y\\z`");   // quoted for Exec, then escaped as a string
    t.program.split = {{t.tmp.path(), t.tmp.path(), "/usr/share/mirvak"}};   // installed: the icon is shared
    t.start();
    EXPECT_EQ(QString::fromUtf8(t.read("config/autostart/guard 1.9.desktop")),
              "[Desktop Entry]\nType=Application\nName=Mirvak Process Manager\nComment=Guard.\nExec=\"" + t.tmp.path()
                  + "/we \\\\\"ird \\\\$x %%y\\\\\\\\z\\\\`/guard\"\nPath=" + t.tmp.path() + "/we \"ird $x %y\\\\z`\n"
                  "Icon=/usr/share/mirvak/mirvak.png\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");

    for (const char* load : {"1", "0", "2"}) {
        EntryBed e(load);
        e.write("config/autostart/Mirvak 1.9.desktop", "the user's");
        e.write("config/autostart/Mirvak 1.8.desktop", "old");
        e.start();
        EXPECT_EQ(e.read("config/autostart/Mirvak 1.9.desktop"), *load == '1' ? "the user's" : "") << load;
        EXPECT_EQ(e.read("config/autostart/Mirvak 1.8.desktop"), "old") << load;
        EXPECT_FALSE(e.exists("error.log")) << load;
    }
    EntryBed failing;
    failing.files.failWrites << "Mirvak 1.9.desktop";
    failing.start();
    EXPECT_EQ(failing.read("error.log"), "mdProcess.startupApp: Permission denied\r\n\r\n");
}
