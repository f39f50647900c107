// SPDX-License-Identifier: GPL-3.0-or-later
#include "lists/frmList.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/WebLookup.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

#include <QToolButton>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSet>
#include <algorithm>
#include <utility>

using mdFailures::guarded;

namespace {

const frmList::Traits kAllow{"frmAllowList", "Allow List of Applications", "allow", &App::allowList, &App::allowTmp,
                             &App::denyList, &App::denyTmp, "allow.csv", "deny.csv", "btnDenyEntry",
                             "btnDenyEntry_MouseUp"};
const frmList::Traits kDeny{"frmDenyList", "Deny List of Applications", "deny", &App::denyList, &App::denyTmp,
                            &App::allowList, &App::allowTmp, "deny.csv", "allow.csv", "btnAllowEntry",
                            "btnAllowEntry_MouseUp"};
// Monitor mode's list is its own working copy: nothing reads it at a tick.
const frmList::Traits kSeen{"frmSeenList", "Programs Seen in Monitor Mode", "see", &App::seenList, &App::seenList,
                            &App::allowList, &App::allowTmp, "seen.csv", "allow.csv", "btnAllowEntry",
                            "btnAllowEntry_MouseUp"};

// The table, its header, the filter and the scroll bars on the skin's panel.
QString skinStyle()
{
    return QStringLiteral(
               "QLabel#lblEmpty { color: #b8c0e0; background: transparent; }"
               "QTableView { background: %1; color: white; border: none; gridline-color: %1;"
               " selection-background-color: %2; selection-color: white; }"
               "QHeaderView { background: rgb(24, 32, 84); }"   // beyond the last column too
               "QHeaderView::section { background: rgb(24, 32, 84); color: white; border: none;"
               " border-right: 1px solid %1; padding: 1px 4px; }"
               "QLineEdit { background: %1; color: white; border: 1px solid %3; border-radius: 3px; padding: 0 4px; }")
               .arg(mdDesign::kSkinPanel.name(), ImageButton::frameColour.darker(220).name(),
                    ImageButton::frameColour.darker(160).name())
        + mdDesign::scrollBarStyle();
}

// Whether `list` holds `record`, letter case and all, as the file system tells names apart.
bool holds(const Collection& list, const QString& record)
{
    return std::any_of(list.begin(), list.end(), [&](const QString& item) { return item == record; });
}

} // namespace

const frmList::Traits& frmList::traits(Kind kind)
{
    return kind == Kind::Allow ? kAllow : kind == Kind::Deny ? kDeny : kSeen;
}

