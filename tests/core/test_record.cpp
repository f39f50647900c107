// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/Record.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {
const QString kHash = QString(64, QLatin1Char('e'));
const QString kOther = QString(63, QLatin1Char('0')) + QLatin1Char('F');
QString fields(const Record& r)
{
    return QStringList({r.name, r.date, r.size, r.path, r.sha256}).join(u";");
}
} // namespace

TEST(Record, ReadsTheFieldsOfEveryLevelAndWritesTheSameText)
{
    const std::pair<QString, QString> cases[] = {
        {"a", "a;;;;"},
        {"a|/usr/bin/a", "a;;;/usr/bin/a;"},
        {"a|1.5K|/usr/bin/a", "a;;1.5K;/usr/bin/a;"},
        {"a|2026.12.06 7:35|512b|/usr/bin/a", "a;2026.12.06 7:35;512b;/usr/bin/a;"},
        {"a|2026.12.06 17:35|12.25M|/usr/bin/a|sha256:" + kHash, "a;2026.12.06 17:35;12.25M;/usr/bin/a;" + kHash},
        {"NOTEPAD.EXE|C:\\WINDOWS\\notepad.exe", "NOTEPAD.EXE;;;C:\\WINDOWS\\notepad.exe;"},
        // A name with a "|" of its own, told by the path that ends with it; without a path nothing tells.
        {"a|b|2026.12.06 7:35|1K|/x/a|b|sha256:" + kHash, "a|b;2026.12.06 7:35;1K;/x/a|b;" + kHash},
        {"a|b", "a;;;b;"},
        // A path holding "|sha256:", or a date after the path: the fields keep their order.
        {"a|/x/a|sha256:zz|sha256:" + kHash, "a;;;/x/a|sha256:zz;" + kHash},
        {"a|1K|/x/a|sha256:" + kHash + "|sha256:" + kOther, "a;;1K;/x/a|sha256:" + kHash + ";" + kOther},
        {"a|/x/a|sha256:ab", "a;;;/x/a|sha256:ab;"},
        {"a|/x|2026.12.06 7:35", "a;;;/x|2026.12.06 7:35;"},
        {"a|2026.12.6 7:35|1.5G|/a", "a;;;2026.12.6 7:35|1.5G|/a;"},
    };
    for (const auto& [text, expected] : cases) {
        const Record record = Record::parse(text);
        EXPECT_EQ(fields(record), expected) << qPrintable(text);
        EXPECT_EQ(record.text(), text);
        EXPECT_EQ(record.rest(), text.mid(record.name.size() + 1));
    }
}

TEST(Record, ReadsACountOnlyFromANumberAfterTheLastBar)
{
    const std::tuple<QString, QString, std::optional<double>, QString> cases[] = {
        {"a|1K|/x/a|12", "/x/a", 12, "a|1K|/x/a|12"},
        {"a|/x/a|sha256:" + kHash + "|-3", "/x/a", -3, "a|/x/a|sha256:" + kHash + "|-3"},
        {"a|/x/a| 1.5e1", "/x/a", 15, "a|/x/a|15"},
        {"a|/x/a|-0", "/x/a", 0, "a|/x/a|0"},
        {"a|/x/a|12x", "/x/a|12x", std::nullopt, "a|/x/a|12x"},
        {"a|/x/a|1,5", "/x/a|1,5", std::nullopt, "a|/x/a|1,5"},
        {"7", "", std::nullopt, "7"},
    };
    for (const auto& [line, path, count, written] : cases) {
        const Record record = Record::parseLine(line);
        EXPECT_EQ(record.path, path) << qPrintable(line);
        EXPECT_EQ(record.count, count) << qPrintable(line);
        EXPECT_EQ(record.line(), written);
    }
}
