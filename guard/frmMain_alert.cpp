// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/frmMain.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "platform/ArgQuote.h"
#include "platform/SysText.h"
#include "process/mdProcess.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "widgets/Countdown.h"
#include "platform/linux/KeyGate.h"
#include "store/mdNumbers.h"
#include "store/mdFailures.h"

#include <QTextDocumentFragment>
#include <algorithm>

using namespace mdSettings;
using namespace mdLists;
using namespace mdFailures;
using namespace mdNumbers;

namespace {
// The alert's keys wait for a quiet second, made once, with the alert.
KeyGate& keyGate(frmMain& main)
{
    if (auto* gate = main.findChild<KeyGate*>(QString(), Qt::FindDirectChildrenOnly))
        return *gate;
    return *new KeyGate(&main, [&main] { return main.app.sys.desktop.clockMs(); },
                        {main.btnAllow, main.btnAllowNow, main.btnDeny, main.btnDenyNow, main.btnDelete});
}

// What each button's picture says, for assistive technology, and the window's name.
void nameControls(frmMain& main)
{
    const std::pair<ImageButton*, const char*> captions[] = {
        {main.btnAllow, "Allow"}, {main.btnDeny, "Deny"}, {main.btnAllowNow, "Allow now"},
        {main.btnDenyNow, "Deny now"}, {main.btnSearch, "Search the web"}, {main.btnDelete, "Delete"},
        {main.btnFindPath, "Find path"}, {main.btnClose, "Close"}};
    for (const auto& [button, caption] : captions)
        button->setText(QString::fromLatin1(caption));
    main.setAccessibleName(QStringLiteral("New application: ") + main.guard.appName);
    main.txtPath->setAccessibleName(QStringLiteral("Details"));
}

// The button that alert_default names, which the countdown presses at zero.
ImageButton* defaultButton(frmMain& main)
{
    const QString name = alertDefault(main.app);
    if (name == QLatin1String("allow_now"))
        return main.btnAllowNow;
    if (name == QLatin1String("deny_now"))
        return main.btnDenyNow;
    return main.btnClose;
}

// The alert's countdown, made once, with the alert: the default button and a
// line beside Close show the seconds left; a click or a key that counts stops it.
Countdown& countdown(frmMain& main)
{
    if (auto* made = main.findChild<Countdown*>(QString(), Qt::FindDirectChildrenOnly))
        return *made;
    auto* count = new Countdown([&main] { return main.app.sys.desktop.clockMs(); }, &main);
    auto* shown = new QLabel(&main);
    shown->setObjectName(QStringLiteral("lblCountdown"));
    shown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int high = std::max(main.btnClose->height(), shown->fontMetrics().height());
    shown->setGeometry(main.btnClose->x() - 124, std::max(0, main.btnClose->geometry().center().y() - high / 2), 120, high);
    shown->hide();
    QObject::connect(count, &Countdown::changed, &main, [&main, shown](int seconds) {
        nameControls(main);
        ImageButton* button = defaultButton(main);
        button->setText(button->text() + QStringLiteral(" (%1)").arg(seconds));
        shown->setText(button->text());
        shown->show();
    });
    const auto ended = [&main, shown] {
        nameControls(main);
        shown->hide();
    };
    QObject::connect(count, &Countdown::expired, &main, [&main, ended] {
        ended();
        defaultButton(main)->click();
    });
    QObject::connect(&keyGate(main), &KeyGate::counted, count, [count, ended] {
        if (count->running()) {
            count->stop();
            ended();
        }
    });
    return *count;
}
// The name after the caption, both in this system's font, centred on one line;
// its right edge stays where the skin put it.
void placeName(frmMain& main)
{
    const QLabel* caption = main.lblApp;
    QLabel* name = main.lblName;
    const int right = name->geometry().right();
    const int left = std::max(name->x(), caption->x() + caption->sizeHint().width() + 4);
    const int high = std::max(name->height(), name->fontMetrics().height());
    name->setGeometry(left, caption->geometry().center().y() - high / 2, right - left + 1, high);
}

// "2 more waiting", or nothing when none waits.
void showQueue(QLabel& line, int count)
{
    line.setText(count > 0 ? QStringLiteral("%1 more waiting").arg(count) : QString());
    line.setVisible(count > 0);
    // In this system's font, made smaller where the line would not hold it whole.
    QFont font = line.parentWidget()->font();
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(line.text()) > line.width())
        font.setPointSizeF(font.pointSizeF() - 0.25);
    line.setFont(font);
}

// The line on the close button's row, left of the countdown, that says how
// many more programs wait; made once, with the alert.
QLabel& queueLine(frmMain& main)
{
    if (auto* made = main.findChild<QLabel*>(QStringLiteral("lblQueue"), Qt::FindDirectChildrenOnly))
        return *made;
    auto* line = new QLabel(&main);
    line->setObjectName(QStringLiteral("lblQueue"));
    line->setStyleSheet(QStringLiteral("color: %1;").arg(ImageButton::frameColour.name()));
    const int high = std::max(main.btnClose->height(), line->fontMetrics().height());
    line->setGeometry(main.lblApp->x(), std::max(0, main.btnClose->geometry().center().y() - high / 2),
                      main.btnClose->x() - 128 - main.lblApp->x(), high);
    QObject::connect(&main.guard, &Guard::queueChanged, line, [line](int count) { showQueue(*line, count); });
    return *line;
}
} // namespace

