// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/frmMain.h"
#include "guard/Events.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"

#include <QFont>
#include <QFontMetrics>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

namespace {
// Design places are in twips, 15 to the pixel.
int px(int twips) { return twips / 15; }
QRect design(int left, int top, int width, int height) { return {px(left), px(top), px(width), px(height)}; }
} // namespace

frmMain::frmMain(App& application, QWidget* parent) : frmMain(*new Guard(application), parent)
{
    own_.reset(&guard);
}

frmMain::frmMain(Guard& core, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), guard(core), app(core.app)
{
    setObjectName(QStringLiteral("frmMain"));
    setFixedSize(px(4200), px(2700));
    // Keys typed into another window must never land here and decide.
    setAttribute(Qt::WA_ShowWithoutActivating);
    // So its details can be read by pointing, before it ever has the focus.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    mdDesign::skinWindow(app, this, QStringLiteral("QPlainTextEdit { background: transparent; color: white; border: none; }"),
                         [this] { btnClose_MouseUp(); });

    lblApp = new QLabel(QStringLiteral("New application find:"), this);
    lblApp->setObjectName(QStringLiteral("lblApp"));
    lblApp->setGeometry(px(210), px(300), px(2220), px(330));
    // The design's 9.75 points bold over its 9-point text, in this system's
    // font, up to the width it takes at 9.75 points: past that it shrinks, so
    // the name beside it keeps its room.
    QFont bold = font();
    bold.setBold(true);
    QFont drawn = bold;
    drawn.setPointSizeF(9.75);
    const int widest = QFontMetrics(drawn).horizontalAdvance(lblApp->text());
    if (bold.pointSizeF() > 0)   // a font sized in pixels has no point size
        bold.setPointSizeF(bold.pointSizeF() * 9.75 / 9);
    while (bold.pointSizeF() > 6 && QFontMetrics(bold).horizontalAdvance(lblApp->text()) > widest)
        bold.setPointSizeF(bold.pointSizeF() - 0.25);
    lblApp->setFont(bold);
    // The caption keeps its design size unless this system's font needs more.
    lblApp->setMinimumWidth(lblApp->sizeHint().width());
    lblApp->resize(std::max(lblApp->width(), lblApp->sizeHint().width()), std::max(lblApp->height(), lblApp->sizeHint().height()));

    lblName = new QLabel(this);
    lblName->setObjectName(QStringLiteral("lblName"));
    lblName->setGeometry(px(2415), px(330), px(1605), px(195));

    txtPath = new QPlainTextEdit(this);
    txtPath->setObjectName(QStringLiteral("txtPath"));
    mdDesign::textBox(txtPath, design(195, 720, 3810, 660));
    txtPath->setFocusPolicy(Qt::NoFocus);   // Tab goes from button to button

    lblStopped = new QLabel(QStringLiteral("stopped till you decide"), this);
    lblStopped->setObjectName(QStringLiteral("lblStopped"));
    lblStopped->setGeometry(design(195, 1245, 1545, 195));
    lblStopped->setStyleSheet(QStringLiteral("color: %1; font-size: 9px;").arg(ImageButton::frameColour.name()));
    lblStopped->hide();

    const auto button = [this](const char* name, const QRect& place, void (frmMain::*onUp)()) {
        return mdDesign::imageButton(app, this, name, place, onUp);
    };
    btnFindPath = button("btnFindPath", design(3075, 1080, 840, 180), &frmMain::btnFindPath_MouseUp);
    btnDelete = button("btnDelete", design(3075, 1245, 840, 180), &frmMain::btnDelete_MouseUp);
    btnSearch = button("btnSearch", design(2010, 1245, 840, 180), &frmMain::btnSearch_MouseUp);
    btnAllow = button("btnAllow", design(345, 1530, 1650, 420), &frmMain::btnAllow_MouseUp);
    btnDeny = button("btnDeny", design(2220, 1530, 1650, 420), &frmMain::btnDeny_MouseUp);
    btnAllowNow = button("btnAllowNow", design(345, 1950, 1650, 420), &frmMain::btnAllowNow_MouseUp);
    btnDenyNow = button("btnDenyNow", design(2220, 1950, 1650, 420), &frmMain::btnDenyNow_MouseUp);
    btnClose = button("btnClose", design(3885, 45, 270, 270), &frmMain::btnClose_MouseUp);
    QWidget* const order[] = {btnAllow, btnDeny, btnAllowNow, btnDenyNow, btnSearch, btnDelete, btnFindPath, btnClose};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(&guard, &Guard::alertWanted, this, &frmMain::ShowMsg);
    connect(&guard, &Guard::alertHidden, this, &frmMain::hideAlert);
    connect(&guard, &Guard::trustWanted, this, &frmMain::offerTrust);
    connect(&guard, &Guard::alwaysTopChanged, this, &frmMain::setAlwaysTop);
    guard.loadSkin = [this] {
        mdDesign::frmSkin(app, this);
        mdDesign::frmBalloon(app, this);
    };
}

frmMain::~frmMain() = default;

void frmMain::closeEvent(QCloseEvent* event)
{
    // Closed from outside (a window manager's close): the same as Close, so
    // the scan goes on; the window is never destroyed this way.
    event->ignore();
    if (isVisible())
        btnClose_MouseUp();
}

void frmMain::showEvent(QShowEvent* event)
{
    guard.alertUp = true;
    QWidget::showEvent(event);
}

void frmMain::hideEvent(QHideEvent* event)
{
    guard.alertUp = false;
    QWidget::hideEvent(event);
}

void frmMain::setAlwaysTop(bool top)
{
    // Qt hides a shown window whose flags change: the alert comes back.
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, top);
    if (shown)
        show();
}
