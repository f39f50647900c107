// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

#include <QString>
#include <QTimeZone>

// The list record of an executed file at `level`, as the guard's scan writes
// it for the process that runs the file; `hex` ends it at level 4 when known.
QString execRecord(double level, const QString& name, const platform::ExecFiles::Facts& facts,
                   const QTimeZone& zone, const QString& hex);
// The last component of a path.
QString execName(const QString& path);
