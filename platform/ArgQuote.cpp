#include "platform/ArgQuote.h"

namespace platform {

namespace {
bool plain(const QString& arg)
{
    static const QString safe = QStringLiteral("_-+=.,/:@%^");
    if (arg.isEmpty())
        return false;
    for (const QChar c : arg)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && !safe.contains(c))
            return false;
    return true;
}
} // namespace

QString joinArgs(const QStringList& args)
{
    QStringList quoted;
    for (const QString& arg : args) {
        if (plain(arg)) {
            quoted << arg;
        } else {
            QString q = arg;
            q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
            quoted << QLatin1Char('\'') + q + QLatin1Char('\'');
        }
    }
    return quoted.join(QLatin1Char(' '));
}

QStringList splitArgs(const QString& text)
{
    QStringList args;
    QString current;
    bool inArg = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\'')) {
            inArg = true;
            const qsizetype end = text.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype stop = end < 0 ? text.size() : end;
            current += text.mid(i + 1, stop - i - 1);
            i = stop;
        } else if (c == QLatin1Char('"')) {
            inArg = true;
            for (++i; i < text.size() && text[i] != QLatin1Char('"'); ++i) {
                if (text[i] == QLatin1Char('\\') && i + 1 < text.size()
                    && QStringLiteral("\"\\$`").contains(text[i + 1]))
                    ++i;
                current += text[i];
            }
        } else if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            inArg = true;
            current += text[++i];
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inArg)
                args << current;
            current.clear();
            inArg = false;
        } else {
            inArg = true;
            current += c;
        }
    }
    if (inArg)
        args << current;
    return args;
}

} // namespace platform
