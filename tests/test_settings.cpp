// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"
#include "tray/frmSettings.h"
#include "tray/frmTray.h"

#include <QApplication>
#include <QKeyEvent>

using namespace mdSettings;

namespace {
struct QuietTray : platform::Tray {
    void add(const QIcon&, const QString&) override {}
    void modify(const QIcon&, const QString&) override {}
    void remove() override {}
};

// The program started on the given settings, its tray up and the settings window open from the menu.
struct SettingsBed : TestBed {
    QuietTray icon;
    frmMain main{app};
    std::unique_ptr<frmTray> tray;
    frmSettings* window = nullptr;
    explicit SettingsBed(std::initializer_list<QPair<QString, QString>> changes = {})
    {
        settings(QList(changes));
        main.guard.loadTray = [this] {
            tray = std::make_unique<frmTray>(app, main.guard, icon);
            tray->Form_Load();
        };
        main.Form_Load();
        tray->Settings_Click();
        tray->Settings_Click();   // a second click opens no second window
        const auto windows = tray->findChildren<frmSettings*>();
        window = windows.size() == 1 ? windows[0] : nullptr;
    }
    QLineEdit* field(const QString& key) { return window->findChild<QLineEdit*>(key); }
};
} // namespace

TEST(Settings, RewriteChangesOnlyValuesAndKeepsCommentsOrderUnknownLinesAndLineEnds)
{
    const QByteArray old = "' head\r\n\r\n' list_level: how much\n' a record holds\nList_Level= 1 \r\nmine=x=y\r"
                           " 'odd=1\n' c\ncheck_interval=\r\nweb_search=https://a?b=c";
    for (const auto& [changes, expected] : std::vector<std::pair<QHash<QString, QString>, QByteArray>>{
             {{{"list_level", "3"}, {"check_interval", "0.5"}}, QByteArray(old).replace("= 1 ", "= 3 ").replace("l=\r", "l=0.5\r")},
             {{{"web_search", ""}, {"mine", "z"}, {"head", "1"}}, QByteArray(old).replace("https://a?b=c", "").replace("x=y", "z")},
             {{{"list_level", "1"}}, old}})
        EXPECT_EQ(rewriteSettings(old, changes), expected);
    EXPECT_EQ(rewriteSettings("\xEF\xBB\xBFkill_notice=0\n", {{"kill_notice", "1"}}), "\xEF\xBB\xBFkill_notice=1\n");
    QStringList rows;
    for (const FileSetting& s : fileSettings(old))
        rows << s.key + "=" + s.value + " (" + s.comment + ")";
    EXPECT_EQ(rows, QStringList({"List_Level=1 (how much a record holds)", "mine=x=y ()", " 'odd=1 ()", "check_interval= (c)",
                                 "web_search=https://a?b=c ()"}));
    QFile shipped(MIRVAK_SOURCE_DIR "/settings.ini");
    const auto all = shipped.open(QIODevice::ReadOnly) ? fileSettings(shipped.readAll()) : std::vector<FileSetting>();
    EXPECT_TRUE(all.size() == 15 && std::ranges::all_of(all, [](auto& s) { return knownSetting(s.key) && !s.comment.isEmpty(); }));
}

TEST(Settings, EachRuleRefusesBadValuesWithItsReasonAndSaveDoesNothingMeanwhile)
{
    // key, value, check_interval beside it, reason ("" for a good value).
    for (const QStringList& c : std::vector<QStringList>{
             {"safe_level", "1.0", "1", ""}, {"Always_Top", "2", "1", "1 for on or 0 for off"}, {"mine", "any", "1", ""},
             {"error_log", "1,0", "1", "not a number: digits, with \".\" before a fraction"}, {"list_level", "4", "1", ""},
             {"list_level", "5", "1", "a whole number from 0 to 4"}, {"clean_value", "-1", "1", "0 or more"},
             {"check_interval", "0.0004", "", "at least 0.001 (a millisecond)"}, {"check_interval", "2147483.647", "", ""},
             {"check_interval", "2147483.648", "", "at most 2147483.647 seconds"}, {"tmp_interval", "35791394", "1", ""},
             {"tmp_interval", "35791395", "1", "too long for a check every 1 seconds"}, {"path_search", "2147483646", "1", ""},
             {"tmp_interval", "35791395", "0", "too long for a check every 0.1 seconds"}, {"web_search", "https://a\nlist_level=4", "1", "one line"},
             {"path_search", "1e10", "0.001", "too long for a check every 0.001 seconds"}, {"web_search", "HTTPS://x", "1", ""},
             {"web_search", "ftp://x", "1", "an address"}, {"gate_hold", "0", "1", "a whole number of seconds"},
             {"gate_socket", "g.sock", "1", "a path that"}, {"alert_timeout", "86401", "1", "0, or a whole number of seconds up to 86400"},
             {"alert_default", "Deny_Now", "1", ""}, {"alert_default", "deny", "1", "close, allow_now or deny_now"}})
        EXPECT_EQ(checkSetting(c[0], c[1], {{"check_interval", c[2]}}).left(c[3].isEmpty() ? -1 : c[3].size()), c[3]) << c.join(" ").toStdString();
    SettingsBed t({{"tmp_interval ", "5"}});   // a name the program does not read: told, no bar to Save
    const QString unread = "tmp_interval : not read: the program knows \u201ctmp_interval\u201d only without blanks around it; remove them in the editor|";
    const QByteArray before = t.read("settings.ini");
    const auto reasons = [&](QString shown = "") {
        for (const auto& row : t.window->rows)
            shown += row.reason->isHidden() ? "" : row.key + ": " + row.reason->text() + "|";
        return shown;
    };
    t.field("list_level")->setText("9");
    t.field("tmp_interval")->setText("abc");
    t.field("clean_value")->setText("3");
    EXPECT_EQ(reasons(), "tmp_interval: not a number: digits, with \".\" before a fraction|list_level: a whole number from 0 to 4|" + unread);
    t.window->btnSave_Click();
    EXPECT_TRUE(t.window->isVisible() && t.window->lblMessage->text().startsWith("Not saved") && t.read("settings.ini") == before);
    t.field("list_level")->setText("2");
    t.field("tmp_interval")->setText("1");
    EXPECT_TRUE(t.window->validate() && reasons() == "list_level: records kept at level 1 stop matching: their programs are "
                                                   "asked about again|" + unread) << reasons().toStdString();
}

