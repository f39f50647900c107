// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/Policy.h"

#include "store/mdSettings.h"

#include <algorithm>

namespace {

const QString kIni = QStringLiteral("policy.ini");

// Why a list line is no record, or empty text when it is one.
QString badRecord(const QString& line)
{
    QString record = line;
    // A last numeric field is a count, as in the user's lists.
    if (const auto bar = record.lastIndexOf(QLatin1Char('|')); bar >= 0) {
        bool number = false;
        record.mid(bar + 1).trimmed().toDouble(&number);
        if (number)
            record.truncate(bar);
    }
    if (record.startsWith(QLatin1Char('|')) || record.isEmpty())
        return QStringLiteral("no name");
    if (std::any_of(record.begin(), record.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return QStringLiteral("a control character");
    if (record.split(QLatin1Char('|')).contains(QString()))
        return QStringLiteral("an empty field");
    return QString();
}

// Keys only policy.ini holds.
bool policyKey(const QString& key)
{
    return key == QLatin1String("user_may_deny") || key == QLatin1String("block_message")
        || key == QLatin1String("block_url");
}

// Why a setting line makes the file bad, or empty text; `key` and `value`
// take it. `values` holds the settings of the lines above, for the rules
// that join them; the settings window refuses what this refuses.
QString badSetting(const QString& line, const QHash<QString, QString>& values, QString& key, QString& value)
{
    const auto equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return QStringLiteral("no key=value");
    key = line.left(equals).trimmed().toLower();
    value = line.mid(equals + 1).trimmed();
    if (values.contains(key))
        return key + QStringLiteral(" is set twice");
    if (key == QLatin1String("user_may_deny") && value != QLatin1String("0") && value != QLatin1String("1"))
        return QStringLiteral("user_may_deny is 0 or 1");
    if (key == QLatin1String("block_url") && !value.isEmpty()
        && !value.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)
        && !value.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        return QStringLiteral("block_url begins with https:// or http://");
    if (policyKey(key))
        return QString();
    const QString why = mdSettings::checkSetting(key, value, values);
    return why.isEmpty() ? QString() : key + QStringLiteral(" is ") + why;
}
} // namespace

bool Policy::refresh(platform::Files& files, const QString& folder, const std::function<void(const QString&)>& log)
{
    if (folder.isEmpty())
        return false;
    // Every file that counts, by path, with its version now.
    std::map<QString, std::optional<platform::FileVersion>> now;
    const auto version = [&](const QString& path) -> std::optional<platform::FileVersion> {
        const auto facts = files.look(path, false);
        return facts ? std::optional(facts->version()) : std::nullopt;
    };
    for (const QString& sub : {QStringLiteral("allow.d"), QStringLiteral("deny.d")}) {
        const QString dir = folder + QLatin1Char('/') + sub;
        for (const platform::Files::Entry& entry : files.list(dir))
            if (entry.regular && entry.name.endsWith(QLatin1String(".csv")) && !entry.name.startsWith(QLatin1Char('.')))
                now[dir + QLatin1Char('/') + entry.name] = version(dir + QLatin1Char('/') + entry.name);
    }
    const QString ini = folder + QLatin1Char('/') + kIni;
    if (const auto v = version(ini))
        now[ini] = v;
    if (read_ && now == versions_)
        return false;
    read_ = true;
    versions_ = now;

    Rules allow;
    Rules deny;
    QHash<QString, QString> fixed;
    QString fixedFrom;
    for (const auto& [path, known] : now) {
        const auto lines = files.readLines(path);
        if (!lines) {
            log(path + QStringLiteral(": can't be read; skipped"));
            continue;
        }
        const bool isIni = path == ini;
        QStringList records;
        QHash<QString, QString> settings;
        QString bad;
        for (qsizetype n = 0; n < lines->size() && bad.isEmpty(); ++n) {
            const QString line = lines->at(n).trimmed();
            if (line.isEmpty() || (isIni && (line.startsWith(QLatin1Char('\'')) || line.startsWith(QLatin1Char('#'))
                                             || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('[')))))
                continue;
            QString key;
            QString value;
            const QString why = isIni ? badSetting(line, settings, key, value) : badRecord(line);
            if (!why.isEmpty())
                bad = QStringLiteral("%1:%2: %3; the file is skipped").arg(path).arg(n + 1).arg(why);
            else if (isIni && !policyKey(key) && !mdSettings::knownSetting(key))
                // A key of a later version, or a typing slip: the other lines still hold.
                log(QStringLiteral("%1:%2: %3 is no setting of this program; the line is left out")
                        .arg(path).arg(n + 1).arg(key));
            else if (isIni)
                settings.insert(key, value);
            else
                records << line + QLatin1Char('\n') + QString::number(n + 1);
        }
        if (!bad.isEmpty()) {
            log(bad);
            continue;
        }
        if (isIni) {
            fixed = settings;
            fixedFrom = path;
            continue;
        }
        Rules& rules = path.startsWith(folder + QStringLiteral("/allow.d/")) ? allow : deny;
        for (const QString& entry : records) {
            QString record = entry.section(QLatin1Char('\n'), 0, 0);
            // Counts mean nothing here: the record is what is matched.
            if (const auto bar = record.lastIndexOf(QLatin1Char('|')); bar >= 0) {
                bool number = false;
                record.mid(bar + 1).trimmed().toDouble(&number);
                if (number)
                    record.truncate(bar);
            }
            rules.list.add(record);
            rules.origins.push_back(path + QLatin1Char(':') + entry.section(QLatin1Char('\n'), 1, 1));
        }
    }
    allow_ = std::move(allow);
    deny_ = std::move(deny);
    fixed_ = std::move(fixed);
    fixedFrom_ = std::move(fixedFrom);
    userMayDeny_ = Policy::fixed(QStringLiteral("user_may_deny")).value_or(QStringLiteral("1")) != QLatin1String("0");
    return true;
}

std::optional<QString> Policy::fixed(const QString& key) const
{
    if (fixed_.isEmpty())
        return std::nullopt;
    const auto it = fixed_.constFind(key.toLower());
    if (it == fixed_.constEnd())
        return std::nullopt;
    return *it;
}


QString Policy::rule(const Rules& rules, int position) const
{
    return rules.origins[std::size_t(position - 1)] + QStringLiteral(": ") + rules.list.item(position);
}

QString Policy::origin(Verdict verdict, int position) const
{
    const Rules& rules = verdict == Verdict::Allow ? allow_ : deny_;
    return rules.origins[std::size_t(position - 1)];
}

Policy::Decision Policy::fixedVerdict(const QString& record, const QString& suffix) const
{
    if (const int at = deny_.list.count() ? deny_.list.search(record, suffix) : 0)
        return {Verdict::Deny, rule(deny_, at)};
    if (const int at = allow_.list.count() && !userMayDeny() ? allow_.list.search(record, suffix) : 0)
        return {Verdict::Allow, rule(allow_, at)};
    return {};
}

Policy::Decision Policy::decide(const QString& record, const QString& suffix, const Collection& userAllow,
                                const Collection& userDeny) const
{
    const Found found = decider(allow_.list, deny_.list, userMayDeny_, record, suffix, userAllow, userDeny);
    switch (found.from) {
    case From::SystemDeny:
        return {Verdict::Deny, rule(deny_, found.at)};
    case From::SystemAllow:
        return {Verdict::Allow, rule(allow_, found.at)};
    case From::UserAllow:
        return {Verdict::Allow, {}};
    case From::UserDeny:
        return {Verdict::Deny, QStringLiteral("deny.csv: ") + userDeny.item(found.at)};
    case From::None:
        break;
    }
    return {};
}
