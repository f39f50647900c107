// SPDX-License-Identifier: GPL-3.0-or-later
// The real gate, as root, each test in a mount and PID namespace of its own
// with a tmpfs that only its gate marks, and a guard of its own user.
#include "GateHarness.h"

#include <QCoreApplication>
#include <csignal>
#include <gtest/gtest.h>

using gateharness::Rig;

namespace {

QString record(const QString& path) { return path.section('/', -1) + "|" + path; }

TEST(GateExec, RefusesTheDeniedWithEpermAndNeverHoldsAnotherUsersExec)
{
    GATE_RIG(rig, {"banned"});
    const QString bad = rig.program("bad");
    const QString ok = rig.program("ok");
    const QString banned = rig.program("banned");
    ASSERT_TRUE(rig.startGuard({.safe = true, .allow = {record(ok), record(banned)}, .deny = {record(bad)}}));
    // The administrator's record refuses over the user's allow list, and
    // never root's or a system account's exec: the desktop runs on them. Of
    // a program that runs as root in effect, as a set-user-id one does, the
    // real user decides.
    const std::tuple<QString, int, bool, bool> cases[] = {
        {rig.program("others"), gateharness::kOtherUser, true, false}, {bad, gateharness::kGuardUser, false, false},
        {ok, gateharness::kGuardUser, true, false},                    {banned, gateharness::kGuardUser, false, false},
        {banned, 0, true, false},                                      {banned, gateharness::kOtherUser, true, false},
        {bad, gateharness::kGuardUser, false, true},
    };
    for (const auto& [program, uid, runs, rootInEffect] : cases) {
        const QString name = program.section('/', -1);
        QFile::remove(rig.marker(name));
        auto run = rig.start(program, uid, rootInEffect);
        const Rig::Result result = Rig::finish(*run);
        EXPECT_EQ(result.code, runs ? 0 : 126) << uid << qPrintable(result.output);
        EXPECT_EQ(result.output.contains("Operation not permitted"), !runs) << qPrintable(result.output);
        EXPECT_EQ(rig.ran(name), runs) << qPrintable(name) << uid;
    }
    // The guard hears of its own user's exec first: of the other's, nothing.
    EXPECT_TRUE(rig.guardLine("exec").startsWith("exec 1 denied refused bad"));
}

// A held exec that nobody answers: a stopped guard's at gate_hold by its
// alert_default, and each one at once when the gate ends, by SIGTERM or SIGKILL.
struct Unanswered {
    const char* what;
    const char* alertDefault;
    int signal;   // to the gate; 0: the guard is stopped instead
    int code;
};

void PrintTo(const Unanswered& row, std::ostream* out) { *out << row.what; }

class GateHeld : public ::testing::TestWithParam<Unanswered> {};

TEST_P(GateHeld, IsAnsweredWithoutTheUser)
{
    GATE_RIG(rig);
    const auto [what, byDefault, signal, code] = GetParam();
    ASSERT_TRUE(rig.startGuard({.safe = true, .alertDefault = byDefault, .gateHold = signal ? 30 : 1}));
    auto run = rig.start(rig.program("waiting"));
    ASSERT_TRUE(rig.guardLine("exec").contains(" held "));
    ::kill(pid_t(signal ? rig.gate->processId() : rig.guard->processId()), signal ? signal : SIGSTOP);
    EXPECT_EQ(Rig::finish(*run).code, code);
    EXPECT_EQ(rig.ran("waiting"), code == 0);
    EXPECT_TRUE(!signal || rig.gate->waitForFinished(gateharness::kWaitMs));
    EXPECT_TRUE(signal != SIGTERM || rig.guardLine("done").endsWith(" allowed 3"));
}

INSTANTIATE_TEST_SUITE_P(Rows, GateHeld,
                         ::testing::Values(Unanswered{"StoppedGuardAllowNow", "allow_now", 0, 0},
                                           Unanswered{"StoppedGuardClose", "close", 0, 126},
                                           Unanswered{"GateGetsSigterm", "close", SIGTERM, 0},
                                           Unanswered{"GateGetsSigkill", "close", SIGKILL, 0}));

} // namespace
