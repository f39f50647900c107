// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Files.h"
#include "store/Collection.h"

#include <QHash>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The administrator's rules, read only: allow.d/*.csv and deny.d/*.csv in the
// list files' format, and policy.ini with settings fixed for every user.
class Policy {
public:
    // Reads the folder again when a file in it came, went or changed since
    // the last read; a file with a bad line is skipped whole and `log` is
    // told its name, line and why. True when the rules changed.
    bool refresh(platform::Files& files, const QString& folder, const std::function<void(const QString&)>& log);

    // A fixed setting by key, letter case aside.
    std::optional<QString> fixed(const QString& key) const;
    // The file that fixes the settings.
    QString fixedFrom() const { return fixedFrom_; }
    bool userMayDeny() const { return userMayDeny_; }

    enum class Verdict { None, Allow, Deny };
    struct Decision {
        Verdict verdict = Verdict::None;
        QString rule;   // the file and record that decided; none for the user's allow list
    };
    // What decides about `record` (found as Collection::search finds it with
    // `suffix`) between these rules and the user's lists: a system deny
    // first, then a system allow the user may not deny, the user's allow,
    // the user's deny, and last a system allow.
    Decision decide(const QString& record, const QString& suffix, const Collection& userAllow,
                    const Collection& userDeny) const;

    // Where the verdict on `record` is the system's whatever the user's lists
    // say: a system deny, or a system allow the user may not deny; None
    // where the user decides.
    Decision fixedVerdict(const QString& record, const QString& suffix) const;

    // Which list decides about `record` in decide()'s order, and the
    // record's position there. Inline, so that the exec gate, which is
    // handed the rules and links none of this class, takes the same order.
    enum class From { None, SystemDeny, SystemAllow, UserAllow, UserDeny };
    struct Found {
        From from = From::None;
        int at = 0;
    };
    static Found decider(const Collection& systemAllow, const Collection& systemDeny, bool userMayDeny,
                         const QString& record, const QString& suffix, const Collection& userAllow,
                         const Collection& userDeny)
    {
        if (const int at = systemDeny.count() ? systemDeny.search(record, suffix) : 0)
            return {From::SystemDeny, at};
        const int allowed = systemAllow.count() ? systemAllow.search(record, suffix) : 0;
        if (allowed && !userMayDeny)
            return {From::SystemAllow, allowed};
        // Most processes of a tick end here: no rule is put in words for them.
        if (const int at = userAllow.search(record, suffix))
            return {From::UserAllow, at};
        if (const int at = userDeny.search(record, suffix))
            return {From::UserDeny, at};
        if (allowed)
            return {From::SystemAllow, allowed};
        return {};
    }

    int records() const { return allow_.list.count() + deny_.list.count(); }
    // The system's records of a kind (Allow or Deny), by position from 1, and
    // where each lies as "file:line".
    const Collection& list(Verdict verdict) const { return verdict == Verdict::Allow ? allow_.list : deny_.list; }
    QString origin(Verdict verdict, int position) const;
    // The keys policy.ini fixes, in lower case.
    QStringList fixedKeys() const { return fixed_.keys(); }

private:
    struct Rules {
        Collection list;
        std::vector<QString> origins;   // by position: "file:line"
    };
    QString rule(const Rules& rules, int position) const;

    Rules allow_;
    Rules deny_;
    QHash<QString, QString> fixed_;   // by lower-case key
    QString fixedFrom_;
    bool userMayDeny_ = true;
    std::map<QString, std::optional<platform::FileVersion>> versions_;
    bool read_ = false;
};
