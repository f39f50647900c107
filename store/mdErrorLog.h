// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QString>

// error.log, newest entry first, and the reading of a whole text file.
namespace mdErrorLog {
void error_log(App& app, const QString& module, const QString& procedure, const QString& description);
QString getContent(App& app, const QString& name);

} // namespace mdErrorLog
