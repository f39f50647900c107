// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/frmSettings.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/Guard.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <algorithm>

using namespace mdSettings;
using namespace mdFailures;

namespace {
const QColor kWarning{255, 160, 120};
} // namespace

frmSettings::frmSettings(App& application, Guard& core, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), app(application), guard(core)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    // The rows scroll, so a small screen (or a large scale) only shortens the window.
    const QRect area = app.sys.desktop.availableGeometry();
    setFixedSize(std::min(620, std::max(area.width() - 20, 400)), std::min(580, std::max(area.height() - 40, 240)));
    mdDesign::skinWindow(app, this, QStringLiteral(
        "QLabel#meaning { color: rgb(196, 200, 236); }"
        "QLabel#reason, QLabel#lblMessage { color: %3; }"
        "QLineEdit { background: %1; color: white; border: 1px solid rgb(80, 80, 170); border-radius: 2px;"
        " padding: 1px 3px; selection-background-color: %2; selection-color: black; }"
        "QLineEdit:focus { border-color: %2; }"
        "QPushButton { background: %1; color: white; border: 1px solid %2; border-radius: 3px; padding: 4px 14px; }"
        "QPushButton:pressed { background: %2; color: black; }"
        "QPushButton:focus { border-width: 2px; }"
        "QScrollArea { background: transparent; border: none; }")
                      .arg(mdDesign::kSkinPanel.name(), ImageButton::frameColour.name(), kWarning.name())
                  + mdDesign::scrollBarStyle(),
        [this] { btnCancel_Click(); });

    auto* title = new QLabel(QStringLiteral("Settings"), this);
    QFont bold = title->font();
    bold.setBold(true);
    if (bold.pointSizeF() > 0)   // a font sized in pixels has no point size
        bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);

    lblMessage = new QLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setWordWrap(true);
    lblMessage->setTextFormat(Qt::PlainText);
    lblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblMessage->hide();

    scrRows = new QScrollArea(this);
    scrRows->setWidgetResizable(true);
    scrRows->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrRows->setFocusPolicy(Qt::NoFocus);   // Tab goes to the fields in it

    const auto button = [this](const QString& text, void (frmSettings::*onClick)()) {
        auto* pushButton = new QPushButton(text, this);
        pushButton->setCursor(Qt::PointingHandCursor);
        connect(pushButton, &QPushButton::clicked, this, onClick);
        return pushButton;
    };
    btnEditor = button(QStringLiteral("Open in editor"), &frmSettings::btnEditor_Click);
    btnReload = button(QStringLiteral("Reload"), &frmSettings::Form_Load);
    btnSave = button(QStringLiteral("Save"), &frmSettings::btnSave_Click);
    btnCancel = button(QStringLiteral("Cancel"), &frmSettings::btnCancel_Click);
    btnEditor->setToolTip(app.file(QStringLiteral("settings.ini")));
    btnReload->setToolTip(QStringLiteral("Shows the file as it is now; what you typed here is lost"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnEditor);
    buttons->addWidget(btnReload);
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 14);
    layout->addWidget(title);
    layout->addWidget(lblMessage);
    layout->addWidget(scrRows, 1);
    layout->addLayout(buttons);

    btnClose = mdDesign::imageButton(app, this, "btnClose", {width() - 21, 3, 18, 18}, &frmSettings::btnCancel_Click,
                                     QStringLiteral("Close"));

    mdFailures::guarded(app, "frmSettings", "Form_Load", [&] {
        mdDesign::frmSkin(app, this);
        mdDesign::frmBalloon(app, this);
    });
    Form_Load();
}

QString frmSettings::path() const
{
    return app.file(QStringLiteral("settings.ini"));
}

void frmSettings::say(const QString& text)
{
    lblMessage->setText(text);
    lblMessage->setVisible(!text.isEmpty());
}