TEST(Settings, SaveWritesTheFileAndAppliesAtOnceKeepingTheTimersState)
{
    // Paused or not; a period that ends before the 30 s already counted, or one that goes on.
    for (const auto& [paused, minutes, ticks] : {std::tuple(false, "0.25", 30), {true, "2", 60}}) {
        SettingsBed t({{"path_search", "2"}, {"mine", "kept"}});   // memory holds milliseconds, the window the file's seconds
        ASSERT_TRUE(getSetting(t.app, "path_search") == "2000" && t.field("path_search")->text() == "2");
        if (paused)
            t.tray->Disable_Click();
        t.main.guard.tmpTicks = 30;
        const QByteArray before = t.read("settings.ini");
        for (const auto& [key, value] : QList<QPair<QString, QString>>{
                 {"check_interval", "0.5"}, {"tmp_interval", QString(" %1 ").arg(minutes)}, {"always_top", "1"}, {"path_search", "3"}})
            t.field(key)->setText(value);
        t.window->btnSave_Click();
        EXPECT_EQ(t.read("settings.ini"), QByteArray(before).replace("check_interval=1", "check_interval=0.5").replace("path_search=2", "path_search=3")
                                              .replace("tmp_interval=60", "tmp_interval=" + QByteArray(minutes)).replace("always_top=0", "always_top=1"));
        // In half-second ticks: the 15 s of the shorter period, or the 30 s counted.
        EXPECT_EQ(QString("%1 %2 %3 %4 %5").arg(t.main.guard.time.interval()).arg(t.main.guard.tmpTicks).arg(t.main.guard.time.isActive())
                      .arg(bool(t.main.windowFlags() & Qt::WindowStaysOnTopHint)).arg(getSetting(t.app, "path_search")),
                  QString("500 %1 %2 1 3000").arg(ticks).arg(!paused));
        EXPECT_TRUE(t.window->isHidden() && t.tray->Enable->isEnabled() == paused && getSetting(t.app, "mine") == "kept");
    }
}

TEST(Settings, FailedWriteLeavesTheFileAndValuesAndFixedSettingsStartGuarding)
{
    SettingsBed t({{"check_interval", "0.0004"}});
    ASSERT_FALSE(t.main.guard.time.isActive() || t.tray->Enable->isEnabled() || t.tray->Disable->isEnabled());
    const QByteArray before = t.read("settings.ini");
    t.files.failWrites << "settings.ini";
    t.field("check_interval")->setText("2");
    t.window->btnSave_Click();
    EXPECT_EQ(t.window->lblMessage->text(), "Not saved, the file is as it was: Permission denied");
    EXPECT_TRUE(t.read("settings.ini") == before && getSetting(t.app, "check_interval") == "0.0004" && !t.main.guard.time.isActive());
    t.files.failWrites.clear();
    t.window->btnSave_Click();
    EXPECT_TRUE(t.main.guard.time.isActive() && t.main.guard.time.interval() == 2000 && t.tray->Disable->isEnabled());
}

TEST(Settings, EditorOpensOrTheWindowSaysThereIsNoneAndShowsTheFileAsEditedThere)
{
    SettingsBed t;
    // The first field has the focus, and Tab goes down the fields before the buttons.
    EXPECT_TRUE(t.window->focusWidget() == t.field("startup_load") && t.field("error_log")->nextInFocusChain() == t.window->btnEditor);
    t.shell.handler = false;
    t.window->btnEditor_Click();
    EXPECT_EQ(t.shell.opened, QStringList(t.path("settings.ini")));
    EXPECT_TRUE(t.window->lblMessage->text().startsWith("No editor could be started for " + t.path("settings.ini")));
    t.settings({{"list_level", "3"}});
    t.window->checkFile();   // unchanged rows follow the file
    EXPECT_EQ(t.field("list_level")->text(), "3");
    t.field("safe_level")->setText("1");
    t.settings({{"list_level", "2"}});
    t.window->checkFile();   // typed ones wait for Reload
    EXPECT_TRUE(t.field("safe_level")->text() == "1" && t.field("list_level")->text() == "3" && !t.window->btnReload->isHidden());
    t.window->btnReload->click();
    EXPECT_TRUE(t.field("safe_level")->text() == "0" && t.field("list_level")->text() == "2");
    // All in effect but a log-in entry that cannot be written: the window stays and says so.
    t.env.startup = t.path("autostart");
    t.files.failWrites << "Mirvak 1.9.desktop";
    t.field("startup_load")->setText("1");
    t.window->btnSave_Click();
    t.window->checkFile();
    EXPECT_TRUE(t.window->isVisible() && t.window->lblMessage->text().contains("log-in entry") && getSetting(t.app, "startup_load") == "1");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    t.field("list_level")->setText("4");
    QApplication::sendEvent(t.field("list_level"), &escape);   // from the field
    EXPECT_TRUE(t.window->isHidden() && t.read("settings.ini").contains("list_level=2"));
}
