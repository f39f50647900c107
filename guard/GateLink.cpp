// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GateLink.h"

#include "guard/Events.h"
#include "store/mdFailures.h"
#include "store/mdNumbers.h"
#include "store/mdSettings.h"

#include <QTimeZone>
#include <algorithm>
#include <iterator>

using namespace mdFailures;
using namespace mdNumbers;
using namespace mdSettings;
using gatewire::List;

namespace {

QString setting(const App& app, const char* key, const QString& absent)
{
    const QString value = getSetting(app, QString::fromLatin1(key)).trimmed();
    return value.isEmpty() ? absent : value;
}

QStringList sorted(const Collection& list)
{
    QStringList records(list.begin(), list.end());
    records.sort();
    return records;
}

// What is in `a` and not in `b`, each record as often as it is there more.
QStringList minus(const QStringList& a, const QStringList& b)
{
    QStringList out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

} // namespace

GateLink::GateLink(App& app, platform::GateSocket& socket) : app_(app), socket_(socket), client_(socket)
{
    // On once the lists the guard handed over are in place.
    connect(&client_, &GateClient::synced, this, [this] {
        on_ = true;
        emit stateChanged(true);
    });
    connect(&client_, &GateClient::exec, this, &GateLink::take);
    connect(&client_, &GateClient::done, this, &GateLink::finished);
    connect(&client_, &GateClient::closed, this, &GateLink::lost);
    retry.setInterval(kRetryMs);
    connect(&retry, &QTimer::timeout, this, &GateLink::connectGate);
}

QString GateLink::stateText(const GateLink* link)
{
    return link && link->isOn() ? QStringLiteral("exec gate: on") : QStringLiteral("exec gate: off");
}

gatewire::Settings GateLink::settings() const
{
    gatewire::Settings s;
    s.listLevel = numSetting(app_, QStringLiteral("list_level"));
    s.safeLevel = mdSettings::isOn(app_, QStringLiteral("safe_level"));
    const QString byDefault = alertDefault(app_);
    s.alertDefault = byDefault == QLatin1String("allow_now") ? gatewire::AlertDefault::AllowNow
        : byDefault == QLatin1String("deny_now")             ? gatewire::AlertDefault::DenyNow
                                                             : gatewire::AlertDefault::Close;
    const double hold = parseNumber(setting(app_, "gate_hold", QStringLiteral("30"))).value_or(30);
    s.gateHold = quint32(std::clamp(hold, 1.0, 86400.0));
    s.timeZone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    return s;
}

bool GateLink::connectGate()
{
    if (socket_.isOpen())
        return true;
    bool opened = false;
    guarded(app_, "GateLink", "connectGate", [&] {
        const gatewire::Settings now = settings();
        if (!client_.open(setting(app_, "gate_socket", QStringLiteral("/run/mirvak/gate.sock")), now))
            return;
        sentSettings_ = now;
        sentAllow_ = {QStringList(app_.allowTmp.begin(), app_.allowTmp.end()), sorted(app_.allowTmp)};
        sentDeny_ = {QStringList(app_.denyTmp.begin(), app_.denyTmp.end()), sorted(app_.denyTmp)};
        opened = client_.replace(List::Allow, sentAllow_.sorted) && client_.replace(List::Deny, sentDeny_.sorted)
            && client_.sync(1);
    });
    if (!opened) {
        socket_.close();
        retry.start();
        return false;
    }
    retry.stop();
    return true;
}

void GateLink::refresh()
{
    // Monitor mode refuses nothing, so the gate must not either.
    if (events::monitoring(app_)) {
        disconnectGate();
        return;
    }
    // The first tick connects; after that the retry timer does.
    if (!socket_.isOpen()) {
        if (!retry.isActive())
            connectGate();
        return;
    }
    guarded(app_, "GateLink", "refresh", [&] {
        const gatewire::Settings now = settings();
        if (gatewire::encode(now) != gatewire::encode(sentSettings_) && client_.setSettings(now))
            sentSettings_ = now;
        putList(List::Allow, app_.allowTmp, sentAllow_);
        putList(List::Deny, app_.denyTmp, sentDeny_);
    });
}

void GateLink::putList(List list, const Collection& now, Sent& sent)
{
    // Most ticks change nothing: the common case costs one pass, no sort.
    if (std::equal(now.begin(), now.end(), sent.order.begin(), sent.order.end()))
        return;
    const QStringList records = sorted(now);
    const QStringList gone = minus(sent.sorted, records);
    const QStringList added = minus(records, sent.sorted);
    if ((gone.isEmpty() || client_.change(list, false, gone)) && (added.isEmpty() || client_.change(list, true, added)))
        sent = {QStringList(now.begin(), now.end()), records};
}

void GateLink::take(const gatewire::Exec& exec)
{
    switch (exec.verdict) {
    case gatewire::Verdict::Denied:
        emit denied(exec);
        break;
    case gatewire::Verdict::Unknown:
        emit unknown(exec);
        break;
    case gatewire::Verdict::Held:
        waiting_.push_back(exec);
        emit held();
        break;
    }
}

bool GateLink::showNext()
{
    if (shown_ || waiting_.empty())
        return false;
    shown_ = waiting_.front();
    waiting_.pop_front();
    return true;
}

bool GateLink::answer(bool allow)
{
    if (!shown_)
        return false;
    client_.answer(shown_->id, allow);
    shown_.reset();
    return true;
}

void GateLink::finished(const gatewire::Done& done)
{
    const auto it = std::find_if(waiting_.begin(), waiting_.end(),
                                 [&done](const gatewire::Exec& exec) { return exec.id == done.id; });
    if (it != waiting_.end()) {
        const gatewire::Exec exec = *it;
        waiting_.erase(it);
        if (done.reason == gatewire::Reason::Timeout)
            emit waitingTimedOut(exec);
        return;
    }
    if (shown_ && shown_->id == done.id) {
        shown_.reset();
        emit shownGone(done.reason == gatewire::Reason::Timeout);
    }
}

void GateLink::lost()
{
    // The gate lets each held exec start once its guard is gone.
    waiting_.clear();
    const bool wasShown = shown_.has_value();
    shown_.reset();
    on_ = false;
    socket_.close();
    retry.start();
    emit stateChanged(false);
    if (wasShown)
        emit shownGone(false);
}

void GateLink::disconnectGate()
{
    if (socket_.isOpen())
        lost();
    retry.stop();
}