frmList::frmList(App& application, Guard& core, Kind listKind, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), app(application), guard(core), kind(listKind),
      t(traits(listKind))
{
    setObjectName(QLatin1String(t.window));
    setFixedSize(560, 360);
    mdDesign::skinWindow(app, this, skinStyle(), [this] { btnClose_MouseUp(); });

    lblList = new QLabel(this);
    lblList->setObjectName(QStringLiteral("lblList"));
    lblList->setGeometry(15, 12, 470, 20);

    txtFilter = new QLineEdit(this);
    txtFilter->setObjectName(QStringLiteral("txtFilter"));
    txtFilter->setGeometry(15, 41, 530, 22);
    txtFilter->setPlaceholderText(QStringLiteral("Filter"));
    txtFilter->setClearButtonEnabled(true);
    txtFilter->setAccessibleName(QStringLiteral("Filter"));
    for (QToolButton* clear : txtFilter->findChildren<QToolButton*>())
        clear->setAccessibleName(QStringLiteral("Clear the filter"));
    connect(txtFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        rows.setText(text);
        showCount();
    });

    rows.setSourceModel(&records);
    List = new QTableView(this);
    List->setObjectName(QStringLiteral("List"));
    List->setGeometry(15, 66, 530, 244);
    List->setModel(&rows);
    List->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    // The arrows move inside the table; Tab goes on to the buttons.
    List->setTabKeyNavigation(false);
    List->setAccessibleName(QString::fromLatin1(t.title));
    List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List->setShowGrid(false);
    List->setWordWrap(false);
    // Long paths and hashes lose their middle, and the table never scrolls
    // sideways, so the name stays in view; a tooltip shows the whole field.
    List->setTextElideMode(Qt::ElideMiddle);
    List->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List->setFrameShape(QFrame::NoFrame);
    List->verticalHeader()->hide();
    // Rows of one height: a long list costs no measuring.
    List->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    List->verticalHeader()->setDefaultSectionSize(List->fontMetrics().height() + 4);
    QHeaderView* header = List->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(ListModel::Path, QHeaderView::Stretch);
    header->setMinimumSectionSize(24);
    header->resizeSection(ListModel::Name, 140);
    header->resizeSection(ListModel::Hash, 100);
    // A date and a size are as wide as their widest form in this font.
    for (const auto& [column, widest] : {std::pair(ListModel::Date, "0000.00.00 00:00"), std::pair(ListModel::Size, "000.00M")})
        header->resizeSection(column, List->fontMetrics().horizontalAdvance(QLatin1String(widest)) + 14);
    List->setSortingEnabled(true);
    List->sortByColumn(ListModel::Name, Qt::AscendingOrder);
    // Escape from wherever the focus is; Delete only in the table.
    installEventFilter(this);
    List->installEventFilter(this);
    connect(List, &QTableView::doubleClicked, this, [this] { List_DblClick(); });

    // A larger system font makes the title, the filter and the rows taller:
    // the window grows by what they need, so ten rows stay whole.
    ensurePolished();
    lblList->resize(lblList->width(), std::max(lblList->height(), lblList->sizeHint().height()));
    txtFilter->setGeometry(txtFilter->x(), std::max(txtFilter->y(), lblList->geometry().bottom() + 9), txtFilter->width(),
                           std::max(txtFilter->height(), txtFilter->sizeHint().height()));
    const int tenRows = header->sizeHint().height() + 10 * List->verticalHeader()->defaultSectionSize();
    List->setGeometry(List->x(), txtFilter->geometry().bottom() + 4, List->width(), std::max(List->height(), tenRows));
    const int taller = List->geometry().bottom() + 1 - 310;
    setFixedSize(560, 360 + taller);

    lblEmpty = new QLabel(this);
    lblEmpty->setObjectName(QStringLiteral("lblEmpty"));
    lblEmpty->setGeometry(List->geometry().adjusted(20, 30, -20, -30));
    lblEmpty->setAlignment(Qt::AlignCenter);
    lblEmpty->setWordWrap(true);
    lblEmpty->setTextFormat(Qt::PlainText);   // it quotes the filter as typed
    lblEmpty->setAttribute(Qt::WA_TransparentForMouseEvents);

    const QString other = kind == Kind::Allow ? QStringLiteral("deny") : QStringLiteral("allow");
    btnMoveEntry = mdDesign::imageButton(app, this, t.moveButton, {15, 322 + taller, 110, 28}, &frmList::btnMoveEntry_MouseUp,
                                         QStringLiteral("Move to the %1 list").arg(other));
    btnMoveEntry->resize(110, 28);
    btnDelEntry = mdDesign::imageButton(app, this, "btnDelEntry", {135, 322 + taller, 110, 28}, &frmList::btnDelEntry_MouseUp,
                                        QStringLiteral("Delete"));
    btnDelEntry->resize(110, 28);
    btnAddEntry = mdDesign::imageButton(app, this, "btnAddEntry", {255, 322 + taller, 110, 28}, &frmList::btnAddEntry_MouseUp,
                                        QStringLiteral("Add\u2026"));
    btnAddEntry->resize(110, 28);
    btnClose = mdDesign::imageButton(app, this, "btnClose", {536, 6, 18, 18}, &frmList::btnClose_MouseUp,
                                     QStringLiteral("Close"));
    btnClose->resize(18, 18);
    if (kind == Kind::Seen) {
        // One action: allow what was seen.
        btnDelEntry->hide();
        btnAddEntry->hide();
        const auto caption = [this] {
            btnMoveEntry->setText(List->selectionModel()->hasSelection() ? QStringLiteral("Allow the selected")
                                                                        : QStringLiteral("Allow all"));
        };
        connect(List->selectionModel(), &QItemSelectionModel::selectionChanged, this, caption);
        caption();
    }

    Form_Load();
    showCount();
}

