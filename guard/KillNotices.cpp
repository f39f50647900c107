// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/KillNotices.h"

#include <QUrl>
#include <algorithm>

namespace {
QString key(const QString& name, const QString& path)
{
    return path.isEmpty() ? name : path;
}
} // namespace

void KillNotices::ended(const QString& name, const QString& path, qint64 now, const QString& sha256, bool beforeStart)
{
    const QString program = key(name, path);
    const auto told = told_.constFind(program);
    if (told != told_.cend() && now - *told < kPerProgramMs)
        return;
    const bool known = std::any_of(waiting_.begin(), waiting_.end(),
                                   [&](const Program& p) { return key(p.name, p.path) == program; });
    if (!known)
        waiting_.push_back({name, path, sha256, beforeStart});
}

QString KillNotices::blockText(const Block& block, const QString& name, const QString& path, const QString& sha256)
{
    const auto fill = [&](QString text, bool encoded) {
        const auto value = [encoded](const QString& fact) {
            return encoded ? QString::fromLatin1(QUrl::toPercentEncoding(fact)) : fact;
        };
        return text.replace(QLatin1String("%name%"), value(name))
            .replace(QLatin1String("%path%"), value(path))
            .replace(QLatin1String("%sha256%"), value(sha256));
    };
    QString text = fill(block.message.trimmed(), false);
    if (!block.url.trimmed().isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + fill(block.url.trimmed(), true);
    return text;
}

QString KillNotices::due(qint64 now, const Block& block)
{
    if (waiting_.empty() || (lastNotice_ && now - *lastNotice_ < kAnyMs))
        return QString();
    const Program first = waiting_.front();
    QString text = (first.beforeStart ? QStringLiteral("Stopped %1") : QStringLiteral("Ended %1")).arg(first.name);
    if (!first.path.isEmpty())
        text += QStringLiteral(" (%1)").arg(first.path);
    if (first.beforeStart)
        text += QStringLiteral(" before it started");
    text += QStringLiteral(": it is on the deny list");
    if (waiting_.size() > 1)
        text += QStringLiteral(", and %1 more").arg(waiting_.size() - 1);
    told_.removeIf([now](const auto& told) { return now - told.value() >= kPerProgramMs; });
    for (const Program& p : waiting_)
        told_.insert(key(p.name, p.path), now);
    waiting_.clear();
    lastNotice_ = now;
    const QString words = blockText(block, first.name, first.path, first.sha256);
    return text + QLatin1Char('.') + (words.isEmpty() ? QString() : QLatin1Char(' ') + words);
}
