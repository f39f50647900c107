// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/frmTrust.h"
#include "guard/Events.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/frmMain.h"
#include "store/mdCollection.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "platform/linux/KeyGate.h"
#include "store/mdFailures.h"

#include <QBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

frmTrust::frmTrust(App& application, Running programs, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint), app(application), running(std::move(programs)),
      made_(app.sys.desktop.clockMs())
{
    setObjectName(QStringLiteral("frmTrust"));
    // Keys typed into another window while it comes up must not answer it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The alert's colours; the focus frame in the accent colour, as on its image buttons.
    mdDesign::skinWindow(app, this, QStringLiteral("frmTrust { border: 1px solid rgb(72, 80, 160); }"
                                 "QLabel#lblCaption { color: %2; }"
                                 "QPlainTextEdit { background: %1; color: white; border: none; }"
                                 "QPushButton { background: %1; color: white; border: 1px solid rgb(72, 80, 160);"
                                 " border-radius: 4px; padding: 3px 14px; min-width: 40px; }"
                                 "QPushButton:default { border-color: rgb(140, 150, 230); }"
                                 "QPushButton:focus { border: 2px solid %2; }"
                                 "QPushButton:pressed, QPushButton:checked { background: rgb(24, 32, 84); }")
                      .arg(mdDesign::kSkinPanel.name(), ImageButton::frameColour.name()));
    setFixedWidth(300);

    auto* caption = new QLabel(QStringLiteral("Mirvak: first start"), this);
    caption->setObjectName(QStringLiteral("lblCaption"));
    lblQuestion = new QLabel(this);
    QFont bold = lblQuestion->font();
    bold.setBold(true);
    lblQuestion->setFont(bold);
    lblQuestion->setWordWrap(true);   // a large count in a large font stays whole
    lblText = new QLabel(this);
    lblText->setWordWrap(true);
    lblWait = new QLabel(this);
    lblWait->setObjectName(QStringLiteral("lblWait"));
    lblWait->setWordWrap(true);

    txtList = new QPlainTextEdit(this);
    txtList->setObjectName(QStringLiteral("txtList"));
    mdDesign::textBox(txtList, {});
    txtList->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);   // a long path stays whole in view
    txtList->setFixedHeight(150);
    txtList->hide();

    // A push button whose name says what the next press does, not a check box.
    btnShow = new QPushButton(QStringLiteral("Show"), this);
    btnYes = new QPushButton(QStringLiteral("Yes"), this);
    btnNo = new QPushButton(QStringLiteral("No"), this);
    btnYes->setDefault(true);
    connect(btnYes, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnNo, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnShow, &QPushButton::clicked, this, [this] {
        const bool shown = txtList->isHidden();
        txtList->setVisible(shown);
        btnShow->setText(shown ? QStringLiteral("Hide") : QStringLiteral("Show"));
        fitHeight();
    });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnShow);
    buttons->addStretch();
    buttons->addWidget(btnYes);
    buttons->addWidget(btnNo);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->addWidget(caption);
    layout->addWidget(lblQuestion);
    layout->addWidget(lblText);
    layout->addWidget(lblWait);
    layout->addWidget(txtList);
    layout->addLayout(buttons);
    setTabOrder(btnYes, btnNo);
    setTabOrder(btnNo, btnShow);
    setTabOrder(btnShow, txtList);
    btnYes->setFocus();
    keys = new KeyGate(this, [this] { return app.sys.desktop.clockMs(); }, {btnYes, btnNo});

    showCounts();
    // The hashes come from the workers: the question is up meanwhile.
    connect(&app.hashes, &HashCache::ready, this, &frmTrust::hashReady, Qt::QueuedConnection);
    // One may have ended before the connection.
    QMetaObject::invokeMethod(this, &frmTrust::hashReady, Qt::QueuedConnection);
}