bool frmList::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            btnClose_MouseUp();
            return true;
        }
        // In the filter box Delete edits the text.
        if (key == Qt::Key_Delete && watched == List) {
            btnDelEntry_MouseUp();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmList::Form_Load()
{
    guarded(app, t.window, "Form_Load", [&] {
        mdDesign::frmSkin(app, this);
        mdDesign::frmBalloon(app, this);
        lblList->setText(QString::fromLatin1(t.title));
    });
}

void frmList::listLoad()
{
    guarded(app, t.window, "listLoad", [&] {
        std::vector<ListModel::SystemRecord> system;
        if (kind != Kind::Seen) {
            const auto verdict = kind == Kind::Allow ? Policy::Verdict::Allow : Policy::Verdict::Deny;
            const Collection& list = app.policy.list(verdict);
            system.reserve(std::size_t(list.count()));
            for (int at = 1; at <= list.count(); ++at)
                system.push_back({list.item(at), app.policy.origin(verdict, at)});
        }
        records.setRecords(own(), system);
        // Only the columns that some record fills.
        for (int column = ListModel::Date; column < ListModel::Columns; ++column)
            List->setColumnHidden(column, !records.filled(ListModel::Column(column)));
        showCount();
    });
}

void frmList::showCount()
{
    const int all = records.rowCount();
    const int shown = rows.rowCount();
    const QString count = shown == all ? QString::number(all) : QStringLiteral("%1 of %2").arg(shown).arg(all);
    const QString title = QStringLiteral("%1 (%2)").arg(QString::fromLatin1(t.title), count);
    lblList->setText(title);
    setWindowTitle(title);
    const QString empty = kind == Kind::Seen
        ? QStringLiteral("Nothing seen yet. In monitor mode each program the guard would have ended or asked "
                         "about appears here.")
        : QStringLiteral("The %1 list is empty. Programs you %1 in an alert, or add with Add\u2026, appear here.")
              .arg(QString::fromLatin1(t.verb));
    lblEmpty->setText(all == 0 ? empty : QStringLiteral("No record holds \u201c%1\u201d.").arg(rows.text()));
    lblEmpty->setVisible(shown == 0);
}

QStringList frmList::shownRecords() const
{
    QStringList shown;
    shown.reserve(rows.rowCount());
    for (int row = 0; row < rows.rowCount(); ++row)
        shown << rows.index(row, 0).data(ListModel::RecordRole).toString();
    return shown;
}

QStringList frmList::selectedRecords() const
{
    QModelIndexList selected = List->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end());
    QStringList picked;
    int fixed = 0;
    for (const QModelIndex& row : selected) {
        if (!row.data(ListModel::OriginRole).toString().isEmpty())
            ++fixed;
        else
            picked << row.data(ListModel::RecordRole).toString();
    }
    if (fixed)
        app.sys.desktop.message(QString::fromLatin1(t.title),
                                QStringLiteral("%1 of the selected records %2 the administrator's, set in %3: they "
                                               "stay as they are.")
                                    .arg(fixed)
                                    .arg(QLatin1String(fixed == 1 ? "is" : "are"))
                                    .arg(app.sys.program.folders().policy));
    return picked;
}

QStringList frmList::seenRecords() const
{
    if (List->selectionModel()->hasSelection())
        return selectedRecords();
    return shownRecords();
}

QString frmList::systemDecides(const QString& record) const
{
    const Policy::Decision fixed = app.policy.fixedVerdict(record, QString());
    if (fixed.verdict == Policy::Verdict::None)
        return QString();
    return QStringLiteral("The system decides about %1: the administrator %2 it in %3. Your lists do not change that.")
        .arg(record.section(QLatin1Char('|'), 0, 0),
             QLatin1String(fixed.verdict == Policy::Verdict::Allow ? "allows" : "denies"), fixed.rule);
}

void frmList::select(const QString& record)
{
    for (int row = 0; row < rows.rowCount(); ++row) {
        const QModelIndex at = rows.index(row, 0);
        if (at.data(ListModel::RecordRole).toString() == record) {
            List->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            List->scrollTo(at);
            return;
        }
    }
}

void frmList::removeOwn(const QStringList& records)
{
    // One pass over each list: removing the records one by one costs a pass
    // (and a fresh search index) per record, minutes for thousands of rows.
    QSet<QString> doomed;
    for (const QString& record : records)
        doomed.insert(record);
    for (Collection* list : {&own(), &(app.*(t.ownTmp))}) {
        Collection kept;
        for (const QString& record : std::as_const(*list))
            if (!doomed.contains(record))
                kept.add(record);
        *list = std::move(kept);
    }
}

