#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>

namespace {
// The alert about `name` (pid 500, started by pid 400).
struct View {
    TestBed t;
    frmMain main{t.app};
    View(const QString& name, const QString& path, const char* safeLevel = "0", const char* minutes = "60")
    {
        t.settings({{"safe_level", safeLevel}, {"tmp_interval", minutes}});
        mdSettings::getSettings(t.app);
        t.processes.add(500, name, path, 400).launch = platform::Launch{{"/x/a b", "-v"}, "/home/ann", {}};
        t.processes.add(400, "bash", "/usr/bin/bash");
        main.time.setInterval(1000);
        main.TakeProcesses();
        QApplication::processEvents();   // lays the details box out
    }
    // A key typed into the alert, which a click has made the active window; where the focus is then.
    QString press(int key)
    {
        QApplication::setActiveWindow(&main);
        QKeyEvent event(QEvent::KeyPress, key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &event);
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
    }
};
} // namespace

TEST(AlertView, NameDetailsAndTooltips)
{
    const QString name = "some-unknown-tool-with-a-really-long-name-helper-daemon";
    // The candidate, safe_level, tmp_interval; a cut name, a scroll bar, the stopped line; the timed buttons' text.
    const std::tuple<QString, QString, const char*, const char*, bool, bool, bool, const char*> cases[] = {
        {"tool", "/x/tool", "0", "60", false, false, false, "for 60 min"},
        {name, "/opt/" + QString("deep/").repeated(30) + name, "1", "0.5", true, true, true, "for 0.5 min"},
        {"tool", "", "1", "0", false, false, false, "until the next check"},   // no path: nothing stopped
    };
    for (const auto& [exe, path, safeLevel, minutes, cut, scrolls, stopped, lasting] : cases) {
        SCOPED_TRACE(minutes);
        View v(exe, path, safeLevel, minutes);
        const QLabel* label = v.main.lblName;
        EXPECT_EQ(std::tuple(label->text().endsWith(QChar(0x2026)), label->toolTip() == exe,
                             v.main.txtPath->verticalScrollBar()->isVisible(), v.main.lblStopped->isVisible()),
                  std::tuple(cut, true, scrolls, stopped));
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
        EXPECT_TRUE(v.main.btnAllowNow->toolTip().contains(lasting) && v.main.btnDenyNow->toolTip().contains(lasting));
        EXPECT_EQ(v.main.txtPath->toolTip().toStdString(),
                  "<p style='white-space:pre-wrap'>process id: 500<br>user: ann<br>command line: '/x/a b' -v<br>"
                  "working folder: /home/ann<br>parent: 400 /usr/bin/bash</p>");
    }
}

TEST(AlertView, KeysDecideOnlyAfterTab)
{
    {
        View v("tool", "/x/tool");   // + Tab, - Shift+Tab, and the button that takes the focus
        for (const QString& step : QString("+btnAllow +btnDeny +btnAllowNow +btnDenyNow +btnSearch +btnDelete "
                                           "+btnClose +btnAllow -btnClose -btnDelete").split(' ')) {
            EXPECT_EQ(v.press(step[0] == '+' ? Qt::Key_Tab : Qt::Key_Backtab).toStdString(), step.mid(1).toStdString());
            EXPECT_TRUE(v.main.findChild<ImageButton*>(step.mid(1))->keyReady());
        }
    }
    // From a fresh alert each: the keys (0: the alert shown again), the list file that holds it, whether it stays up.
    const std::tuple<std::vector<int>, std::string, bool> runs[] = {
        {{Qt::Key_Return, Qt::Key_Space, Qt::Key_Enter}, "", true},   // the window's own focus decides nothing
        {{Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Return}, "deny.csv", false},
        {{Qt::Key_Tab, Qt::Key_Space}, "allow.csv", false},
        {{Qt::Key_Escape}, "", false},
        {{Qt::Key_Tab, Qt::Key_Tab, 0, Qt::Key_Return}, "", true},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(&run - runs);
        const auto& [keys, file, open] = run;
        View v("tool", "/x/tool");
        for (int key : keys)
            key ? void(v.press(key)) : (v.main.HideMsg(), v.main.ShowMsg());
        EXPECT_EQ(v.main.isVisible(), open);
        for (const char* name : {"allow.csv", "deny.csv"})
            EXPECT_EQ(v.t.read(name), name == file ? "tool\r\n" : "") << name;
    }
}
