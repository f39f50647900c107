// SPDX-License-Identifier: GPL-3.0-or-later
// The real gate, as root, each test in a mount and PID namespace of its own
// with a tmpfs that only its gate marks, and a guard of its own user.
#include "GateHarness.h"

#include <QCoreApplication>
#include <QFile>
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
    // never root's or a system account's exec: the desktop runs on them.
    const std::tuple<QString, int, bool> cases[] = {
        {rig.program("others"), gateharness::kOtherUser, true}, {bad, gateharness::kGuardUser, false},
        {ok, gateharness::kGuardUser, true},                    {banned, gateharness::kGuardUser, false},
        {banned, 0, true},                                      {banned, gateharness::kOtherUser, true},
    };
    for (const auto& [program, uid, runs] : cases) {
        const QString name = program.section('/', -1);
        QFile::remove(rig.marker(name));
        auto run = rig.start(program, uid);
        const Rig::Result result = Rig::finish(*run);
        EXPECT_EQ(result.code, runs ? 0 : 126) << uid << qPrintable(result.output);
        EXPECT_EQ(result.output.contains("Operation not permitted"), !runs) << qPrintable(result.output);
        EXPECT_EQ(rig.ran(name), runs) << qPrintable(name) << uid;
    }
    // Its user still, when it runs as root in effect, as a set-user-id program would.
    QProcess raised;
    raised.start("setpriv", {QString("--ruid=%1").arg(gateharness::kGuardUser), bad, rig.marker("bad")});
    EXPECT_EQ(Rig::finish(raised).code, 126);
    EXPECT_FALSE(rig.ran("bad"));
    // The guard hears of its own user's exec first: of the other's, nothing.
    EXPECT_TRUE(rig.guardLine("exec").startsWith("exec 1 denied refused bad"));
}

TEST(GateExec, AStoppedGuardsHeldExecIsAnsweredAtGateHoldByAlertDefault)
{
    GATE_RIG(rig);
    for (const QString name : {"allow_now", "close"}) {
        ASSERT_TRUE(rig.startGuard({.safe = true, .alertDefault = name, .gateHold = 1}));
        auto run = rig.start(rig.program(name));
        ASSERT_TRUE(rig.guardLine("exec").contains(" held "));
        ::kill(pid_t(rig.guardPid()), SIGSTOP);
        EXPECT_EQ(Rig::finish(*run).code, name == "close" ? 126 : 0);
        EXPECT_EQ(rig.ran(name), name != "close");
        ::kill(pid_t(rig.guardPid()), SIGCONT);
        rig.stopGuard();
    }
}

class GateEnd : public ::testing::TestWithParam<int> {};

TEST_P(GateEnd, LeavesNoExecWaiting)
{
    GATE_RIG(rig);
    ASSERT_TRUE(rig.startGuard({.safe = true}));
    auto run = rig.start(rig.program("waiting"));
    ASSERT_TRUE(rig.guardLine("exec").contains(" held "));
    ::kill(pid_t(rig.gatePid()), GetParam());
    EXPECT_EQ(Rig::finish(*run).code, 0);
    EXPECT_TRUE(rig.ran("waiting"));
    EXPECT_TRUE(rig.gateEnded());
    if (GetParam() == SIGTERM) {
        EXPECT_TRUE(rig.guardLine("done").endsWith(" allowed 3"));
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, GateEnd, ::testing::Values(SIGTERM, SIGKILL));

} // namespace
