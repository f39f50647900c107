// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QDate>
#include <QString>
#include <QTime>

// The fields of a list record, as the scan and the exec gate both write them.
namespace recordText {
// "512b", "1.5K", "12.25M": hundredths of the unit, rounded half to even.
QString size(qint64 bytes);
// "2024.03.07 9:05", in the local time of whoever builds the record.
QString date(QDate date, QTime time);
} // namespace recordText