void frmMain::ShowMsg()
{
    guarded(app, "frmMain", "ShowMsg", [&] {
        // Another candidate in an alert already up waits for the keys anew too.
        keyGate(*this).restart();
        nameControls(*this);
        Countdown& count = countdown(*this);
        findChild<QLabel*>(QStringLiteral("lblCountdown"))->hide();
        count.start(alertTimeout(app));
        show();
        // Tab starts from the first button; no button holds the focus the window gets.
        setFocus();
        mdDesign::frmBalloon(app, this);
        placeName(*this);
        lblName->setText(lblName->fontMetrics().elidedText(guard.appName, Qt::ElideRight, lblName->width()));
        lblName->setToolTip(guard.appName);
        lblStopped->setText(guard.appHeld ? QStringLiteral("%1 waits to start").arg(guard.appName)
                                          : QStringLiteral("stopped till you decide"));
        lblStopped->setVisible(guard.appStopped || guard.appHeld);
        showQueue(queueLine(*this), int(guard.queued.size()));
        const double minutes = numSetting(app, QStringLiteral("tmp_interval"));
        const QString lasting = minutes > 0 ? QStringLiteral("for %1 min").arg(numText(minutes))
                                            : QStringLiteral("until the next check");
        btnAllowNow->setToolTip(QStringLiteral("Allows it %1, then asks again").arg(lasting));
        btnDenyNow->setToolTip(QStringLiteral("Ends it, and again whenever it starts, %1").arg(lasting));
        txtPath->setToolTip(detailsTip(guard.appOwner, guard.shownLaunch));
        // Read out as text, not as the markup that wraps the tooltip.
        txtPath->setAccessibleDescription(QTextDocumentFragment::fromHtml(txtPath->toolTip()).toPlainText());

        const QString parent = mdProcess::TakeName(app, qint64(roundEven(toNumber(guard.appParent))));
        QString details = parent.isEmpty() ? QString() : QStringLiteral("opened by: ") + parent;
        // Before any press: Deny lists it, but cannot end it.
        const QString mark = guard.appPathState == platform::PathState::Refused ? guard.ownedBy() + QLatin1Char('\n') : QString();
        // Said before the decision: Allow and Deny of this one last the present period only.
        const QString unkept = storable(guard.appRecord) ? QString()
            : QStringLiteral("\ncan't be kept in a list (%1): Allow and Deny hold for the present period")
                  .arg(unstorable(guard.appRecord));
        txtPath->setPlainText(mark + details + unkept);
        if (guard.appPath.isEmpty()) {
            btnDelete->hide();
            btnFindPath->show();
            return;
        }
        details += (details.isEmpty() ? QStringLiteral("path: ") : QStringLiteral("; path: ")) + guard.appPath;
        txtPath->setPlainText(mark + details + unkept);
        if (fileExists(app, guard.appPath)) {
            details += QStringLiteral("; date: ")
                + app.sys.files.modified(guard.appPath).toLocalTime().toString(QStringLiteral("yyyy.MM.dd H:mm"))
                + QStringLiteral("; size: ") + guard.fSize(app.sys.files.size(guard.appPath));
            txtPath->setPlainText(mark + details + unkept);
        }
        btnDelete->show();
        btnFindPath->hide();
    });
}

void frmMain::hideAlert()
{
    countdown(*this).stop();
    hide();
    findNotes.clear();
}

void frmMain::decided(const Guard::Outcome& outcome)
{
    if (!outcome.note.isEmpty())
        txtPath->setPlainText(outcome.note);
}

void frmMain::btnAllow_MouseUp()
{
    mdDesign::loadImage(app, btnAllow);
    decided(guard.decide(Guard::Decision::Allow));
}

void frmMain::btnAllowNow_MouseUp()
{
    mdDesign::loadImage(app, btnAllowNow);
    decided(guard.decide(Guard::Decision::AllowNow));
}

void frmMain::btnDeny_MouseUp()
{
    mdDesign::loadImage(app, btnDeny);
    decided(guard.decide(Guard::Decision::Deny));
}

void frmMain::btnDenyNow_MouseUp()
{
    mdDesign::loadImage(app, btnDenyNow);
    decided(guard.decide(Guard::Decision::DenyNow));
}

void frmMain::btnDelete_MouseUp()
{
    mdDesign::loadImage(app, btnDelete);
    decided(guard.decide(Guard::Decision::Delete));
}

void frmMain::btnClose_MouseUp()
{
    mdDesign::loadImage(app, btnClose);
    decided(guard.decide(Guard::Decision::Close));
}

QString frmMain::detailsTip(const QString& owner, const std::optional<platform::Launch>& launch)
{
    QStringList lines{QStringLiteral("process id: ") + QString::number(guard.appPid)};
    if (!owner.isEmpty())
        lines << QStringLiteral("user: ") + owner;
    if (launch) {
        QStringList argv;
        for (const QByteArray& arg : launch->argv)
            argv << platform::fromSys(arg);
        lines << QStringLiteral("command line: ") + platform::joinArgs(argv);
        if (!launch->folder.isEmpty())
            lines << QStringLiteral("working folder: ") + platform::fromSys(launch->folder);
    }
    const qint64 parent = qint64(roundEven(toNumber(guard.appParent)));
    if (parent > 0) {
        QString path = app.sys.processes.exePath(parent);
        lines << QStringLiteral("parent: %1 %2").arg(parent).arg(path.isEmpty() ? mdProcess::TakeName(app, parent) : path);
    }
    if (const QString hash = guard.hashDetails(); !hash.isEmpty())
        lines << hash;
    // Rich text, so a line wider than the screen wraps.
    for (QString& line : lines)
        line = line.toHtmlEscaped();
    return QStringLiteral("<p style='white-space:pre-wrap'>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
}
