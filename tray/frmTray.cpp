// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/frmTray.h"

#include "guard/Events.h"

#include "design/frmAbout.h"
#include "guard/GateLink.h"
#include "store/mdSettings.h"
#include "tray/frmSettings.h"
#include "store/mdFailures.h"
#include "store/mdErrorLog.h"

#include <QCursor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cstdio>
#include <utility>

using mdFailures::guarded;

namespace {

// The icon drawn here when its image file is missing, as the image files
// look: bars of different heights on a dark blue rounded square, in white and
// cyan; switched off, a grey square under a bold white pause mark.
QIcon paintedIcon(bool enabled)
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath square;
    square.addRoundedRect(QRectF(1, 1, 46, 46), 9, 9);
    painter.fillPath(square, enabled ? QColor(24, 32, 112) : QColor(92, 94, 100));
    const int heights[] = {18, 30, 22, 34, 14};
    for (int i = 0; i < 5; ++i) {
        QColor colour = enabled ? (i % 2 ? QColor(0, 220, 240) : QColor(Qt::white)) : QColor(150, 151, 158);
        painter.fillRect(QRect(8 + i * 7, 40 - heights[i], 5, heights[i]), colour);
    }
    if (!enabled) {
        painter.setPen(QPen(QColor(24, 24, 28), 2));
        painter.setBrush(QColor(250, 250, 252));
        painter.drawRoundedRect(QRectF(11, 9, 10, 30), 2, 2);
        painter.drawRoundedRect(QRectF(27, 9, 10, 30), 2, 2);
    }
    return QIcon(pixmap);
}

QIcon iconFile(App& app, const char* name, bool enabled)
{
    const QString path = app.file(QString::fromLatin1(name));
    if (mdSettings::fileExists(app, path)) {
        const QPixmap pixmap(path);
        if (!pixmap.isNull())
            return QIcon(pixmap);
    }
    return paintedIcon(enabled);
}

} // namespace

frmTray::frmTray(App& application, Guard& core, platform::Tray& trayIcon, QWidget* parent)
    : QWidget(parent), app(application), guard(core), tray(trayIcon)
{
    setObjectName(QStringLiteral("frmTray"));
    PopupSys.setObjectName(QStringLiteral("PopupSys"));
    PopupSys.setTitle(QStringLiteral("PopupMenu"));
    PopupSys.setAccessibleName(app.sys.program.productTitle());
    Enable = PopupSys.addAction(QStringLiteral("Enable"), this, &frmTray::Enable_Click);
    Enable->setEnabled(false);
    Disable = PopupSys.addAction(QStringLiteral("Disable"), this, &frmTray::Disable_Click);
    PopupSys.addSeparator();
    SeeAllow = PopupSys.addAction(QStringLiteral("See Allow List"), this, &frmTray::SeeAllow_Click);
    SeeDeny = PopupSys.addAction(QStringLiteral("See Deny List"), this, &frmTray::SeeDeny_Click);
    SeeSeen = PopupSys.addAction(QStringLiteral("See Programs Seen"), this, &frmTray::SeeSeen_Click);
    SeeSeen->setVisible(false);
    connect(&PopupSys, &QMenu::aboutToShow, this, [this] { SeeSeen->setVisible(events::monitoring(app)); });
    PopupSys.addSeparator();
    Settings = PopupSys.addAction(QStringLiteral("Settings"), this, &frmTray::Settings_Click);
    About = PopupSys.addAction(QStringLiteral("About"), this, &frmTray::About_Click);
    PopupSys.addSeparator();
    CloseMenu = PopupSys.addAction(QStringLiteral("Close Menu"));
    ExitProgram = PopupSys.addAction(QStringLiteral("Exit"), this, &frmTray::ExitProgram_Click);

    showMenu = [this] { PopupSys.exec(QCursor::pos()); };
    tray.onMessage = [this](int message) { Form_MouseMove(message); };
    // An open list window shows its list as last saved, whoever saved it.
    app.listSaved = [this](const QString& fileName) {
        for (frmList* window : {allowWindow.data(), denyWindow.data(), seenWindow.data()})
            if (window && fileName == QLatin1String(window->t.ownFile))
                window->listLoad();
    };
    app.notice = [this](const QString& text) { notice(text); };
    if (app.sys.notices)
        app.sys.notices->onFailed = [this](const QString& text, const QString& why) {
            std::fprintf(stderr, "Mirvak: %s\n", qPrintable(text));
            if (!std::exchange(noticeFailureTold, true))
                mdErrorLog::error_log(app, QStringLiteral("frmTray"), QStringLiteral("notice"),
                                      QStringLiteral("No notification server took a notice (%1): %2").arg(why, text));
        };
    connect(&guard, &Guard::notGuarding, this, &frmTray::notGuarding);
    connect(&guard, &Guard::alertHidden, this, [this] {
        if (!heldNotices.isEmpty())
            notice(std::exchange(heldNotices, {}).join(QLatin1Char('\n')));
    });
    // The tip is first set before the settings are read: guard_mode shows once they are.
    connect(&guard, &Guard::guarding, this, [this] { tray.modify(enabledIcon, enabledTip()); });
}

frmTray::~frmTray()
{
    tray.onMessage = nullptr;
    app.listSaved = nullptr;
    app.notice = nullptr;
    if (app.sys.notices)
        app.sys.notices->onFailed = nullptr;
    delete allowWindow.data();
    delete denyWindow.data();
    delete seenWindow.data();
    delete aboutWindow.data();
}

QString frmTray::tip(const QString& state) const
{
    // The panel shows the tip in a small box: the product's first word names it.
    return app.sys.program.productTitle().section(QLatin1Char(' '), 0, 0) + QStringLiteral(": ") + state;
}

