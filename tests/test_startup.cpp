#include "Fakes.h"
#include "guard/frmMain.h"
#include "process/mdProcess.h"
#include "store/mdSettings.h"

using mdSettings::getSetting;

TEST(Startup, RewritesTimerPeriodAndTopmostOrLogsWhyNothingIsGuarded)
{
    // Settings in; stored check_interval and path_search, interval, ticks (120 s / 7 s: 18), timer, topmost and log out.
    for (const QStringList& c : {QStringList{"0", "60", "1.0", "0.1 3000 100 36000 on top"},
             {"-3", "60", "2", "0.1 3000 100 36000 on"}, {"2.5", "60", "0", "2.5 3000 2500 1440 on"},
             {"7", "2", "1", "7 3000 7000 18 on top"}, {"", "60", "1", "3000 0 0 off top M"},
             {"0.0004", "0", "1", "0.0004 3000 0 0 off top frmMain.Form_Load: check_interval 0.0004 is below a millisecond"},
             {"1", "", "1", "1 3000 1000 0 off top M"}, {"1", "60", "", "1 3 0 0 off M"}}) {
        TestBed t;
        t.settings({{"check_interval", c[0]}, {"path_search", "3"}, {"tmp_interval", c[1]}, {"always_top", c[2]}});
        frmMain main(t.app);
        ASSERT_TRUE(main.Form_Load() == frmMain::Start::Running && !main.isVisible());
        EXPECT_EQ(QString("%1 %2 %3 %4 %5%6 %7").arg(getSetting(t.app, "check_interval"), getSetting(t.app, "path_search"))
                      .arg(main.time.interval()).arg(main.tmpTicks).arg(main.time.isActive() ? "on" : "off")
                      .arg(main.windowFlags() & Qt::WindowStaysOnTopHint ? " top" : "", t.read("error.log").split('\r')[0])
                      .trimmed(), QString(c[3]).replace(" M", " frmMain.Form_Load: Type mismatch: '' is not a number"));
    }
}

TEST(Startup, EndsWithoutSettingsOrWhenAnotherCopyRunsAndOnlyTheOwnerClearsLeftovers)
{
    TestBed none, second;
    second.settings(), second.program.lockFree = false;
    // Temporary copies of the own files go; suffixes that people type stay.
    const QStringList files{"allow.csv.gKsdij", "deny.csv.ZZaaZZ", "error.log.aBcDeF", "allow.csv.backup",
                            "allow.csvXgKsdij", "deny.csv.BACKUP", "other.txt.gKsdij"};
    for (TestBed* t : {&none, &second})
        for (const QString& name : files)
            t->write(name, "x");
    frmMain first(none.app), copy(second.app);
    int trays = 0;
    first.loadTray = copy.loadTray = [&] { ++trays; };
    EXPECT_EQ(std::tuple(first.Form_Load(), copy.Form_Load()), std::tuple(frmMain::Start::NoSettings, frmMain::Start::SecondCopy));
    EXPECT_EQ(trays, 1);   // the tray comes up after the lock, before the settings
    EXPECT_EQ(QDir(none.tmp.path()).entryList(QDir::Files), files.mid(3));
    EXPECT_EQ(QDir(second.tmp.path()).entryList(QDir::Files).size(), files.size() + 1);
    EXPECT_FALSE(first.time.isActive() || second.app.settingList.count() || second.exists("error.log"));
}

TEST(Startup, LockLeftWithThisProcessIdIsTakenOver)
{
    // A crashed copy's lock names an id that a new session may give the next copy: not "another copy runs".
    QTemporaryDir runtime;
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    platform::LinuxProgram program;
    const QString path = runtime.path() + "/mirvak-" + program.exeName() + ".lock";
    ASSERT_TRUE(QLockFile(path).tryLock(0) && QFile::copy(path, path + ".kept") && QFile::remove(path));
    ASSERT_TRUE(QFile::rename(path + ".kept", path));
    EXPECT_TRUE(program.takeInstanceLock());
    qputenv("XDG_RUNTIME_DIR", old);
}

namespace {
// A program folder with logging on, startup_load as given and no autostart folder yet.
struct EntryBed : TestBed {
    explicit EntryBed(const char* load = "1")
    {
        settings({{"startup_load", load}}), mdSettings::getSettings(app), env.startup = path("config/autostart");
    }
    void start() { mdProcess::startupApp(app, mdSettings::isOn(app, "startup_load")); }
};
} // namespace

TEST(StartupEntry, CreatedOnlyWhenMissingOnlyThisVersionGoesAndFailuresAreLogged)
{
    EntryBed t;
    t.program.name = "guard", t.program.dir = t.path("we \"ird $x %y\\z`");   // quoted for Exec, then escaped as a string
    t.program.split = {{t.tmp.path(), t.tmp.path(), "/usr/share/mirvak"}};   // installed: the icon is shared
    t.start();
    EXPECT_EQ(QString::fromUtf8(t.read("config/autostart/guard 1.9.desktop")),
              "[Desktop Entry]\nType=Application\nName=Mirvak Process Manager\nComment=Guard.\nExec=\"" + t.tmp.path()
                  + "/we \\\\\"ird \\\\$x %%y\\\\\\\\z\\\\`/guard\"\nPath=" + t.tmp.path() + "/we \"ird $x %y\\\\z`\n"
                  "Icon=/usr/share/mirvak/mirvak.png\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");

    for (const char* load : {"1", "0", "2"}) {
        EntryBed e(load);
        e.write("config/autostart/Mirvak 1.9.desktop", "the user's"), e.write("config/autostart/Mirvak 1.8.desktop", "old");
        e.start();
        EXPECT_EQ(e.read("config/autostart/Mirvak 1.9.desktop") + "|" + e.read("config/autostart/Mirvak 1.8.desktop")
                      + (e.exists("error.log") ? "|logged" : ""), *load == '1' ? "the user's|old" : "|old");
    }
    EntryBed failing;
    failing.files.failWrites << "Mirvak 1.9.desktop", failing.start();
    EXPECT_EQ(failing.read("error.log"), "mdProcess.startupApp: Permission denied\r\n\r\n");
}
