// SPDX-License-Identifier: GPL-3.0-or-later
// The real gate, as root, each test in a mount and PID namespace of its own
// with a tmpfs that only its gate marks, and a guard of its own user.
#include "GateHarness.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>

using gateharness::Rig;

namespace {

QString record(const QString& path) { return path.section('/', -1) + "|" + path; }

TEST(GateExec, RefusesTheDeniedWithEpermRunsTheAllowedAndNeverHoldsAnotherUsersExec)
{
    GATE_RIG(rig);
    const QString bad = rig.program("bad");
    const QString ok = rig.program("ok");
    ASSERT_TRUE(rig.startGuard({.safe = true, .allow = {record(ok)}, .deny = {record(bad)}}));
    auto other = rig.start(rig.program("others"), gateharness::kOtherUser);
    EXPECT_EQ(Rig::finish(*other).code, 0);
    EXPECT_TRUE(rig.ran("others"));
    auto run = rig.start(bad);
    const Rig::Result result = Rig::finish(*run);
    EXPECT_EQ(result.code, 126);
    EXPECT_TRUE(result.output.contains("Operation not permitted")) << qPrintable(result.output);
    EXPECT_FALSE(rig.ran("bad"));
    // Its user still, when it runs as root in effect, as a set-user-id program would.
    QProcess raised;
    raised.start("setpriv", {QString("--ruid=%1").arg(gateharness::kGuardUser), bad, rig.marker("bad")});
    EXPECT_EQ(Rig::finish(raised).code, 126);
    EXPECT_FALSE(rig.ran("bad"));
    // The guard hears of its own user's exec first: of the other's, nothing.
    EXPECT_TRUE(rig.guardLine("exec").startsWith("exec 1 denied refused bad"));
    auto allowed = rig.start(ok);
    EXPECT_EQ(Rig::finish(*allowed).code, 0);
    EXPECT_TRUE(rig.ran("ok"));
}

TEST(GateExec, TheAdministratorsDenyRecordRefusesAnOrdinaryUserWithNoGuard)
{
    GATE_RIG(rig, {"banned"});
    const QString banned = rig.program("banned");
    // Root and the system accounts are never refused: the desktop runs on them.
    for (const auto& [uid, runs] : {std::pair(gateharness::kGuardUser, false), std::pair(0, true),
                                    std::pair(gateharness::kOtherUser, true)}) {
        QFile::remove(rig.marker("banned"));
        auto run = rig.start(banned, uid);
        const Rig::Result result = Rig::finish(*run);
        EXPECT_EQ(result.code, runs ? 0 : 126) << uid << qPrintable(result.output);
        EXPECT_EQ(rig.ran("banned"), runs) << uid;
    }
}

TEST(GateExec, AnUnknownProgramAtLevelFourIsToldWithTheHashOfWhatRan)
{
    GATE_RIG(rig);
    ASSERT_TRUE(rig.startGuard({.listLevel = 4}));
    const QString known = rig.program("known");
    auto run = rig.start(known);
    EXPECT_EQ(Rig::finish(*run).code, 0);
    QFile file(known);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString hex = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
    const QString line = rig.guardLine("exec");
    EXPECT_TRUE(line.contains(" unknown allowed known known|")) << qPrintable(line);
    EXPECT_TRUE(line.endsWith("|" + known + "|sha256:" + hex)) << qPrintable(line);
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
