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

QStringList thisTest()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return {QCoreApplication::applicationFilePath(),
            QStringLiteral("--gtest_filter=%1.%2").arg(QString::fromLatin1(info->test_suite_name()),
                                                      QString::fromLatin1(info->name()))};
}

// Runs the test again in a namespace of its own, and there goes on with a gate.
#define GATE_RIG(rig)                                                                  \
    const auto outcome = gateharness::runInNamespace(thisTest());                      \
    if (!outcome.skipped.isEmpty()) {                                                  \
        GTEST_SKIP() << qPrintable(outcome.skipped);                                   \
    }                                                                                  \
    if (!outcome.inside) {                                                             \
        EXPECT_TRUE(outcome.passed) << qPrintable(outcome.output);                     \
        return;                                                                        \
    }                                                                                  \
    Rig rig;                                                                           \
    if (rig.refused) {                                                                 \
        std::printf("SKIP: %s\n", qPrintable(rig.error));                              \
        GTEST_SKIP() << qPrintable(rig.error);                                         \
    }                                                                                  \
    ASSERT_TRUE(rig.ready()) << qPrintable(rig.error)

QString record(const QString& path) { return path.section(QLatin1Char('/'), -1) + QLatin1Char('|') + path; }

bool ran(const Rig& rig, const QString& name) { return QFile::exists(rig.marker(name)); }

// The id in "exec ID held ...".
QString idOf(const QString& line) { return line.section(QLatin1Char(' '), 1, 1); }

TEST(GateExec, ADeniedProgramFailsWithEpermAndNeverRunsAndAnotherUsersExecIsNeverHeld)
{
    GATE_RIG(rig);
    const QString bad = rig.program(QStringLiteral("bad"));
    Rig::Guard guard;
    guard.safe = true;
    guard.deny = {record(bad)};
    ASSERT_TRUE(rig.startGuard(guard));
    auto other = rig.start(rig.program(QStringLiteral("others")), gateharness::kOtherUser);
    EXPECT_EQ(Rig::finish(*other).code, 0);
    EXPECT_TRUE(ran(rig, QStringLiteral("others")));
    auto run = rig.start(bad);
    const Rig::Result result = Rig::finish(*run);
    EXPECT_EQ(result.code, 126);
    EXPECT_TRUE(result.output.contains(QLatin1String("Operation not permitted"))) << qPrintable(result.output);
    EXPECT_FALSE(ran(rig, QStringLiteral("bad")));
    // The guard hears of its own user's exec first: of the other's, nothing.
    EXPECT_TRUE(rig.guardLine(QStringLiteral("exec")).startsWith(QLatin1String("exec 1 denied refused bad")));
}

TEST(GateExec, AnAllowedProgramRunsAndAnUnknownOneAtLevelFourIsToldWithTheHashOfWhatRan)
{
    GATE_RIG(rig);
    const QString ok = rig.program(QStringLiteral("ok"));
    const QString unknown = rig.program(QStringLiteral("unknown"));
    Rig::Guard guard;
    guard.safe = true;
    guard.allow = {record(ok)};
    ASSERT_TRUE(rig.startGuard(guard));
    auto run = rig.start(ok);
    EXPECT_EQ(Rig::finish(*run).code, 0);
    EXPECT_TRUE(ran(rig, QStringLiteral("ok")));

    Rig level4;
    Rig::Guard told;
    told.listLevel = 4;
    ASSERT_TRUE(level4.startGuard(told));
    const QString known = level4.program(QStringLiteral("known"));
    auto second = level4.start(known);
    EXPECT_EQ(Rig::finish(*second).code, 0);
    QFile file(known);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString hex = QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    const QString line = level4.guardLine(QStringLiteral("exec"));
    EXPECT_TRUE(line.startsWith(QLatin1String("exec 1 unknown allowed known known|"))) << qPrintable(line);
    EXPECT_TRUE(line.endsWith(QLatin1Char('|') + known + QStringLiteral("|sha256:") + hex)) << qPrintable(line);
}

