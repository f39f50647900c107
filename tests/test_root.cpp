// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "tray/frmTray.h"

#include <memory>

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
        testing::internal::CaptureStderr();
        main.Form_Load();
        const std::string terminal = testing::internal::GetCapturedStderr();
        const bool root = uid == 0;
        EXPECT_EQ(icon.tip, root ? "Mirvak: guarding as root, can end system programs; exec gate: off" : "Mirvak: guarding; exec gate: off");
        EXPECT_EQ(terminal,
                  root ? "Mirvak: guarding as root: it can end system programs; start it as your own user instead\n" : "");
    }
}