void frmTrust::showCounts()
{
    const auto count = static_cast<int>(running.programs.size() + running.waiting.size());
    lblQuestion->setText(count == 1 ? QStringLiteral("Trust the program that runs now?")
                                    : QStringLiteral("Trust the %1 programs that run now?").arg(count));
    QString text = QStringLiteral("Yes puts them on the allow list, so only programs that start later are asked "
                                  "about. No asks about each one when the guard first meets it.");
    if (running.unhashed == 1)
        text += QStringLiteral(" One program whose file could not be read is left out.");
    else if (running.unhashed > 1)
        text += QStringLiteral(" %1 programs whose files could not be read are left out.").arg(running.unhashed);
    lblText->setText(text);
    const auto waiting = static_cast<int>(running.waiting.size());
    lblWait->setText(yesWaits ? QStringLiteral("Yes: computing the SHA-256 of %1 more; they are added once known.").arg(waiting)
                              : QStringLiteral("Computing the SHA-256 of %1 of them; Yes waits until all are known.").arg(waiting));
    lblWait->setVisible(waiting > 0);
    QStringList lines;
    for (const Running::Program& program : running.programs)
        lines << program.name + QStringLiteral("  ") + (program.path.isEmpty() ? QStringLiteral("(another user's)") : program.path);
    for (const Running::Waiting& program : running.waiting)
        lines << program.name + QStringLiteral("  ") + program.path + QStringLiteral("  (hashing)");
    txtList->setPlainText(lines.join(QLatin1Char('\n')));
    // Its size as shown, style and fonts applied, so it opens in its place.
    ensurePolished();
    fitHeight();
    mdDesign::frmBalloon(app, this);
}

void frmTrust::fitHeight()
{
    // At its fixed width: the size it would take by itself may be wider, and
    // its wrapped text then shorter than here.
    resize(width(), heightForWidth(width()));
}

void frmTrust::hashReady()
{
    if (!settleRunning(app, running))
        return;
    if (yesWaits && running.waiting.empty()) {
        accept();
        return;
    }
    showCounts();
}

void frmTrust::showPlaced()
{
    // At start-up the icon is only on its way into the notification area.
    constexpr qint64 kTrayWaitMs = 2000;
    if (app.sys.desktop.trayPlacing() && app.sys.desktop.clockMs() - made_ < kTrayWaitMs) {
        QTimer::singleShot(50, this, &frmTrust::showPlaced);
        return;
    }
    mdDesign::frmBalloon(app, this);
    show();
}

void frmTrust::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    mdDesign::frmBalloon(app, this);   // grown or shrunk, it stays in its corner
}

void frmTrust::done(int result)
{
    if (result == Accepted && !running.waiting.empty()) {
        yesWaits = true;
        btnYes->setEnabled(false);
        showCounts();
        return;
    }
    mdFailures::guarded(app, "frmTrust", "done", [&] {
        // The file may have come meanwhile, from --allow-running: the answer adds to it.
        mdLists::reloadChanged(app);
        const QString answer = result == Accepted ? QStringLiteral("trust") : QStringLiteral("no");
        for (const Running::Program& program : running.programs) {
            events::send(app, {.kind = events::Kind::FirstStart, .name = program.name, .path = program.path,
                               .record = program.record, .answer = answer});
            if (result != Accepted)
                continue;
            app.allowList.add(program.record);
            app.allowTmp.add(program.record);
        }
        // An empty file for No: the question is not asked again.
        mdLists::putList(app, app.allowList, QStringLiteral("allow.csv"), false);
    });
    QDialog::done(result);
    deleteLater();
}

void frmMain::offerTrust()
{
    mdFailures::guarded(app, "frmMain", "offerTrust", [&] {
        // A list_level that is no number would make records of bare names: the next start asks.
        mdSettings::numSetting(app, QStringLiteral("list_level"));
        Running now = runningPrograms(app);
        if (now.programs.empty() && now.waiting.empty())
            return;   // nothing to trust: the next start asks
        // The deny list acts at once while the question waits.
        app.allowTmp = mdCollection::clnEq(app, app.allowList);
        app.denyTmp = mdCollection::clnEq(app, app.denyList);
        trust = new frmTrust(app, std::move(now), this);
        guard.asking = true;
        connect(trust, &QObject::destroyed, &guard, [g = &guard] { g->asking = false; });
        trust->showPlaced();
    });
}
