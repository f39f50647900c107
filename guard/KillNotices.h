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
    // `sha256` is its hash where its record holds one; `beforeStart` when its
    // exec was refused, so it never ran.
    void ended(const QString& name, const QString& path, qint64 now, const QString& sha256 = {}, bool beforeStart = false);
    bool waiting() const { return !waiting_.empty(); }
    // The administrator's words about a blocked program, block_message and
    // block_url: %name%, %path% and %sha256% are filled in, URL-encoded in the link.
    struct Block {
        QString message;
        QString url;
    };
    static QString blockText(const Block& block, const QString& name, const QString& path, const QString& sha256);
    // The notice to show now, with `block` about its first program; empty
    // text when none is due.
    QString due(qint64 now, const Block& block = {});
    void clear() { *this = KillNotices(); }

private:
    struct Program {
        QString name;
        QString path;
        QString sha256;
        bool beforeStart = false;
    };
    std::vector<Program> waiting_;   // each program once, in the order ended
    QHash<QString, qint64> told_;    // program to the time it was last told
    std::optional<qint64> lastNotice_;
};
