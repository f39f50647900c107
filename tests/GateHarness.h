// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real gate on a tmpfs of the test's own, in a mount and PID namespace of
// its own, with a guard run as a user of its own: what the gate's tests and
// benchmark share.
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <variant>

namespace gateharness {

constexpr int kGuardUser = 4242;
constexpr int kOtherUser = 65534;   // nobody
constexpr int kWaitMs = 20000;

// The messages of one kind among `messages`, in order.
template <class Message, class Messages>
QList<Message> only(const Messages& messages)
{
    QList<Message> out;
    for (const auto& message : messages)
        if (const auto* one = std::get_if<Message>(&message))
            out.append(*one);
    return out;
}

// Outside the namespace: runs `arguments` again in one (as root) and tells
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
    // whether fanotify itself was refused (then a "SKIP: " line tells the
    // run outside why).
    explicit Rig(const QStringList& denied = {});
    ~Rig();
    bool ready() const { return error.isEmpty(); }
    QString error;
    bool refused = false;
    QString dir;      // the marked tmpfs
    QString plain;    // an unmarked tmpfs
    std::unique_ptr<QProcess> gate, guard;

    // A copy of touch at DIR/NAME (or in the unmarked tmpfs), which creates
    // the file its argument names.
    QString program(const QString& name, bool marked = true);
    QString marker(const QString& name) const { return dir + "/" + name + ".ran"; }
    bool ran(const QString& name) const { return QFile::exists(marker(name)); }

    struct Guard {
        int listLevel = 1;
        bool safe = false;
        QString alertDefault = "close";
        int gateHold = 30;
        QStringList allow = {};
        QStringList deny = {};
    };
    // Starts the stand-in guard and waits until the gate has its lists in place.
    bool startGuard(const Guard& settings);
    // Starts the guard's own core, portable in a folder on the unmarked
    // tmpfs, with an allow list of what else runs here.
    bool startRealGuard();
    // The next line the guard prints that begins with `prefix`; empty after kWaitMs.
    QString guardLine(const QString& prefix);

    // Runs `program` with a marker for its argument as `uid`, or with `uid`
    // as its real user and root as its effective one.
    std::unique_ptr<QProcess> start(const QString& program, int uid = kGuardUser, bool rootInEffect = false);
    // Waits for it; its exit code (-1 for none) and what it printed.
    struct Result {
        int code = -1;
        QString output;
    };
    static Result finish(QProcess& process);

private:
    bool launchGuard(const QStringList& arguments);
    QTemporaryDir base_{"/tmp/mirvak-gate-XXXXXX"};
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
    if (rig.refused)                                                         \
        GTEST_SKIP() << qPrintable(rig.error);                               \
    ASSERT_TRUE(rig.ready()) << qPrintable(rig.error)
