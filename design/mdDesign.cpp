// SPDX-License-Identifier: GPL-3.0-or-later
#include "design/mdDesign.h"

#include "design/ImageButton.h"
#include "store/mdSettings.h"
#include "store/mdNumbers.h"
#include "store/mdErrorLog.h"
#include "store/mdFailures.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QWidget>
#include <algorithm>
#include <limits>

using namespace mdSettings;
using namespace mdFailures;
using namespace mdErrorLog;
using namespace mdNumbers;

namespace mdDesign {

namespace {

int toInt(qint64 value)
{
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        fail(QStringLiteral("Overflow"));
    return static_cast<int>(value);
}

// The label that draws the window's background, created on first use.
QLabel* backgroundOf(QWidget* window)
{
    auto* label = window->findChild<QLabel*>(QLatin1String(kBackgroundName), Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(window);
        label->setObjectName(QLatin1String(kBackgroundName));
        // Presses go to the window, which drags itself.
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->show();
    }
    label->lower();
    return label;
}

// A window that a larger font made taller than the picture drawn for its
// width: the picture's middle row, where a skin's panels run straight down,
// fills the difference. Any other picture keeps its size.
QPixmap stretched(const QPixmap& picture, QSize window)
{
    if (window.height() <= picture.height() || window.width() != picture.width())
        return picture;
    const int height = window.height();
    QPixmap taller(picture.width(), height);
    QPainter painter(&taller);
    const int middle = picture.height() / 2;
    const int rest = picture.height() - middle - 1;
    painter.drawPixmap(0, 0, picture, 0, 0, -1, middle);
    painter.drawPixmap(QRect(0, middle, picture.width(), height - middle - rest), picture, QRect(0, middle, picture.width(), 1));
    painter.drawPixmap(0, height - rest, picture, 0, middle + 1, -1, rest);
    return taller;
}

void showImage(App& app, QWidget* object, const QString& suffix)
{
    const QString file = app.file(QStringLiteral("skin/images/") + object->objectName() + suffix);
    if (!fileExists(app, file))
        return;   // the object keeps its picture
    QPixmap picture;
    if (!picture.load(file))
        fail(QStringLiteral("Invalid picture: ") + file);
    if (auto* button = qobject_cast<ImageButton*>(object)) {
        // A picture box takes its image's size, so a skin may draw larger buttons.
        button->setPixmap(picture);
        button->resize(picture.size());
    } else {
        QLabel* background = backgroundOf(object);
        picture = stretched(picture, object->size());
        background->setPixmap(picture);
        background->setGeometry(QRect(QPoint(0, 0), picture.size()));
    }
}

// At most `count` fields; the last one takes the rest of the line.
QStringList splitFields(const QString& line, int count)
{
    QStringList fields;
    qsizetype from = 0;
    while (fields.size() < count - 1) {
        const qsizetype bar = line.indexOf(QLatin1Char('|'), from);
        if (bar < 0)
            break;
        fields << line.mid(from, bar - from);
        from = bar + 1;
    }
    fields << line.mid(from);
    return fields;
}

QString trimSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char(' '))
        ++first;
    while (last > first && text[last - 1] == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

int pixels(const QString& text)
{
    const double value = roundEven(toNumber(text));
    if (!(value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()))
        fail(QStringLiteral("Overflow"));
    return static_cast<int>(value);
}

} // namespace

void loadImage(App& app, QWidget* object)
{
    guarded(app, "mdDesign", "loadImage", [&] { showImage(app, object, QStringLiteral(".jpg")); });
}

void loadImageP(App& app, QWidget* object)
{
    guarded(app, "mdDesign", "loadImageP", [&] { showImage(app, object, QStringLiteral("_p.jpg")); });
}

void frmSkin(App& app, QWidget* window)
{
    guarded(app, "mdDesign", "frmSkin", [&] {
        const QStringList lines = trimSpaces(getContent(app, QStringLiteral("skin/data.csv")))
                                      .split(QRegularExpression(QStringLiteral("\r?\n")));
        loadImage(app, window);
        const QList<QWidget*> controls = window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (QWidget* control : controls) {
            if (control->isWindow() || control->objectName() == QLatin1String(kBackgroundName))
                continue;
            if (qobject_cast<ImageButton*>(control))
                loadImage(app, control);
            for (const QString& line : lines) {
                const QStringList field = splitFields(line, 4);
                if (field.size() != 4 || field[0] != window->objectName() || field[1] != control->objectName())
                    continue;
                if (field[2] == QLatin1String("left"))
                    control->move(pixels(field[3]), control->y());
                else if (field[2] == QLatin1String("top"))
                    control->move(control->x(), pixels(field[3]));
            }
        }
    });
}

QString scrollBarStyle()
{
    return QStringLiteral("QScrollBar:vertical { background: %1; width: 7px; margin: 0; border-radius: 3px; }"
                          "QScrollBar::handle:vertical { background: %2; min-height: 10px; border-radius: 3px; }"
                          "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                          "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
        .arg(kSkinPanel.name(), ImageButton::frameColour.name());
}

void textBox(QPlainTextEdit* box, const QRect& place)
{
    box->setGeometry(place);
    box->setReadOnly(true);
    box->setFrameShape(QFrame::NoFrame);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A thin bar in the skin's colours, drawn only when the text is taller than the box.
    box->verticalScrollBar()->setStyleSheet(scrollBarStyle());
    box->document()->setDocumentMargin(2);
    QFont small = box->font();
    small.setPixelSize(11);
    box->setFont(small);
}

void FormDrag(App& app, QWidget* window)
{
    guarded(app, "mdDesign", "FormDrag", [&] { app.sys.desktop.startMove(window); });
}

namespace {
// Drags and closes a skinned window: seen before the window's own handlers.
class SkinFilter : public QObject {
public:
    SkinFilter(App& app, QWidget* window, std::function<void()> escape)
        : QObject(window), app_(app), window_(window), escape_(std::move(escape))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_)
            return false;
        if (event->type() == QEvent::MouseButtonPress) {
            event->accept();
            FormDrag(app_, window_);
            return true;
        }
        if (event->type() == QEvent::KeyPress && escape_) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
                escape_();
                return true;
            }
        }
        return false;
    }

