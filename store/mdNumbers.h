// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <QStringView>
#include <optional>

// Numbers as settings.ini and the list files write them.
namespace mdNumbers {

// A setting's text as a number, with "." as the decimal separator and no
// thousands separator. Empty or non-numeric text throws, so a missing setting
// fails at its first numeric use; parseNumber gives nothing instead.
double toNumber(const QString& text);
std::optional<double> parseNumber(QStringView text);
// Number as the settings and records write it: shortest form, "." separator.
QString numText(double value);
// Rounds half to even.
double roundEven(double value);

} // namespace mdNumbers
