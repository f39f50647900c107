// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SysText.h"

#include <QUtf8StringView>

namespace platform {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at `p`, or 0 when the byte there does
// not begin one (overlong forms, surrogates and values above U+10FFFF are
// not valid).
int sequenceLength(const unsigned char* p, const unsigned char* end)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    const auto left = end - p;
    if (c >= 0xC2 && c <= 0xDF)
        return left >= 2 && continuation(p[1]) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !continuation(p[1]) || !continuation(p[2]))
            return 0;
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !continuation(p[1]) || !continuation(p[2]) || !continuation(p[3]))
            return 0;
        if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))
            return 0;
        return 4;
    }
    return 0;
}

} // namespace

QString fromSys(QByteArrayView bytes)
{
    if (QUtf8StringView(bytes.data(), bytes.size()).isValidUtf8())
        return QString::fromUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const auto* run = p;
        int n;
        while (p < end && (n = sequenceLength(p, end)) > 0)
            p += n;
        text += QString::fromUtf8(reinterpret_cast<const char*>(run), p - run);
        if (p < end)
            text += QChar(char16_t(kEscapeBase + *p++));
    }
    return text;
}

QByteArray toSys(QStringView text)
{
    const auto escaped = [](QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; };
    qsizetype at = 0;
    while (at < text.size() && !(escaped(text[at]) && (at == 0 || !text[at - 1].isHighSurrogate())))
        ++at;
    if (at == text.size())
        return text.toUtf8();
    QByteArray bytes;
    bytes.reserve(text.size() + 8);
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (escaped(text[i]) && (i == 0 || !text[i - 1].isHighSurrogate())) {
            bytes += text.mid(run, i - run).toUtf8();
            bytes += char(text[i].unicode() - kEscapeBase);
            run = i + 1;
        }
    }
    bytes += text.mid(run).toUtf8();
    return bytes;
}

} // namespace platform
