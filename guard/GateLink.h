// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "gate/GateClient.h"
#include "store/App.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <optional>

// The guard's link to the exec gate: hands over the settings the gate needs
// and the working lists, every change included, and turns the gate's execs
// into what the guard does about them. Without a gate it tries again now and
// then; the tick guards meanwhile, as it always does.
class GateLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 5000;

    GateLink(App& app, platform::GateSocket& socket);
    // Connects unless connected, at the gate_socket setting's path.
    bool connectGate();
    // Leaves the gate until the next refresh: the gate then lets every exec
    // of this user through, held ones included.
    void disconnectGate();
    // Connected and welcomed: the gate guards this session.
    bool isOn() const { return on_; }
    // "exec gate: on" or "off", for this session; off without a link.
    static QString stateText(const GateLink* link);
    // Sends what changed in the settings and the working lists since last
    // sent; connects at the first call.
    void refresh();

    // The held exec the alert shows now.
    const std::optional<gatewire::Exec>& shown() const { return shown_; }
    // Takes the next held exec for the alert; false when none waits.
    bool showNext();
    // The user's answer to the exec the alert shows; false when it shows none.
    bool answer(bool allow);

    QTimer retry;

signals:
    // On the deny list: its exec was refused.
    void denied(const gatewire::Exec& exec);
    // On neither list and let through: the alert may ask now.
    void unknown(const gatewire::Exec& exec);
    // A held exec waits for the alert.
    void held();
    // The exec the alert shows was answered without the user: at gate_hold
    // (`timedOut`), or because the gate went.
    void shownGone(bool timedOut);
    // A held exec that waited its turn was answered at gate_hold.
    void waitingTimedOut(const gatewire::Exec& exec);
    void stateChanged(bool on);

private:
    void take(const gatewire::Exec& exec);
    void finished(const gatewire::Done& done);
    void lost();
    gatewire::Settings settings() const;
    // A list as last sent: in the working list's order, and sorted.
    struct Sent {
        QStringList order;
        QStringList sorted;
    };
    void putList(gatewire::List list, const Collection& now, Sent& sent);

    App& app_;
    platform::GateSocket& socket_;
    GateClient client_;
    bool on_ = false;
    gatewire::Settings sentSettings_;
    Sent sentAllow_, sentDeny_;
    std::deque<gatewire::Exec> waiting_;
    std::optional<gatewire::Exec> shown_;
};
