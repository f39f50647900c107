// SPDX-License-Identifier: GPL-3.0-or-later
// The real program started where a desktop is missing: no display, no XDG_RUNTIME_DIR. Each run is PID 1's
// child in a PID namespace of its own, so --allow-running sees only the one sleep started beside it.
#include "Fakes.h"
#include "platform/Version.h"

#include <QProcess>

#include <string>

namespace {

struct Start {
    int status = -1;
    std::string err;
    std::string out;
};

// A portable copy of the program in a folder of its own, started with what a bare terminal has.
struct Terminal : TestBed {
    Terminal()
    {
        QFile::copy(MIRVAK_EXE, path("Mirvak"));
        settings();
    }
    // `before` starts what runs beside the program; it runs from the folder.
    Start run(const QStringList& args, const QString& display = {}, const QString& before = "sleep 30 &") const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "XDG_SESSION_TYPE"})
            e.remove(name);
        if (!display.isEmpty())
            e.insert("DISPLAY", display);
        e.insert("HOME", tmp.path());
        e.insert("TMPDIR", tmp.path());   // where Qt would make a runtime folder of its own
        QProcess p;
        p.setProcessEnvironment(e);
        const QString command = "cd \"$TMPDIR\" || exit; " + before + " exec \"$0\" \"$@\"";
        p.start("unshare", QStringList{"--pid", "--fork", "--mount-proc", "--kill-child", "sh", "-c", command, path("Mirvak")} + args);
        Start start;
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit)
            start.status = p.exitCode();
        start.err = p.readAllStandardError().toStdString();
        start.out = p.readAllStandardOutput().toStdString();
        return start;
    }
};

} // namespace

// Without a display (none set, or one that is not there) the guard says so in one line and ends with status 1;
// its options need neither display nor runtime folder, and print no Qt warning.
TEST(StartUp, OptionsNeedNeitherDisplayNorRuntimeFolderAndPrintNoQtWarning)
{
    if (QProcess::execute("unshare", {"--pid", "--fork", "--mount-proc", "true"}) != 0)
        GTEST_SKIP() << "no PID namespace here";
    Terminal t;
    const std::string usage = "Usage: Mirvak [OPTION]\n";
    const std::string hint = "\nTry 'Mirvak --help' for more information.\n";
    const std::string noDisplay = "Mirvak: needs a graphical session, and no display can be opened\n";
    for (const auto& [arguments, display, status, text] : {std::tuple(QStringList{}, QString(), 1, noDisplay),
             {{}, ":65000", 1, noDisplay}, {{"--version"}, {}, 0, "Mirvak " + std::string(platform::version::kText) + "\n"},
             {{"-session", "1a2b", "-h", "--allow-running"}, {}, 0, usage}, {{"--help"}, {}, 0, usage},
             {{"--allow-running", "--bogus"}, {}, 2, "Mirvak: Unknown option 'bogus'." + hint},
             {{"stray"}, {}, 2, "Mirvak: Unexpected argument 'stray'." + hint}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString() + " " + display.toStdString());
        const Start start = t.run(arguments, display);
        const std::string& told = status ? start.err : start.out;
        EXPECT_EQ(std::pair(start.status, told.substr(0, text.size())), std::pair(status, text));
        EXPECT_TRUE(status != 1 || told == text);
        EXPECT_EQ(status ? start.out : start.err, "");
        EXPECT_FALSE(t.exists("allow.csv"));
    }
    const Start allow = t.run({"--allow-running"});
    EXPECT_EQ(allow.status, 0);
    EXPECT_TRUE(allow.out.starts_with("Mirvak: added ")) << allow.out;
    // Its own lines only: each starts with the program's name.
    for (const QString& line : QString::fromStdString(allow.err).split('\n'))
        EXPECT_TRUE(line.isEmpty() || line.startsWith("Mirvak: ")) << line.toStdString();
    EXPECT_TRUE(t.read("allow.csv").contains("sleep"));
    EXPECT_FALSE(t.exists("runtime-root"));
    // Qt keeps the guard's lock in a folder of its own when XDG_RUNTIME_DIR is unset; --allow-running finds it there.
    ASSERT_TRUE(QDir().mkpath(t.path("guard")));
    ASSERT_TRUE(QFile::copy("/usr/bin/sleep", t.path("guard/Mirvak")));   // stands in for a guard: its name is the lock's
    const Start told = t.run({"--allow-running"}, {},
        "mkdir -m 700 runtime-root; guard/Mirvak 30 & printf '%s\\nMirvak\\nhost\\n' $! >runtime-root/mirvak-Mirvak.lock;");
    EXPECT_EQ(told.status, 0);
    EXPECT_EQ(told.err, "Mirvak: the running guard takes them in at its next check\n");
}
