// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Files.h"

#include "platform/SysText.h"

#include <QCryptographicHash>
#include <QFile>

namespace platform {

QStringList splitLines(QByteArrayView bytes)
{
    // CR and LF never occur inside a UTF-8 sequence or an escaped byte, so
    // the decoded text splits where the bytes would.
    const QString text = fromSys(bytes);
    QStringList lines;
    const QChar* const data = text.constData();
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i].unicode();
        if (c != u'\r' && c != u'\n')
            continue;
        lines << text.sliced(start, i - start);
        if (c == u'\r' && i + 1 < size && data[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines << text.sliced(start);
    return lines;
}

bool isTempCopyName(QStringView name, QStringView file)
{
    // The file's name, ".", then six ASCII letters (QSaveFile's pattern) that
    // mix both cases: a suffix that people type ("backup") never does.
    if (name.size() != file.size() + 7 || !name.startsWith(file) || name[file.size()] != QLatin1Char('.'))
        return false;
    bool upper = false;
    bool lower = false;
    for (const QChar c : name.sliced(file.size() + 1)) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            upper = true;
        else if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            lower = true;
        else
            return false;
    }
    return upper && lower;
}

QString joinLinesCrlf(const QStringList& lines)
{
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    QString text;
    text.reserve(size);
    for (const QString& line : lines)
        text.append(line).append(u"\r\n");
    return text;
}

std::optional<QByteArray> Files::sha256(qint64, const QString& path, const Facts&, const std::atomic_bool*)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return std::nullopt;
    return hash.result();
}

std::optional<QStringList> Files::readLines(const QString& path)
{
    const auto bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    return splitLines(*bytes);
}

void Files::writeText(const QString& path, const QString& text)
{
    writeBytes(path, toSys(text), true);
}

} // namespace platform
