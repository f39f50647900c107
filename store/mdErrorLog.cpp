// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/mdErrorLog.h"

#include "platform/SysText.h"
#include "store/mdFailures.h"
#include "store/mdSettings.h"

#include <cstring>

namespace mdErrorLog {

namespace {
// Lines joined by CRLF, leading empty lines left out.
QString joinContent(const QStringList& lines)
{
    qsizetype first = 0;
    while (first < lines.size() && lines[first].isEmpty())
        ++first;
    return lines.sliced(first).join(QStringLiteral("\r\n"));
}

// True when `bytes` read as lines and joined again by joinContent, plus a
// final CRLF, give the very same bytes: every line ends in CRLF, no CR or LF
// stands alone and the first line holds text. One pass without a line list.
bool canonical(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.startsWith('\r') || bytes.startsWith('\n') || !bytes.endsWith("\r\n"))
        return false;
    const char* const data = bytes.constData();
    const qsizetype size = bytes.size();
    for (qsizetype at = 0; at < size;) {
        const char* cr = static_cast<const char*>(std::memchr(data + at, '\r', size_t(size - at)));
        const char* lf = static_cast<const char*>(std::memchr(data + at, '\n', size_t(size - at)));
        if (!cr || !lf || lf != cr + 1)
            return false;   // a bare LF before the next CR, or a CR without its LF
        at = lf - data + 1;
        if (at == size)
            return true;
    }
    return true;
}
} // namespace

QString getContent(App& app, const QString& name)
{
    QString text;
    mdFailures::guarded(app, "mdSettings", "getContent", [&] {
        const auto lines = app.sys.files.readLines(app.file(name));
        if (!lines)
            return;
        text = joinContent(*lines);
    });
    return text;
}

void error_log(App& app, const QString& module, const QString& procedure, const QString& description)
{
    try {
        if (!mdSettings::isOn(app, QStringLiteral("error_log")))
            return;
        // Reads directly, not through getContent: a failure here must not log.
        const QString path = app.file(QStringLiteral("error.log"));
        QByteArray old = app.sys.files.readBytes(path).value_or(QByteArray());
        // A file the log wrote itself is already its lines joined plus a line
        // end, so its bytes go on unread; only a hand-edited one is redone.
        if (!canonical(old) && !old.isEmpty())
            old = platform::toSys(joinContent(platform::splitLines(old))) + "\r\n";
        else if (old.isEmpty())
            old = "\r\n";
        QString entry = description;
        entry.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        // Not synced: a lost last entry costs less than a stall at every failure.
        app.sys.files.writeBytes(path, platform::toSys(module + QLatin1Char('.') + procedure + QStringLiteral(": ")
                                                       + entry + QStringLiteral("\r\n")) + old, false);
    } catch (...) {
        // The log never reports its own failures; the old file stays whole.
    }
}

} // namespace mdErrorLog
