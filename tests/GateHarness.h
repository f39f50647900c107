// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real gate on a tmpfs of the test's own, in a mount and PID namespace of
// its own, with a guard run as a user of its own: what the gate's tests and
// benchmark share.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace gateharness {

constexpr int kGuardUser = 4242;
constexpr int kOtherUser = 65534;   // nobody
constexpr int kWaitMs = 20000;

// Outside the namespace: runs `filter` again in one (as root) and tells
// the outcome. Inside (the variable MIRVAK_GATE_NS is set): `inside` is true.
struct Outcome {
    bool inside = false;
    bool passed = false;
    QString skipped;   // why, when it was skipped
    QString output;
};
Outcome runInNamespace(const QStringList& arguments);

class Rig {
public:
    // Mounts the tmpfs and starts the gate on it, with `denied` as the
    // administrator's deny records; `error` tells what failed, and `refused`
    // whether fanotify itself was refused.
    explicit Rig(const QStringList& denied = {});
    ~Rig();
    bool ready() const { return error.isEmpty(); }
    QString error;
    bool refused = false;
    QString dir;      // the marked tmpfs
    QString plain;    // an unmarked tmpfs

    // A copy of touch at DIR/NAME (or in the unmarked tmpfs), which creates
    // the file its argument names.
    QString program(const QString& name, bool marked = true);
    QString marker(const QString& name) const { return dir + QStringLiteral("/") + name + QStringLiteral(".ran"); }

    struct Guard {
        int listLevel = 1;
        bool safe = false;
        QString alertDefault = QStringLiteral("close");
        int gateHold = 30;
        QStringList allow, deny;
    };
    // Starts the guard and waits until the gate has its lists in place.
    bool startGuard(const Guard& guard);
    // The next line the guard prints that begins with `prefix`; empty after 20 s.
    QString guardLine(const QString& prefix);
    void tellGuard(const QString& line);
    qint64 guardPid() const { return guard_ ? guard_->processId() : 0; }
    void stopGuard();
    qint64 gatePid() const { return gate_->processId(); }
    // Waits for the gate to end after a signal.
    bool gateEnded() { return gate_->waitForFinished(kWaitMs); }

    // Runs `program` with a marker for its argument as `uid`.
    std::unique_ptr<QProcess> start(const QString& program, int uid = kGuardUser);
    // Waits for it; its exit code and what it printed.
    struct Result {
        int code = -1;
        QString output;
    };
    static Result finish(QProcess& process);

private:
    QString base_;
    std::unique_ptr<QProcess> gate_, guard_;
    QByteArray guardOutput_;
};

} // namespace gateharness
