// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "store/mdSettings.h"

using namespace mdSettings;

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

TEST(Settings, EachRuleRefusesBadValuesWithItsReason)
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
}