QString frmTray::enabledTip() const
{
    if (events::monitoring(app))
        return tip(QStringLiteral("monitor mode, nothing is ended"));
    if (app.sys.program.userId() == 0)
        return tip(QStringLiteral("guarding as root, can end system programs; ") + GateLink::stateText(guard.gateLink));
    return tip(QStringLiteral("guarding; ") + GateLink::stateText(guard.gateLink));
}

QString frmTray::disabledTip() const
{
    return tip(QStringLiteral("paused; ") + GateLink::stateText(guard.gateLink));
}

void frmTray::notGuarding()
{
    // Nothing guards until the settings are mended: a Save in the settings window, or a new start.
    Enable->setEnabled(false);
    Disable->setEnabled(false);
    const QString state = QStringLiteral("not guarding, see ") + app.file(QStringLiteral("error.log"));
    tray.modify(disabledIcon, tip(state));
    if (!tray.shown())
        notice(state.left(1).toUpper() + state.mid(1) + QLatin1Char('.'));
}

void frmTray::notice(const QString& text)
{
    // Qt's own balloon and many servers' notices appear in the corner where
    // the alert stands, over its buttons: they wait until it closes.
    if (guard.alertUp) {
        heldNotices << text;
        return;
    }
    const QString title = app.sys.program.productTitle();
    if (tray.shown() || !app.sys.notices)
        tray.notify(title, text);
    else
        app.sys.notices->send(title, text);
}

void frmTray::Form_Load()
{
    guarded(app, "frmTray", "Form_Load", [&] {
        hide();
        ExitProgram->setText(QStringLiteral("Exit ") + app.sys.program.exeName());
        enabledIcon = iconFile(app, "mirvak.png", true);
        disabledIcon = iconFile(app, "mirvak-disabled.png", false);
        tray.setMenu(&PopupSys);
        tray.add(enabledIcon, enabledTip());
        if (guard.gateLink)
            connect(guard.gateLink, &GateLink::stateChanged, this, [this] {
                // Not guarding at all says so, gate or none.
                if (Disable->isEnabled())
                    tray.modify(enabledIcon, enabledTip());
                else if (Enable->isEnabled())
                    tray.modify(disabledIcon, disabledTip());
            });
        // Its decisions reach every process of the system, not only the user's.
        if (app.sys.program.userId() == 0)
            std::fputs("Mirvak: guarding as root: it can end system programs; start it as your own user instead\n", stderr);
    });
}

void frmTray::Form_MouseMove(int x)
{
    guarded(app, "frmTray", "Form_MouseMove", [&] {
        // Left press, right press and right double click; the right double
        // click never comes from Qt, but the message means the same.
        if (x == 513 || x == 516 || x == 518)
            showMenu();
    });
}

void frmTray::Enable_Click()
{
    guarded(app, "frmTray", "Enable_Click", [&] {
        guard.timerOn();
        events::send(app, {.kind = events::Kind::GuardStart});
        Enable->setEnabled(false);
        Disable->setEnabled(true);
        tray.modify(enabledIcon, enabledTip());
    });
}

void frmTray::Disable_Click()
{
    guarded(app, "frmTray", "Disable_Click", [&] {
        guard.timerOff();
        events::send(app, {.kind = events::Kind::GuardStop});
        // The alert goes without a decision on its process.
        if (guard.alertUp)
            guard.dropAlert();
        Enable->setEnabled(true);
        Disable->setEnabled(false);
        tray.modify(disabledIcon, disabledTip());
    });
}

void frmTray::showList(QPointer<frmList>& window, frmList::Kind kind)
{
    if (!window) {
        window = new frmList(app, guard, kind);
        connect(window, &frmList::unloaded, this, [&window] { window = nullptr; });
    }
    window->show();
    window->raise();
    window->activateWindow();
    window->listLoad();
}

void frmTray::SeeAllow_Click()
{
    showList(allowWindow, frmList::Kind::Allow);
}

void frmTray::SeeDeny_Click()
{
    showList(denyWindow, frmList::Kind::Deny);
}

void frmTray::SeeSeen_Click()
{
    showList(seenWindow, frmList::Kind::Seen);
}

void frmTray::Settings_Click()
{
    // One window at a time; the tray owns it, so it goes with the tray. A
    // hidden one is on its way out.
    frmSettings* window = nullptr;
    for (frmSettings* open : findChildren<frmSettings*>())
        if (open->isVisible())
            window = open;
    if (!window) {
        window = new frmSettings(app, guard, this);
        // Settings that failed at start-up left nothing guarded: once they
        // are in effect, guarding starts.
        connect(window, &frmSettings::applied, this, [this] {
            if (!Enable->isEnabled() && !Disable->isEnabled())
                Enable_Click();
        });
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void frmTray::About_Click()
{
    if (!aboutWindow) {
        aboutWindow = new frmAbout(app, guard);
        connect(aboutWindow, &frmAbout::unloaded, this, [this] { aboutWindow = nullptr; });
    }
    aboutWindow->show();
    aboutWindow->raise();
    aboutWindow->activateWindow();
}

void frmTray::ExitProgram_Click()
{
    // Qt labels break lines at "\n" alone.
    const QString question = QStringLiteral("Exiting the program will disable your security warnings!\n"
                                            "Do you want to exit the program anyway?");
    if (!app.sys.desktop.askYesNo(app.sys.program.productTitle(), question))
        return;
    tray.remove();
    events::send(app, {.kind = events::Kind::GuardStop});
    app.sys.desktop.quit();
}
