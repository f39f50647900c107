#include "lists/frmList.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/WebLookup.h"
#include "store/mdCollection.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextOption>
#include <algorithm>

using mdSettings::guarded;

namespace {

const frmList::Traits kAllow{"frmAllowList", "Allow List of Applications", &App::allowList, &App::allowTmp,
                             &App::denyList, &App::denyTmp, "allow.csv", "btnDenyEntry", "btnDenyEntry_MouseUp",
                             true};
const frmList::Traits kDeny{"frmDenyList", "Deny List of Applications", &App::denyList, &App::denyTmp,
                            &App::allowList, &App::allowTmp, "deny.csv", "btnAllowEntry", "btnAllowEntry_MouseUp",
                            false};

const QChar kTab = QLatin1Char('\t');

// Rows whose tabs stop at fixed columns, and whose width is the list's
// horizontal extent, so the view scrolls over exactly that width.
class RowDelegate : public QStyledItemDelegate {
public:
    RowDelegate(const frmList& window, QObject* parent) : QStyledItemDelegate(parent), window_(window) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style)
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        QTextOption textOption(Qt::AlignLeft | Qt::AlignVCenter);
        textOption.setWrapMode(QTextOption::NoWrap);
        // A short name takes two tabs and a long one is cut to end before the
        // second stop, so one tab plus two blanks puts every second field in line.
        textOption.setTabStopDistance(window_.W(QString(kTab)) + window_.W(QStringLiteral("  ")));
        painter->save();
        painter->setPen(Qt::white);
        painter->setFont(opt.font);
        painter->drawText(QRectF(opt.rect).adjusted(2, 0, 0, 0), text, textOption);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(window_.horizontalExtent);
        return size;
    }

private:
    const frmList& window_;
};

} // namespace

const frmList::Traits& frmList::traits(Kind kind)
{
    return kind == Kind::Allow ? kAllow : kDeny;
}

frmList::frmList(App& application, frmMain& mainWindow, Kind listKind, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), app(application), main(mainWindow), kind(listKind),
      t(traits(listKind))
{
    setObjectName(QLatin1String(t.window));
    setFixedSize(420, 300);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("frmList { background: rgb(24, 32, 84); } QLabel { color: white; }"));

    lblList = new QLabel(this);
    lblList->setObjectName(QStringLiteral("lblList"));
    lblList->setGeometry(15, 12, 300, 20);

    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("List"));
    List->setGeometry(15, 40, 390, 210);
    List->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List->setStyleSheet(QStringLiteral("QListWidget { background: rgb(38, 38, 119); color: white; }"));
    List->setItemDelegate(new RowDelegate(*this, List));
    List->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(List, &QListWidget::itemDoubleClicked, this, [this] { List_DblClick(); });

    btnMoveEntry = mdDesign::imageButton(app, this, t.moveButton, {15, 262, 110, 28}, &frmList::btnMoveEntry_MouseUp);
    btnMoveEntry->resize(110, 28);
    btnDelEntry = mdDesign::imageButton(app, this, "btnDelEntry", {135, 262, 110, 28}, &frmList::btnDelEntry_MouseUp);
    btnDelEntry->resize(110, 28);
    btnClose = mdDesign::imageButton(app, this, "btnClose", {396, 6, 18, 18}, &frmList::btnClose_MouseUp);
    btnClose->resize(18, 18);

    Form_Load();
}

void frmList::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    mdDesign::FormDrag(app, this);
}

void frmList::Form_Load()
{
    guarded(app, t.window, "Form_Load", [&] {
        mdDesign::frmSkin(app, this);
        mdDesign::frmBalloon(app, this);
        lblList->setText(QString::fromLatin1(t.title));
    });
}

float frmList::W(const QString& text) const
{
    const QFontMetricsF metrics(List->font());
    const auto tabs = text.count(kTab);
    QString plain = text;
    plain.remove(kTab);
    const float tab = tabs ? static_cast<float>(metrics.horizontalAdvance(QString(kTab))) : 0.0f;
    return static_cast<float>(metrics.horizontalAdvance(plain)) + static_cast<float>(tabs) * tab;
}

QString frmList::rowText(const QString& record) const
{
    const qsizetype bar = record.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return record;
    QString name = record.left(bar);
    QString rest = record.mid(bar + 1);
    const float tab = W(QString(kTab));
    if (W(name) - W(QStringLiteral("  ")) < tab) {
        name += kTab;
    } else {
        const float blanks = W(QStringLiteral("   "));
        // Ends at "..." alone, however wide the font draws it.
        while (W(name) - blanks > 2 * tab && name != QLatin1String("...")) {
            name.remove(QStringLiteral("..."));
            name.chop(1);
            name += QStringLiteral("...");
        }
    }
    return name + kTab + rest.replace(QLatin1Char('|'), kTab);
}

void frmList::listLoad()
{
    guarded(app, t.window, "listLoad", [&] {
        List->clear();
        float widest = 0;
        for (const QString& record : own()) {
            const QString row = rowText(record);
            widest = std::max(widest, W(row));
            auto* item = new QListWidgetItem(row, List);
            item->setData(Qt::UserRole, record);
        }
        const float margin = (t.tabMargin ? W(QString(kTab)) : W(QStringLiteral(" "))) / 2;
        horizontalExtent = static_cast<int>(mdSettings::roundEven(static_cast<double>(widest + margin)));
        List->doItemsLayout();
    });
}

QStringList frmList::selectedRecords() const
{
    QStringList records;
    for (int i = 0; i < List->count(); ++i)
        if (List->item(i)->isSelected())
            records << List->item(i)->data(Qt::UserRole).toString();
    return records;
}

void frmList::removeOwn(const QString& record)
{
    mdCollection::clnDel(app, app.*(t.ownTmp), record);
    const auto at = std::find(own().begin(), own().end(), record);
    if (at != own().end())
        own().remove(static_cast<int>(at - own().begin()) + 1);
}

void frmList::btnMoveEntry_MouseUp()
{
    mdDesign::loadImage(app, btnMoveEntry);
    guarded(app, t.window, t.moveProcedure, [&] {
        for (const QString& record : selectedRecords()) {
            (app.*(t.otherTmp)).add(record);
            (app.*(t.other)).add(record);
            removeOwn(record);
        }
        // The list that received the records counts their use; each save
        // fills the open window of its list again.
        const bool toDeny = kind == Kind::Allow;
        mdSettings::putList(app, app.allowList, QStringLiteral("allow.csv"), !toDeny);
        mdSettings::putList(app, app.denyList, QStringLiteral("deny.csv"), toDeny);
    });
}

void frmList::btnDelEntry_MouseUp()
{
    mdDesign::loadImage(app, btnDelEntry);
    guarded(app, t.window, "btnDelEntry_MouseUp", [&] {
        for (const QString& record : selectedRecords())
            removeOwn(record);
        mdSettings::putList(app, own(), QString::fromLatin1(t.ownFile), false);
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
        if (const QListWidgetItem* row = List->currentItem())
            WebLookup::open(app, WebLookup::url(app, main, WebLookup::fromRecord(row->data(Qt::UserRole).toString())));
    });
}
