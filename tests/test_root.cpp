// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "tray/frmTray.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
struct TipTray : platform::Tray {
    QString tip;
    void add(const QIcon&, const QString& t) override { tip = t; }
    void modify(const QIcon&, const QString& t) override { tip = t; }
    void remove() override {}
};
} // namespace

// Run as root, the guard can end any program of the system: it says so on the terminal and in its icon's tip.
TEST(RunAsRoot, SaysSoOnTheTerminalAndInTheTip)
{
    for (const unsigned uid : {0u, 1000u}) {
        TestBed t;
        t.program.uid = uid;
        t.settings();
        TipTray icon;
        frmMain main{t.app};
        std::unique_ptr<frmTray> tray;
        main.guard.loadTray = [&] {
            tray = std::make_unique<frmTray>(t.app, main.guard, icon);
            tray->Form_Load();
        };
        // What it writes to the terminal lands in a file meanwhile.
        std::fflush(stderr);
        const int terminal = ::dup(2);
        const int file = ::open(QFile::encodeName(t.path("stderr")), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, 2);
        main.Form_Load();
        std::fflush(stderr);
        ::dup2(terminal, 2);
        ::close(terminal);
        ::close(file);
        const bool root = uid == 0;
        EXPECT_EQ(icon.tip, root ? "Mirvak: guarding as root, can end system programs" : "Mirvak: guarding");
        EXPECT_EQ(t.read("stderr"),
                  root ? "Mirvak: guarding as root: it can end system programs; start it as your own user instead\n" : "");
    }
}
