#include "Fakes.h"
#include "design/mdDesign.h"
#include "guard/frmMain.h"

namespace {
// The alert is up for "new"; "bad" is on the deny list and "other" is unknown.
struct Guard {
    TestBed t;
    frmMain m{t.app};
    QStringList told;
    explicit Guard(const char* key = "always_top", const char* value = "0")
    {
        t.settings({{key, value}});
        t.write("deny.csv", "bad\r\n"), t.write("allow.csv", "");
        t.processes.add(10, "new");
        t.app.notice = [this](const QString& text) { told << text; };
        EXPECT_EQ(m.Form_Load(), frmMain::Start::Running);
        m.time_Timer();
        t.processes.add(11, "other"), t.processes.add(12, "bad"), t.processes.add(13, "bad");
    }
    // A denied program started again at `ms` (b2 with a path); what the tick tells.
    QStringList respawn(qint64 ms, const QString& name)
    {
        t.desktop.clock = ms;
        t.processes.add(20, name, name == "b2" ? "/bin/b2" : "");
        m.time_Timer();
        return std::exchange(told, {});
    }
};
} // namespace

TEST(AlertGuard, DenyListHoldsWhileTheAlertAsksAndNothingElseMoves)
{
    Guard g("clean_value", "5");
    g.t.processes.table[3].killable = false;
    const auto state = [&g] { return std::tuple(g.m.appRecord, g.m.appPid, g.m.tmpTicks, g.t.app.seenRecords); };
    const auto before = state();
    g.m.time_Timer();
    EXPECT_TRUE(g.m.time.isActive());
    EXPECT_EQ(g.t.processes.killed, std::vector<qint64>({12, 13}));
    EXPECT_EQ(state(), before);
    EXPECT_EQ(g.told, QStringList{"Ended bad: it is on the deny list."});
    // The candidate ended meanwhile: Deny and Deny Now say so.
    g.t.processes.table[0].alive = false;
    for (auto deny : {&frmMain::btnDeny_MouseUp, &frmMain::btnDenyNow_MouseUp}) {
        g.m.txtPath->clear(), (g.m.*deny)();
        EXPECT_EQ(g.m.txtPath->toPlainText(), "can't deny new: it has already ended");
    }
}

TEST(AlertGuard, KillNoticeLimitsAndSetting)
{
    const struct { qint64 at; const char* name; QStringList told; } steps[] = {
        {0, "bad", {"Ended bad: it is on the deny list."}}, {1000, "bad", {}},   // once a minute
        {2000, "b2", {}}, {3000, "b3", {}},                                     // wait for the ten seconds
        {10000, "bad", {"Ended b2 (/bin/b2): it is on the deny list, and 1 more."}},
        {59999, "b2", {}}, {60000, "bad", {"Ended bad: it is on the deny list."}}};
    Guard g;
    g.t.app.denyTmp.add("b2"), g.t.app.denyTmp.add("b3");
    for (const auto& s : steps)
        EXPECT_EQ(g.respawn(s.at, s.name), s.told) << s.at;
    // A file without the key tells (above); 0 tells nothing; a bad value fails as other settings do.
    for (const char* value : {"0", "yes"}) {
        Guard off("kill_notice", value);
        off.m.time_Timer();
        EXPECT_EQ(off.told, QStringList());
        EXPECT_EQ(off.t.read("error.log").left(40), value[0] == '0' ? "" : "frmMain.tellKills: Type mismatch: 'yes' ");
    }
}

TEST(AlertGuard, WindowsBesideTheTrayIconWhenTheAreaHoldsIt)
{
    const struct { QRect tray; QPoint at; } cases[] = {
        {{900, 744, 24, 24}, {644, 564}}, {{900, 0, 24, 24}, {644, 24}},    // bottom, top
        {{0, 300, 24, 24}, {24, 144}}, {{1000, 300, 24, 24}, {720, 144}},   // left, right
        {{0, 744, 24, 24}, {0, 564}}, {{1000, 744, 24, 24}, {744, 564}}};   // corners: inside the screen
    for (const auto& c : cases)
        EXPECT_EQ(mdDesign::trayPlace({0, 0, 1024, 768}, c.tray, {280, 180}), c.at) << c.tray.x() << "," << c.tray.y();
    // The alert goes beside the icon only when the available area does not leave the icon's panel out.
    Guard g;
    g.t.desktop.tray = {900, 744, 24, 24};
    for (const auto& [available, at] : {std::pair(QRect(0, 0, 1024, 738), QPoint(744, 558)),
                                        std::pair(QRect(0, 0, 1024, 768), QPoint(644, 564))}) {
        g.t.desktop.available = available;
        mdDesign::frmBalloon(g.t.app, &g.m);
        EXPECT_EQ(g.m.pos(), at);
    }
}