void frmList::btnMoveEntry_MouseUp()
{
    mdDesign::loadImage(app, btnMoveEntry);
    guarded(app, t.window, t.moveProcedure, [&] {
        QStringList picked = kind == Kind::Seen ? seenRecords() : selectedRecords();
        if (picked.size() > 1 && kind == Kind::Seen && !List->selectionModel()->hasSelection()
            && !app.sys.desktop.askYesNo(QString::fromLatin1(t.title),
                                         QStringLiteral("Allow all %1 programs?").arg(picked.size())))
            return;
        // What the administrator decides stays where it is, told once.
        QStringList decided;
        picked.removeIf([&](const QString& record) {
            const QString why = systemDecides(record);
            if (!why.isEmpty())
                decided << why;
            return !why.isEmpty();
        });
        if (!decided.isEmpty())
            app.sys.desktop.message(QString::fromLatin1(t.title),
                                    decided.size() == 1 ? decided.front()
                                                        : decided.front()
                                                              + QStringLiteral(" %1 more records stay for the same "
                                                                               "reason.")
                                                                    .arg(decided.size() - 1));
        // Each save takes in what another program wrote meanwhile.
        for (const QString& record : picked) {
            (app.*(t.otherTmp)).add(record);
            (app.*(t.other)).add(record);
        }
        removeOwn(picked);
        // The list that received the records counts their use; each save
        // fills the open window of its list again.
        mdLists::putList(app, own(), QString::fromLatin1(t.ownFile), false);
        mdLists::putList(app, app.*(t.other), QString::fromLatin1(t.otherFile), true);
    });
}

void frmList::btnDelEntry_MouseUp()
{
    mdDesign::loadImage(app, btnDelEntry);
    guarded(app, t.window, "btnDelEntry_MouseUp", [&] {
        const QStringList doomed = selectedRecords();
        // A slip of Ctrl+A must not empty a list unasked.
        if (doomed.size() > 1
            && !app.sys.desktop.askYesNo(QString::fromLatin1(t.title),
                                         QStringLiteral("Delete %1 records from the %2 list?")
                                             .arg(doomed.size())
                                             .arg(QString::fromLatin1(t.verb))))
            return;
        removeOwn(doomed);
        mdLists::putList(app, own(), QString::fromLatin1(t.ownFile), false);
    });
}

void frmList::btnAddEntry_MouseUp()
{
    mdDesign::loadImage(app, btnAddEntry);
    const QString path = app.sys.desktop.pickFile(QStringLiteral("Add a program to the %1 list").arg(QString::fromLatin1(t.verb)),
                                                  guard.dirSystem);
    if (!path.isEmpty())
        addFile(path);
}

void frmList::addFile(const QString& path)
{
    guarded(app, t.window, "btnAddEntry_MouseUp", [&] {
        // The record of the file itself, not of any process.
        HashCache::State hash;
        const QString record = guard.hashedRecord(0, QFileInfo(path).fileName(), path, hash);
        if (hash == HashCache::State::Pending) {
            // Ready at the next computation that ends, or at one after it.
            connect(&app.hashes, &HashCache::ready, this, [this, path] { addFile(path); },
                    Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
            return;
        }
        if (hash == HashCache::State::Failed) {
            app.sys.desktop.message(QString::fromLatin1(t.title),
                                    QStringLiteral("%1 could not be read to compute its SHA-256; nothing was added.")
                                        .arg(path));
            return;
        }
        if (!mdLists::storable(record)) {
            app.sys.desktop.message(QString::fromLatin1(t.title),
                                    QStringLiteral("%1 can't be kept in a list file (%2); nothing was added.")
                                        .arg(path, mdLists::unstorable(record)));
            return;
        }
        txtFilter->clear();
        // Whether the other list holds it, as its file has it now.
        mdLists::reloadChanged(app);
        if (const QString why = systemDecides(record); !why.isEmpty()) {
            app.sys.desktop.message(QString::fromLatin1(t.title), why);
            return;
        }
        if (holds(app.*(t.other), record)) {
            app.sys.desktop.message(QString::fromLatin1(t.title),
                                    QStringLiteral("%1 is on the %2 list already; move it from that list's window "
                                                   "to change what it is.")
                                        .arg(record.section(QLatin1Char('|'), 0, 0),
                                             QLatin1String(kind == Kind::Allow ? "deny" : "allow")));
            return;
        }
        if (!holds(own(), record)) {
            (app.*(t.ownTmp)).add(record);
            own().add(record);
            mdLists::putList(app, own(), QString::fromLatin1(t.ownFile), true);
        }
        select(record);
    });
}

void frmList::btnClose_MouseUp()
{
    mdDesign::loadImage(app, btnClose);
    // Unloaded: the next opening builds it afresh.
    hide();
    emit unloaded();
    deleteLater();
}

void frmList::List_DblClick()
{
    guarded(app, t.window, "List_DblClick", [&] {
        if (!WebLookup::allowed(app))
            return;
        const QModelIndex row = List->currentIndex();
        if (row.isValid())
            WebLookup::open(app, WebLookup::url(app, {guard.dirSystem, guard.dirWindows}, WebLookup::fromRecord(row.data(ListModel::RecordRole).toString())));
    });
}
