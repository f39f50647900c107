#include "design/mdDesign.h"

#include "design/ImageButton.h"
#include "store/mdSettings.h"

#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QWidget>
#include <limits>

using namespace mdSettings;

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

void showImage(App& app, QWidget* object, const QString& suffix)
{
    const QString file = app.file(QStringLiteral("skin/images/") + object->objectName() + suffix);
    if (!fileExists(app, file))
        return;   // the object keeps its picture
    QPixmap picture;
    if (!picture.load(file))
        fail(QStringLiteral("Invalid picture: ") + file);
    auto* label = qobject_cast<QLabel*>(object);
    if (label && !object->isWindow()) {
        // A picture box takes its image's size, so a skin may draw larger buttons.
        label->setPixmap(picture);
        label->resize(picture.size());
    } else {
        QLabel* background = backgroundOf(object);
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

void textBox(QPlainTextEdit* box, const QRect& place)
{
    box->setGeometry(place);
    box->setReadOnly(true);
    box->setFrameShape(QFrame::NoFrame);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A thin bar in the skin's colours, drawn only when the text is taller than the box.
    box->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: %1; width: 7px; margin: 0; border-radius: 3px; }"
                       "QScrollBar::handle:vertical { background: %2; min-height: 10px; border-radius: 3px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(kSkinPanel.name(), ImageButton::frameColour.name()));
    box->document()->setDocumentMargin(2);
    QFont small = box->font();
    small.setPixelSize(11);
    box->setFont(small);
}

void FormDrag(App& app, QWidget* window)
{
    guarded(app, "mdDesign", "FormDrag", [&] { app.sys.desktop.startMove(window); });
}

void frmBalloon(App& app, QWidget* window)
{
    guarded(app, "mdDesign", "frmBalloon", [&] {
        window->move(availablePlace(app.sys.desktop.availableGeometry(), window->frameGeometry().size()));
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

} // namespace mdDesign