void frmSettings::Form_Load()
{
    rows.clear();
    say(QString());
    btnReload->hide();
    loaded_ = app.sys.files.readBytes(path()).value_or(QByteArray());

    auto* box = new QWidget;
    box->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* list = new QVBoxLayout(box);
    list->setContentsMargins(0, 4, 10, 4);
    list->setSpacing(9);
    QFont small = font();
    small.setPixelSize(11);
    std::vector<FileSetting> settings = fileSettings(loaded_);
    // What the administrator fixes shows too where the file lacks it.
    QStringList fixedKeys = app.policy.fixedKeys();
    fixedKeys.sort();
    for (const QString& key : std::as_const(fixedKeys))
        if (knownSetting(key) && std::ranges::none_of(settings, [&](const FileSetting& s) { return Collection::lower(s.key) == key; }))
            settings.push_back({key, QString(), QStringLiteral("(set by the administrator)")});
    int keyWidth = 0;
    for (const FileSetting& setting : settings)
        keyWidth = std::max(keyWidth, fontMetrics().horizontalAdvance(setting.key));
    for (const FileSetting& setting : settings) {
        Row row{setting.key, setting.value};
        const auto fixed = knownSetting(setting.key) ? app.policy.fixed(setting.key) : std::nullopt;
        if (fixed) {
            // Shown as in effect, and never written: the field holds what the row holds.
            row.value = *fixed;
            row.fixedBy = app.policy.fixedFrom();
        }
        // One line: the key, the value with its reason under it, the meaning.
        auto* line = new QHBoxLayout;
        line->setSpacing(12);
        list->addLayout(line);
        auto* key = new QLabel(setting.key, box);
        key->setTextInteractionFlags(Qt::TextSelectableByMouse);
        key->setTextFormat(Qt::PlainText);   // the file's text, never markup
        key->setFixedWidth(keyWidth + 2);
        line->addWidget(key, 0, Qt::AlignTop);
        auto* value = new QVBoxLayout;
        value->setSpacing(2);
        line->addLayout(value);
        QWidget* shown;
        if (knownSetting(setting.key)) {
            row.field = new QLineEdit(row.value, box);
            row.field->setObjectName(setting.key);
            row.field->setCursorPosition(0);
            row.field->setToolTip(row.value);
            row.field->setReadOnly(fixed.has_value());
            connect(row.field, &QLineEdit::textChanged, this, &frmSettings::validate);
            connect(row.field, &QLineEdit::returnPressed, this, &frmSettings::btnSave_Click);
            // Named by its key, and described by the meaning beside it.
            key->setBuddy(row.field);
            row.field->setAccessibleDescription(
                fixed ? setting.comment + QStringLiteral(" Fixed by the administrator in ") + row.fixedBy : setting.comment);
            shown = row.field;
        } else {
            auto* text = new QLabel(setting.value, box);   // not read by this program: kept as it is
            text->setIndent(4);
            text->setTextFormat(Qt::PlainText);
            shown = text;
        }
        shown->setFixedWidth(180);
        value->addWidget(shown);
        // The key stands level with the text in its field.
        key->setMinimumHeight(shown->sizeHint().height());
        row.reason = new QLabel(box);
        row.reason->setObjectName(QStringLiteral("reason"));
        row.reason->setFont(small);
        row.reason->setWordWrap(true);
        row.reason->setTextFormat(Qt::PlainText);
        row.reason->setFixedWidth(180);
        row.reason->hide();
        value->addWidget(row.reason);
        value->addStretch();
        auto* meaning = new QLabel(setting.comment.isEmpty() ? QStringLiteral("(not used by this program)")
                                                             : setting.comment, box);
        meaning->setObjectName(QStringLiteral("meaning"));
        meaning->setFont(small);
        meaning->setWordWrap(true);
        meaning->setTextFormat(Qt::PlainText);
        line->addWidget(meaning, 1, Qt::AlignTop);
        rows.push_back(row);
    }
    list->addStretch();
    scrRows->setWidget(box);   // the old rows go with their box
    // The fields, made after the buttons, come first: Tab goes down them, then to the buttons.
    QWidgetList order;
    for (const Row& row : rows)
        if (row.field)
            order << row.field;
    if (!order.isEmpty())
        order.front()->setFocus();
    order << btnEditor << btnReload << btnSave << btnCancel;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    if (rows.empty())
        say(QStringLiteral("No settings could be read from ") + path());
    validate();
}

