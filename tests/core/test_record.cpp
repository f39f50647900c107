// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/Record.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {
const QString kHash = QString(64, QLatin1Char('e'));
const QString kOther = QString(63, QLatin1Char('0')) + QLatin1Char('F');
QString fields(const Record& r) { return QStringList({r.name, r.date, r.size, r.path, r.sha256}).join(u";"); }
} // namespace

TEST(Record, ReadsTheFieldsOfEveryLevelAndWritesTheSameText)
{
    const std::pair<QString, QString> cases[] = {
        {"a", "a;;;;"},
        {"a|2026.12.06 7:35|512b|/usr/bin/a", "a;2026.12.06 7:35;512b;/usr/bin/a;"},
        {"a|2026.12.06 17:35|12.25M|/usr/bin/a|sha256:" + kHash, "a;2026.12.06 17:35;12.25M;/usr/bin/a;" + kHash},
        // A name with a "|" of its own, told by the path that ends with it; without a path nothing tells.
        {"a|b|2026.12.06 7:35|1K|/x/a|b|sha256:" + kHash, "a|b;2026.12.06 7:35;1K;/x/a|b;" + kHash},
        // A path holding "|sha256:", or a date after the path: the fields keep their order.
        {"a|/x/a|sha256:zz|sha256:" + kHash, "a;;;/x/a|sha256:zz;" + kHash},
        {"a|1K|/x/a|sha256:" + kHash + "|sha256:" + kOther, "a;;1K;/x/a|sha256:" + kHash + ";" + kOther},
        {"a|2026.12.6 7:35|1.5G|/a", "a;;;2026.12.6 7:35|1.5G|/a;"},
    };
    for (const auto& [text, expected] : cases) {
        const Record record = Record::parse(text);
        EXPECT_EQ(fields(record), expected) << qPrintable(text);
        EXPECT_EQ(record.text(), text);
        EXPECT_EQ(record.rest(), text.mid(record.name.size() + 1));
    }
}
