// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QString>

// What the guard does, told to the system journal.
namespace events {

enum class Kind { Ended, EndFailed, Decision, FirstStart, WouldEnd, WouldAsk, GuardStart, GuardStop };

struct Event {
    Kind kind = Kind::GuardStart;
    QString name{};
    QString path{};
    QString record{};   // the process's record: its hash, at level 4
    qint64 pid = 0;
    qint64 ppid = -1;   // -1: read when sent, while the process runs
    QString uid{};      // empty: read when sent
    QString rule{};     // the file and record that decided
    QString answer{};   // a decision or a first-start answer
};

// The fixed MESSAGE_ID of each kind, as the catalog lists them.
QByteArray messageId(Kind kind);
// Sends the event unless the journal setting is 0; where no journal runs,
// error.log says so once and the guard goes on.
void send(App& app, const Event& event);
// "enforce" or "monitor".
QString mode(const App& app);
bool monitoring(const App& app);

} // namespace events