bool frmSettings::validate()
{
    QHash<QString, QString> values;
    QHash<QString, int> seen;
    for (const Row& row : rows) {
        values.insert(Collection::lower(row.key), row.field ? row.field->text().trimmed() : row.value);
        ++seen[Collection::lower(row.key)];
    }
    bool good = true;
    for (const Row& row : rows) {
        QString reason = row.field ? checkSetting(row.key, row.field->text().trimmed(), values) : QString();
        // The program stops at start when a key is written twice.
        if (seen.value(Collection::lower(row.key)) > 1)
            reason = QStringLiteral("set more than once in the file: remove all but one line, then Reload");
        good = good && reason.isEmpty();
        // Told, no bar to Save: a user who changes the level learns what it costs before the alerts come.
        if (reason.isEmpty() && row.field && row.key == QLatin1String("list_level") && row.field->text().trimmed() != row.value)
            reason = QStringLiteral("records kept at level %1 stop matching: their programs are asked about again")
                         .arg(row.value);
        if (reason.isEmpty() && !row.fixedBy.isEmpty())
            reason = QStringLiteral("fixed by the administrator in ") + row.fixedBy;
        // A blank around a name makes another key, which the program never reads: told, but no bar to Save.
        if (reason.isEmpty() && !row.field && knownSetting(row.key.trimmed()))
            reason = QStringLiteral("not read: the program knows \u201c%1\u201d only without blanks around it; "
                                    "remove them in the editor").arg(row.key.trimmed());
        row.reason->setText(reason);
        row.reason->setVisible(!reason.isEmpty());
    }
    return good;
}

bool frmSettings::edited() const
{
    return std::ranges::any_of(rows, [](const Row& row) { return row.field && row.field->text().trimmed() != row.value; });
}

void frmSettings::btnSave_Click()
{
    if (!validate()) {
        say(QStringLiteral("Not saved: correct the values marked below first."));
        return;
    }
    QHash<QString, QString> changes;
    for (const Row& row : rows)
        if (row.field && row.field->text().trimmed() != row.value)
            changes.insert(row.key, row.field->text().trimmed());
    QString failure;
    // Changes go into the file as it is now, so an edit made meanwhile in the
    // editor to another line stays.
    QByteArray written;
    const bool saved = guarded(app, "frmSettings", "btnSave_Click", [&] {
        const auto bytes = app.sys.files.readBytes(path());
        if (!bytes)
            fail(QStringLiteral("File not found: ") + path());
        written = changes.isEmpty() ? *bytes : rewriteSettings(*bytes, changes);
        if (!changes.isEmpty())
            app.sys.files.writeBytes(path(), written, true);
    }, &failure);
    if (!saved) {
        say(QStringLiteral("Not saved, the file is as it was: ") + failure);
        return;
    }
    // The rows stand for the file as saved: a window that stays open takes the save for no change made outside it.
    loaded_ = written;
    for (Row& row : rows)
        if (row.field)
            row.value = row.field->text().trimmed();
    // The program goes on with what the file holds now.
    const Collection before = app.settingList;
    app.settingList = Collection();
    if (!getSettings(app)) {
        app.settingList = before;
        say(QStringLiteral("Saved, but the file could not be read back: the old values stay in effect."));
        return;
    }
    bool entry = true;
    if (!guarded(app, "frmMain", "applySettings", [&] { entry = guard.applySettings(); }, &failure)) {
        say(QStringLiteral("Saved, but not all of it is in effect: ") + failure);
        return;
    }
    emit applied();
    // All else is in effect; a window that closed would tell nothing of the entry.
    if (!entry) {
        say(QStringLiteral("Saved and in effect, but the log-in entry in %1 could not be changed: see error.log.")
                .arg(app.sys.env.startupFolder()));
        return;
    }
    unload();
}

void frmSettings::btnCancel_Click()
{
    mdDesign::loadImage(app, btnClose);
    unload();
}

void frmSettings::btnEditor_Click()
{
    if (app.sys.shell.open(path()))
        say(QStringLiteral("Opened in your editor. Save it there, then come back: this window shows the changes."));
    else
        say(QStringLiteral("No editor could be started for %1. Open it with a text editor yourself, or set one "
                           "for plain text (xdg-mime default <editor>.desktop text/plain).")
                .arg(path()));
}

void frmSettings::checkFile()
{
    const QByteArray now = app.sys.files.readBytes(path()).value_or(QByteArray());
    if (now == loaded_)
        return;
    if (!edited()) {
        Form_Load();
        say(QStringLiteral("The file was changed outside this window; it is shown as it is now."));
        return;
    }
    say(QStringLiteral("The file was changed outside this window. Reload shows it as it is now; Save puts "
                       "the values you changed here into it."));
    btnReload->show();
}

void frmSettings::unload()
{
    hide();
    emit unloaded();
    deleteLater();
}

void frmSettings::closeEvent(QCloseEvent* event)
{
    // Closed from outside: the same as Cancel.
    event->ignore();
    if (isVisible())
        btnCancel_Click();
}

void frmSettings::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        checkFile();
}