private:
    App& app_;
    QWidget* window_;
    std::function<void()> escape_;
};
} // namespace

void skinWindow(App& app, QWidget* window, const QString& style, std::function<void()> escape)
{
    window->setAttribute(Qt::WA_StyledBackground);
    window->setStyleSheet(QStringLiteral("#%1 { background: %2; } QLabel { color: white; }")
                              .arg(window->objectName(), kSkinBack.name())
                          + style);
    new SkinFilter(app, window, std::move(escape));
}

void frmBalloon(App& app, QWidget* window)
{
    guarded(app, "mdDesign", "frmBalloon", [&] {
        platform::Desktop& desktop = app.sys.desktop;
        const QRect available = desktop.availableGeometry();
        const QRect tray = desktop.trayGeometry();
        const QSize size = window->frameGeometry().size();
        // No work area, or a panel that reserves no space: the area holds the
        // icon, and a window in its corner would cover it.
        window->move(!tray.isEmpty() && available.intersects(tray) ? trayPlace(desktop.screenGeometry(), tray, size)
                                                                   : availablePlace(available, size));
    });
}

QPoint availablePlace(QRect available, QSize window)
{
    if (available.isEmpty())
        fail(QStringLiteral("No screen area to place the window on"));
    const qint64 right = qint64(available.x()) + available.width();
    const qint64 bottom = qint64(available.y()) + available.height();
    const qint64 left = std::max<qint64>(available.x(), right - window.width());
    const qint64 top = std::max<qint64>(available.y(), bottom - window.height());
    return QPoint(toInt(left), toInt(top));
}

QPoint trayPlace(QRect screen, QRect tray, QSize window)
{
    if (screen.isEmpty())
        fail(QStringLiteral("No screen area to place the window on"));
    const qint64 left = screen.x(), top = screen.y();
    const qint64 right = left + screen.width(), bottom = top + screen.height();
    const qint64 trayRight = qint64(tray.x()) + tray.width(), trayBottom = qint64(tray.y()) + tray.height();
    const qint64 toLeft = tray.x() - left, toRight = right - trayRight;
    const qint64 toTop = tray.y() - top, toBottom = bottom - trayBottom;
    const qint64 nearest = std::min({toLeft, toRight, toTop, toBottom});
    // Along a horizontal panel the window ends where the icon ends; along a
    // vertical one its bottom meets the icon's.
    qint64 x = trayRight - window.width();
    qint64 y = trayBottom - window.height();
    if (nearest == toBottom)
        y = tray.y() - window.height();
    else if (nearest == toTop)
        y = trayBottom;
    else if (nearest == toRight)
        x = tray.x() - window.width();
    else
        x = trayRight;
    x = std::max(left, std::min(x, right - window.width()));
    y = std::max(top, std::min(y, bottom - window.height()));
    return QPoint(toInt(x), toInt(y));
}

} // namespace mdDesign
