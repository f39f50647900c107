// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/Guard.h"
#include "store/mdSettings.h"


namespace {

// A guard at list_level 1 with the administrator's folder in etc/mirvak.
struct Site : TwoPrograms<Guard> {
    Site() { t.program.policy = t.path("etc/mirvak"); }
    void policy(const QString& name, const QByteArray& text) { t.write("etc/mirvak/" + name, text); }
};

TEST(Policy, SystemRecordsAndUserListsDecideInOrder)
{
    // The tool's record in the system's allow and deny lists and in the user's; policy.ini's user_may_deny, or none;
    // whether the tool ends, whether it is asked about, and where the rule that ended it lies.
    for (const auto& [what, systemAllow, systemDeny, userAllow, userDeny, mayDeny, ended, asked, rule] :
         {std::tuple("system deny over user allow", false, true, true, false, "", true, false, "deny.d/site.csv:1"),
          {"system allow over user deny, may not deny", true, false, false, true, "0", false, false, ""},
          {"user deny over system allow, may deny", true, false, false, true, "1", true, false, "deny.csv"},
          {"user deny over system allow by default", true, false, false, true, "", true, false, "deny.csv"},
          {"system allow alone", true, false, false, false, "1", false, false, ""},
          {"no record at all", false, false, false, false, "", false, true, ""}}) {
        SCOPED_TRACE(what);
        Site s;
        const QByteArray record = Site::record(s.tool) + "\r\n";
        s.policy("allow.d/site.csv", systemAllow ? record : "");
        s.policy("deny.d/site.csv", systemDeny ? record : "");
        if (*mayDeny)
            s.policy("policy.ini", QByteArray("user_may_deny=") + mayDeny + "\r\n");
        s.start(userAllow ? record : "", userDeny ? record : "");
        s.t.app.allowList.add(Site::record(s.other));
        s.t.app.allowTmp.add(Site::record(s.other));
        s.m.time_Timer();
        EXPECT_EQ(std::pair(s.killed(10), s.m.alertUp), std::pair(ended, asked));
        const QByteArrayList rules = s.t.journal.field("MIRVAK_RULE");
        EXPECT_EQ(rules.size(), ended ? 1 : 0);
        EXPECT_TRUE(rules.value(0).contains(rule)) << rules.value(0).constData();
    }
}

// A bad file is skipped whole and the rest guards; once it is mended it counts from the next tick.
TEST(Policy, ABadFileIsSkippedWholeUntilItIsMendedAndTheRestGuards)
{
    Site s;
    s.policy("deny.d/bad.csv", Site::record(s.tool) + "\r\n|/no/name\r\n");
    s.policy("deny.d/good.csv", Site::record(s.other) + "|0\r\n");
    s.policy("policy.ini", "guard_mode=learn\r\n");
    s.start(Site::record(s.tool) + "\r\n", {});
    s.m.time_Timer();
    EXPECT_FALSE(s.killed(10));
    EXPECT_TRUE(s.killed(11));
    const QString log = s.t.read("error.log");
    EXPECT_TRUE(log.contains("deny.d/bad.csv:2: no name; the file is skipped")) << qPrintable(log);
    EXPECT_TRUE(log.contains("policy.ini:1: guard_mode is enforce or monitor")) << qPrintable(log);
    EXPECT_EQ(mdSettings::getSetting(s.t.app, "guard_mode"), "");
    s.policy("deny.d/bad.csv", Site::record(s.tool) + "\r\n");
    s.m.time_Timer();
    EXPECT_TRUE(s.killed(10));
}

TEST(Policy, AnUnknownKeyIsLeftOutAndARefusedValueSkipsTheFile)
{
    // After check_interval=7 on line 1: the next lines, what error.log is told (or nothing), the interval fixed.
    for (const auto& [text, log, interval] :
         {std::tuple("chek_interval=3", "policy.ini:2: chek_interval is no setting of this program; the line is left out", "7"),
          {"Check_Interval=8", "policy.ini:2: check_interval is set twice; the file is skipped", ""},
          {"block_url=ftp://help", "policy.ini:2: block_url begins with https:// or http://; the file is skipped", ""},
          {"block_message=Ask the help desk\r\nguard_mode=Monitor", "", "7"}}) {
        SCOPED_TRACE(text);
        TestBed t;
        t.write("mirvak/policy.ini", QByteArray("check_interval=7\r\n") + text + "\r\n");
        Policy policy;
        QStringList logged;
        policy.refresh(t.files, t.path("mirvak"), [&](const QString& why) { logged << why; });
        EXPECT_EQ(logged, *log ? QStringList(t.path("mirvak/") + log) : QStringList());
        EXPECT_EQ(policy.fixed("check_interval").value_or(""), interval);
    }
}

} // namespace
