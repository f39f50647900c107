#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <memory>
#include <gtest/gtest.h>

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
    }
    // A key typed into the alert, which a click has made the active window.
    QWidget* press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QApplication::setActiveWindow(&main);
        EXPECT_EQ(QApplication::activeWindow(), &main);
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(QApplication::focusWidget(), &event);
        return QApplication::focusWidget();
    }
};
} // namespace

TEST(AlertView, NameDetailsAndTooltips)
{
    const QString longName = "some-unknown-tool-with-a-really-long-name-helper-daemon";
    const QString longPath = "/opt/" + QString("deep/").repeated(30) + longName;
    const struct {
        QString name, path;
        const char *safeLevel, *minutes;
        bool cut, scrolls, stopped;
        QString lasting;
    } cases[] = {
        {"tool", "/x/tool", "0", "60", false, false, false, "for 60 min"},
        {longName, longPath, "1", "0.5", true, true, true, "for 0.5 min"},
        {"tool", "", "1", "0", false, false, false, "until the next check"},   // no path: nothing stopped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        View v(c.name, c.path, c.safeLevel, c.minutes);
        const QLabel* label = v.main.lblName;
        EXPECT_EQ(label->text().endsWith(QChar(0x2026)), c.cut);
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
        EXPECT_EQ(label->toolTip(), c.name);
        EXPECT_EQ(v.main.txtPath->verticalScrollBar()->maximum() > 0, c.scrolls);
        EXPECT_EQ(v.main.lblStopped->isVisible(), c.stopped);
        EXPECT_TRUE(v.main.btnAllowNow->toolTip().contains(c.lasting));
        EXPECT_TRUE(v.main.btnDenyNow->toolTip().contains(c.lasting));
        EXPECT_EQ(v.main.txtPath->toolTip().toStdString(), std::string("<p style='white-space:pre-wrap'>process id: 500<br>user: ann<br>"
                                             "command line: '/x/a b' -v<br>working folder: /home/ann<br>"
                                             "parent: 400 /usr/bin/bash</p>"));
    }
}

TEST(AlertView, KeysDecideOnlyAfterTab)
{
    auto v = std::make_unique<View>("tool", "/x/tool");
    const std::vector<std::pair<int, ImageButton*>> order{{Qt::Key_Tab, v->main.btnAllow},
        {Qt::Key_Tab, v->main.btnDeny}, {Qt::Key_Tab, v->main.btnAllowNow}, {Qt::Key_Tab, v->main.btnDenyNow},
        {Qt::Key_Tab, v->main.btnSearch}, {Qt::Key_Tab, v->main.btnDelete}, {Qt::Key_Tab, v->main.btnClose},
        {Qt::Key_Tab, v->main.btnAllow}, {Qt::Key_Backtab, v->main.btnClose}, {Qt::Key_Backtab, v->main.btnDelete}};
    for (const auto& [key, next] : order) {
        EXPECT_EQ(v->press(key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier), next);
        EXPECT_TRUE(next->keyReady());
    }
    v.reset();
    // From a fresh alert each: the keys (0: shown again), the list file that holds it, whether it stays up.
    const struct {
        std::vector<int> keys;
        const char* file;
        bool open;
    } runs[] = {
        {{Qt::Key_Return, Qt::Key_Space, Qt::Key_Enter}, "", true},   // the window's own focus decides nothing
        {{Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Return}, "deny.csv", false},
        {{Qt::Key_Tab, Qt::Key_Space}, "allow.csv", false},
        {{Qt::Key_Escape}, "", false},
        {{Qt::Key_Tab, Qt::Key_Tab, 0, Qt::Key_Return}, "", true},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(&r - runs);
        View v("tool", "/x/tool");
        for (int key : r.keys)
            key ? void(v.press(key)) : (v.main.HideMsg(), v.main.ShowMsg());
        EXPECT_EQ(v.main.isVisible(), r.open);
        for (const char* file : {"allow.csv", "deny.csv"})
            EXPECT_EQ(v.t.read(file), file == std::string(r.file) ? "tool\r\n" : "") << file;
    }
}
