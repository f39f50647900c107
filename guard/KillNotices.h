// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QHash>
#include <QString>
#include <optional>
#include <vector>

// Notices of the programs the guard ended: at most one per program a minute
// and one every ten seconds in all; what waits meanwhile is summed up in the
// next notice.
class KillNotices {
public:
    static constexpr qint64 kPerProgramMs = 60000;
    static constexpr qint64 kAnyMs = 10000;

    // Notes an ended program, known by its path, or by its name without one;
    // `beforeStart` when its exec was refused, so it never ran.
    void ended(const QString& name, const QString& path, qint64 now, bool beforeStart = false);
    bool waiting() const { return !waiting_.empty(); }
    // The notice to show now; empty text when none is due.
    QString due(qint64 now);
    void clear() { *this = KillNotices(); }

private:
    struct Program {
        QString name;
        QString path;
        bool beforeStart = false;
    };
    std::vector<Program> waiting_;   // each program once, in the order ended
    QHash<QString, qint64> told_;    // program to the time it was last told
    std::optional<qint64> lastNotice_;
};
