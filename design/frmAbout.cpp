// SPDX-License-Identifier: GPL-3.0-or-later
#include "design/frmAbout.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/GateLink.h"
#include "guard/Guard.h"
#include "guard/WebLookup.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

#include <ranges>

using mdFailures::guarded;

frmAbout::frmAbout(App& application, Guard& core, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), app(application), guard(core)
{
    setObjectName(QStringLiteral("frmAbout"));
    setFixedSize(280, 168);
    mdDesign::skinWindow(app, this, QStringLiteral("QPlainTextEdit { background: transparent; color: white; border: none; }"),
                         [this] { btnClose_MouseUp(); });

    lblAbout = new QLabel(this);
    lblAbout->setObjectName(QStringLiteral("lblAbout"));
    lblAbout->setGeometry(14, 20, 220, 22);

    txtAbout = new QPlainTextEdit(this);
    txtAbout->setObjectName(QStringLiteral("txtAbout"));
    mdDesign::textBox(txtAbout, {18, 48, 245, 81});
    txtAbout->setAccessibleName(QStringLiteral("About"));

    btnContact = mdDesign::imageButton(app, this, "btnContact", {142, 137, 18, 18}, &frmAbout::btnContact_MouseUp,
                                       QStringLiteral("Contact"));
    btnContact->setToolTip(QStringLiteral("Writes an e-mail to ") + QLatin1String(kContact));
    btnWeb = mdDesign::imageButton(app, this, "btnWeb", {205, 137, 18, 18}, &frmAbout::btnWeb_MouseUp,
                                   QStringLiteral("Report"));
    btnWeb->setToolTip(QStringLiteral("Opens a problem report on the web, with the error log"));
    btnClose = mdDesign::imageButton(app, this, "btnClose", {259, 3, 18, 18}, &frmAbout::btnClose_MouseUp,
                                     QStringLiteral("Close"));

    Form_Load();
}

void frmAbout::Form_Load()
{
    guarded(app, "frmAbout", "Form_Load", [&] {
        mdDesign::frmBalloon(app, this);
        mdDesign::frmSkin(app, this);
        auto& program = app.sys.program;
        lblAbout->setText(program.productTitle() + QLatin1Char(' ') + QString::number(program.versionMajor())
                          + QLatin1Char('.') + QString::number(program.versionMinor()));
        // The title takes the width up to the close button; a system font too large for it shrinks until the title is whole.
        lblAbout->setFont(font());
        lblAbout->setFixedWidth(btnClose->x() - lblAbout->x() - 4);
        QFont title = lblAbout->font();
        while (title.pointSizeF() > 6 && QFontMetrics(title).horizontalAdvance(lblAbout->text()) > lblAbout->width()) {
            title.setPointSizeF(title.pointSizeF() - 0.5);
            lblAbout->setFont(title);
        }
        txtAbout->setPlainText(program.description() + QStringLiteral("\n\n") + GateLink::stateText(guard.gateLink)
                               + QStringLiteral(" in this session.\n\n")
                               + QStringLiteral("Mirvak Software. All rights reserved."));
    });
}

void frmAbout::btnContact_MouseUp()
{
    mdDesign::loadImage(app, btnContact);
    app.sys.shell.open(QStringLiteral("mailto:") + QLatin1String(kContact));
}

void frmAbout::btnWeb_MouseUp()
{
    mdDesign::loadImage(app, btnWeb);
    guarded(app, "frmAbout", "btnWeb_MouseUp", [&] {
        const QString log = app.file(QStringLiteral("error.log"));
        const QStringList entries = app.sys.files.readLines(log).value_or(QStringList());
        const QString report = WebLookup::url(app, {guard.dirSystem, guard.dirWindows}, std::nullopt);
        const auto withNewest = [&](qsizetype count) {
            return report + entries.first(count).join(QStringLiteral("%0A"));
        };
        // The log is newest first: the report carries as many of its first
        // lines as the shell can hand over in one argument.
        const auto counts = std::views::iota(qsizetype(1), entries.size() + 1);
        const qsizetype sent = std::ranges::partition_point(counts, [&](qsizetype count) {
                                   return app.sys.shell.canOpen(withNewest(count));
                               }) - counts.begin();
        WebLookup::open(app, withNewest(sent));
        // What was handed over is not kept for a second attempt; the older
        // entries wait for the next report.
        const QStringList rest = entries.sliced(sent);
        if (rest.join(QString()).isEmpty()) {
            if (mdSettings::fileExists(app, log))
                app.sys.files.remove(log);
        } else if (sent > 0) {
            app.sys.files.writeText(log, platform::joinLinesCrlf(rest));
        }
    });
}

void frmAbout::btnClose_MouseUp()
{
    mdDesign::loadImage(app, btnClose);
    hide();
    emit unloaded();
    deleteLater();
}
