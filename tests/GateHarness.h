// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real gate on a tmpfs of the test's own, in a mount and PID namespace of
// its own, with a guard run as a user of its own: what the gate's tests and
// benchmark share.
#include <QProcess>
#include <QStringList>
#include <memory>

namespace gateharness {

constexpr int kGuardUser = 4242;
constexpr int kOtherUser = 65534;   // nobody
constexpr int kWaitMs = 20000;

// Outside the namespace: runs `arguments` again in one (as root) and tells
// the outcome. Inside (the variable MIRVAK_GATE_NS is set): `inside` is true.
struct Outcome {
    bool inside = false;
    bool passed = false;
    QString skipped;   // why, when it was skipped
    QString output;
};
Outcome runInNamespace(const QStringList& arguments);

// The next line `process` prints that begins with `prefix`; empty after kWaitMs.
QString nextLine(QProcess* process, QByteArray& buffer, const QString& prefix);

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
    QString marker(const QString& name) const { return dir + "/" + name + ".ran"; }
    bool ran(const QString& name) const;

    struct Guard {
        int listLevel = 1;
        bool safe = false;
        QString alertDefault = "close";
        int gateHold = 30;
        QStringList allow = {};
        QStringList deny = {};
    };
    // Starts the stand-in guard and waits until the gate has its lists in place.
    bool startGuard(const Guard& guard);
    // Starts the guard's own core, portable in a folder on the unmarked
    // tmpfs, with an allow list of what else runs here.
    bool startRealGuard();
    QString guardLine(const QString& prefix) { return nextLine(guard_.get(), guardOutput_, prefix); }
    void tellGuard(const QString& line);
    qint64 guardPid() const { return guard_ ? guard_->processId() : 0; }
    void stopGuard();
    qint64 gatePid() const { return gate_->processId(); }
    bool gateEnded() { return gate_->waitForFinished(kWaitMs); }

    // Runs `program` with a marker for its argument as `uid`.
    std::unique_ptr<QProcess> start(const QString& program, int uid = kGuardUser);
    // Waits for it; its exit code (-1 for none) and what it printed.
    struct Result {
        int code = -1;
        QString output;
    };
    static Result finish(QProcess& process);

private:
    bool launchGuard(const QStringList& arguments, const QProcessEnvironment& env);
    QString base_;
    std::unique_ptr<QProcess> gate_, guard_;
    QByteArray guardOutput_;
};

} // namespace gateharness

// Runs the test again in a namespace of its own, and there goes on with a
// gate `rig`, made of the arguments that follow.
#define GATE_RIG(rig, ...)                                                   \
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info(); \
    const auto outcome = gateharness::runInNamespace(                        \
        {QCoreApplication::applicationFilePath(),                            \
         QString("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())}); \
    if (!outcome.skipped.isEmpty())                                          \
        GTEST_SKIP() << qPrintable(outcome.skipped);                         \
    if (!outcome.inside) {                                                   \
        EXPECT_TRUE(outcome.passed) << qPrintable(outcome.output);           \
        return;                                                              \
    }                                                                        \
    gateharness::Rig rig{__VA_ARGS__};                                       \
    if (rig.refused) {                                                       \
        std::printf("SKIP: %s\n", qPrintable(rig.error));                    \
        GTEST_SKIP() << qPrintable(rig.error);                               \
    }                                                                        \
    ASSERT_TRUE(rig.ready()) << qPrintable(rig.error)