TEST(GateExec, AnUnknownProgramWaitsForTheGuardsAnswerOrItsEnd)
{
    GATE_RIG(rig);
    Rig::Guard guard;
    guard.safe = true;
    ASSERT_TRUE(rig.startGuard(guard));
    for (const bool allow : {true, false}) {
        const QString name = allow ? QStringLiteral("allowed") : QStringLiteral("refused");
        auto run = rig.start(rig.program(name));
        const QString line = rig.guardLine(QStringLiteral("exec"));
        ASSERT_TRUE(line.contains(QStringLiteral(" held refused ") + name)) << qPrintable(line);
        EXPECT_EQ(run->state(), QProcess::Running) << "held";
        EXPECT_FALSE(ran(rig, name));
        rig.tellGuard(QStringLiteral("answer %1 %2").arg(idOf(line), allow ? QStringLiteral("allow") : QStringLiteral("deny")));
        const Rig::Result result = Rig::finish(*run);
        EXPECT_EQ(result.code, allow ? 0 : 126) << qPrintable(result.output);
        EXPECT_EQ(ran(rig, name), allow);
    }
    // A guard that goes away releases every held exec.
    auto first = rig.start(rig.program(QStringLiteral("first")));
    auto second = rig.start(rig.program(QStringLiteral("second")));
    ASSERT_FALSE(rig.guardLine(QStringLiteral("exec")).isEmpty());
    ASSERT_FALSE(rig.guardLine(QStringLiteral("exec")).isEmpty());
    rig.stopGuard();
    EXPECT_EQ(Rig::finish(*first).code, 0);
    EXPECT_EQ(Rig::finish(*second).code, 0);
    EXPECT_TRUE(ran(rig, QStringLiteral("first")));
    EXPECT_TRUE(ran(rig, QStringLiteral("second")));
}

TEST(GateExec, AStoppedGuardsHeldExecIsAnsweredAtGateHoldByAlertDefault)
{
    GATE_RIG(rig);
    for (const bool allowNow : {true, false}) {
        Rig::Guard guard;
        guard.safe = true;
        guard.gateHold = 1;
        guard.alertDefault = allowNow ? QStringLiteral("allow_now") : QStringLiteral("close");
        ASSERT_TRUE(rig.startGuard(guard));
        const QString name = allowNow ? QStringLiteral("allow_now") : QStringLiteral("close");
        auto run = rig.start(rig.program(name));
        ASSERT_TRUE(rig.guardLine(QStringLiteral("exec")).contains(QLatin1String(" held ")));
        ::kill(pid_t(rig.guardPid()), SIGSTOP);
        EXPECT_EQ(Rig::finish(*run).code, allowNow ? 0 : 126);
        EXPECT_EQ(ran(rig, name), allowNow);
        ::kill(pid_t(rig.guardPid()), SIGCONT);
        rig.stopGuard();
    }
}

class GateEnd : public ::testing::TestWithParam<int> {};

TEST_P(GateEnd, LeavesNoExecWaiting)
{
    GATE_RIG(rig);
    Rig::Guard guard;
    guard.safe = true;
    ASSERT_TRUE(rig.startGuard(guard));
    auto run = rig.start(rig.program(QStringLiteral("waiting")));
    ASSERT_TRUE(rig.guardLine(QStringLiteral("exec")).contains(QLatin1String(" held ")));
    ::kill(pid_t(rig.gatePid()), GetParam());
    EXPECT_EQ(Rig::finish(*run).code, 0);
    EXPECT_TRUE(ran(rig, QStringLiteral("waiting")));
    EXPECT_TRUE(rig.gateEnded());
    if (GetParam() == SIGTERM) {
        EXPECT_TRUE(rig.guardLine(QStringLiteral("done")).endsWith(QLatin1String(" allowed 3")));
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, GateEnd, ::testing::Values(SIGTERM, SIGKILL));

} // namespace
