// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "gate/Wire.h"
#include "platform/Gate.h"
#include "store/Collection.h"
#include "store/Policy.h"

#include <QHash>
#include <QObject>
#include <QThreadPool>
#include <QTimeZone>
#include <QTimer>
#include <functional>
#include <map>

// Decides the execs of the users whose guard is connected, by that guard's
// lists and settings; allows every other exec at once. Lives on one thread:
// only the hashes of new file versions are read beside it.
class Gate : public QObject {
    Q_OBJECT
public:
    struct Services {
        platform::ExecEvents& events;
        platform::ExecFiles& files;
        platform::ExecProcesses& processes;
        platform::GatePeers& peers;
    };
    static constexpr int kMaxHeld = 32;
    static constexpr qint64 kSeenMs = 500;
    static constexpr qsizetype kMaxRecords = 1000000;   // per list
    // Ordinary users, as Debian numbers them: below are root and the system
    // services, above the nobody and dynamic service accounts.
    static constexpr qint64 kFirstUser = 1000;
    static constexpr qint64 kLastUser = 60000;

    Gate(Services services, qint64 ownPid, std::function<qint64()> clockMs);
    ~Gate() override;

    void exec(const platform::ExecEvent& event);
    void connected(int peer, qint64 uid, qint64 pid);
    // A malformed message closes the peer's connection.
    void received(int peer, const QByteArray& message);
    void disconnected(int peer);
    // Answers the held execs whose time is up.
    void expire();
    // The administrator's records. Each deny record refuses the exec of any
    // ordinary user whose record at the record's own level it is; the allow
    // records decide, at a connected guard's list_level, as in its tick.
    void setPolicy(Collection allowed, Collection denied, bool userMayDeny);
    // Answers every exec that waits, and from now on allows each at once.
    void stop();

    int held() const { return int(held_.size()); }
    int hashing() const;
    // Starts a hash beside the gate's thread.
    std::function<void(std::function<void()>)> run;

private:
    struct Guard {
        int peer = -1;
        qint64 uid = -1;
        qint64 pid = 0;
        quint64 order = 0;
        bool hello = false;
        bool set = false;            // settings received
        bool responsive = true;      // saw the last held exec in time
        gatewire::Settings settings;
        QTimeZone zone;
        Collection lists[2];
        std::optional<Collection> staged[2];
    };
    struct Exec {
        platform::ExecEvent event;
        qint64 uid = -1;
        platform::ExecFiles::Facts facts;
        QString name;
        QString record;
    };
    struct Held {
        Exec exec;
        int peer = -1;
        bool seen = false;
        qint64 seenBy = 0;
        qint64 holdUntil = 0;
        bool byDefault = false;   // the answer at holdUntil
    };

    Guard* guardOf(qint64 uid);
    bool policed(qint64 uid) const;
    // The administrator's record that refuses `exec`; empty when none does.
    QString deniedRecord(const Exec& exec, const QTimeZone& zone, const QString& hex) const;
    void decide(Exec exec, const QString& hex);
    void hashed(const platform::FileVersion& version, const std::optional<QByteArray>& digest);
    bool inFamily(qint64 pid, qint64 ancestor);
    bool ownChild(qint64 pid);
    platform::ExecFiles::Kind kindOf(int fd, const platform::FileVersion& version);
    void hold(Exec exec, Guard& guard, int peer);
    void tell(int peer, const gatewire::GateMessage& message, bool droppable);
    void drop(int peer);
    void arm();
    static bool byDefault(const gatewire::Settings& settings);

    Services sys_;
    qint64 ownPid_;
    std::function<qint64()> clock_;
    QHash<int, Guard> guards_;
    quint64 nextOrder_ = 0;
    quint64 nextId_ = 0;
    std::map<quint64, Held> held_;
    QHash<platform::FileVersion, QString> digests_;   // lower-case hex; empty when unreadable
    QHash<platform::FileVersion, QList<Exec>> hashing_;
    QHash<platform::FileVersion, platform::ExecFiles::Kind> kinds_;
    Collection allowed_;
    Collection denied_;
    bool userMayDeny_ = true;
    bool deniedHashed_ = false;   // a record of level 4 among them
    QTimeZone systemZone_ = QTimeZone::systemTimeZone();
    QTimer timer_;
    QThreadPool pool_;
    bool stopping_ = false;
};
