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
    bool userMayDeny() const;

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

    int records() const { return allow_.list.count() + deny_.list.count(); }

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
    std::map<QString, std::optional<platform::FileVersion>> versions_;
    bool read_ = false;
};
