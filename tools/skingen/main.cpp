// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the program's artwork: the window backgrounds and button images of
// skin/images, the layout file skin/data.csv and the two tray icons.
//
//   skingen <repo-root> [--preview <file.png>]
//
// Everything is drawn with QPainter, so the art can be remade and retouched
// here instead of in an image editor. The preview composes each window from
// the written files, the way the program shows them, for a look before
// committing.

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStringList>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// ---------------------------------------------------------------- palette

const QColor kInk(244, 247, 255);           // captions
const QColor kCyan(86, 200, 240);           // the brand accent
const QColor kTeal(48, 206, 168);           // allow-type accent
const QColor kWarm(242, 112, 72);           // deny-type accent
const QColor kPauseInk(250, 250, 252);      // the pause mark of the disabled icon
const QColor kListBlue(38, 38, 119);        // the list box the program paints

// ---------------------------------------------------------------- layout

enum class Kind { Label, Text, List, Button };
enum class Style { Plain, Allow, AllowNow, Deny, DenyNow, Warm, Close };
enum class Glyph { None, Check, Clock, Block, Mail, Globe };

struct Control {
    QString name;
    Kind kind;
    QRect design;       // the place the program gives the control, in pixels
    QPoint place;       // where the skin puts it (a data.csv line when it differs)
    QSize image;        // button image size; other controls keep the design size
    // Button look.
    QString caption = {};
    Style style = Style::Plain;
    Glyph glyph = Glyph::None;
    // Sample text the preview draws where a label or text box shows its text.
    QString sample = {};

    QRect rect() const
    {
        return QRect(place, kind == Kind::Button ? image : design.size());
    }
};

struct Window {
    QString name;
    QSize size;
    int header;                 // height of the header band
    QColor accent;              // the small bar beside the title
    std::vector<QRect> panels;  // recessed areas behind text boxes and lists
    std::vector<Control> controls;
};

Control label(const char* name, QRect design, QString sample, QPoint place = {-1, -1})
{
    return {QString::fromLatin1(name), Kind::Label, design,
            place == QPoint(-1, -1) ? design.topLeft() : place, {}, {}, Style::Plain, Glyph::None,
            sample};
}

Control textBox(const char* name, QRect design, QString sample, Kind kind = Kind::Text)
{
    return {QString::fromLatin1(name), kind, design, design.topLeft(), {}, {}, Style::Plain,
            Glyph::None, sample};
}

Control button(const char* name, QRect design, QRect skin, const char* caption, Style style,
               Glyph glyph = Glyph::None)
{
    return {QString::fromLatin1(name), Kind::Button, design, skin.topLeft(), skin.size(),
            QString::fromUtf8(caption), style, glyph, {}};
}

// The four skinned windows. Buttons get images large enough for a caption at
// 96 dpi; the small ones of the alert move into one row under the details
// text, and Contact and Web become captioned buttons along the About window's
// bottom edge.
std::vector<Window> windows()
{
    const QString details = QStringLiteral(
        "opened by: bash; path: /usr/bin/foo; date: 2026.12.06 7:35; size: 1.5M");
    const QString about = QStringLiteral(
        "Protection against spyware, trojans and viruses. A manager of the running "
        "tasks with allow and deny lists of processes.\n\n(c) Mirvak. All rights reserved.");

    std::vector<Window> all;

    Window alert{QStringLiteral("frmMain"), {280, 180}, 43, kCyan, {QRect(10, 46, 260, 48)}, {}};
    alert.controls = {
        label("lblApp", {14, 20, 148, 22}, QStringLiteral("New application find:")),
        // The name follows the bold caption with a small gap, on its baseline.
        label("lblName", {161, 22, 107, 13}, QStringLiteral("foo"), {173, 25}),
        textBox("txtPath", {13, 48, 254, 44}, details),
        // Shown under safe_level 1, left of the row of small buttons.
        label("lblStopped", {13, 83, 103, 13}, QStringLiteral("stopped till you decide"), {13, 99}),
        // Find Path and Delete never show together: they share one place.
        button("btnFindPath", {205, 72, 56, 12}, {195, 97, 72, 17}, "Find Path", Style::Plain),
        button("btnDelete", {205, 83, 56, 12}, {195, 97, 72, 17}, "Delete", Style::Warm),
        button("btnSearch", {134, 83, 56, 12}, {117, 97, 72, 17}, "Search", Style::Plain),
        button("btnAllow", {23, 102, 110, 28}, {13, 118, 124, 25}, "Allow", Style::Allow,
               Glyph::Check),
        button("btnDeny", {148, 102, 110, 28}, {143, 118, 124, 25}, "Deny", Style::Deny,
               Glyph::Block),
        button("btnAllowNow", {23, 130, 110, 28}, {13, 147, 124, 25}, "Allow Now",
               Style::AllowNow, Glyph::Clock),
        button("btnDenyNow", {148, 130, 110, 28}, {143, 147, 124, 25}, "Deny Now",
               Style::DenyNow, Glyph::Clock),
        button("btnClose", {259, 3, 18, 18}, {259, 3, 18, 18}, "", Style::Close),
    };
    all.push_back(alert);

    Window info{QStringLiteral("frmAbout"), {280, 168}, 43, kCyan, {QRect(10, 46, 260, 86)}, {}};
    info.controls = {
        label("lblAbout", {14, 20, 220, 22}, QStringLiteral("Mirvak Process Manager 1.9")),
        textBox("txtAbout", {18, 48, 245, 81}, about),
        button("btnContact", {142, 137, 18, 18}, {111, 139, 76, 22}, "Contact", Style::Plain,
               Glyph::Mail),
        button("btnWeb", {205, 137, 18, 18}, {193, 139, 76, 22}, "Web", Style::Plain,
               Glyph::Globe),
        button("btnClose", {259, 3, 18, 18}, {259, 3, 18, 18}, "", Style::Close),
    };
    all.push_back(info);

    // The list windows are twins; their close button sits where the small
    // windows have it, three pixels from the corner, so one image fits all.
    const auto listWindow = [](const char* name, const char* title, const char* move,
                               const char* moveCaption, Style moveStyle, Glyph moveGlyph,
                               QColor accent) {
        Window w{QString::fromLatin1(name), {560, 360}, 34, accent, {QRect(13, 38, 534, 274)}, {}};
        w.controls = {
            label("lblList", {15, 12, 470, 20}, QString::fromLatin1(title)),
            textBox("txtFilter", {15, 41, 530, 22}, QStringLiteral("Filter")),
            textBox("List", {15, 66, 530, 244},
                    QStringLiteral("/usr/bin/bash\n/usr/bin/firefox-esr\n/usr/lib/xorg/Xorg\n"
                                   "/usr/bin/nautilus"),
                    Kind::List),
            button(move, {15, 322, 110, 28}, {15, 322, 110, 28}, moveCaption, moveStyle, moveGlyph),
            button("btnDelEntry", {135, 322, 110, 28}, {135, 322, 110, 28}, "Delete Entry",
                   Style::Plain),
            button("btnAddEntry", {255, 322, 110, 28}, {255, 322, 110, 28}, "Add\u2026",
                   Style::Plain),
            button("btnClose", {536, 6, 18, 18}, {539, 3, 18, 18}, "", Style::Close),
        };
        return w;
    };
    all.push_back(listWindow("frmAllowList", "Allow List of Applications", "btnDenyEntry",
                             "Deny Entry", Style::DenyNow, Glyph::Block, kTeal));
    all.push_back(listWindow("frmDenyList", "Deny List of Applications", "btnAllowEntry",
                             "Allow Entry", Style::AllowNow, Glyph::Check, kWarm));
    return all;
}

// ---------------------------------------------------------------- fonts

QFont font(int pixels, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    // Full hinting snaps stems to the pixel grid: crisp captions at these sizes.
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

bool loadFonts()
{
    for (const char* file : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"}) {
        const QString path = QStringLiteral("/usr/share/fonts/truetype/dejavu/") + QLatin1String(file);
        if (QFile::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
    const QFontInfo info(font(12, true));
    if (info.family() != QLatin1String("DejaVu Sans")) {
        std::fprintf(stderr, "skingen: DejaVu Sans is missing (fonts-dejavu-core), got %s\n",
                     qPrintable(info.family()));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- drawing

QColor alpha(QColor c, int a)
{
    c.setAlpha(a);
    return c;
}

QImage background(const Window& w)
{
    QImage img(w.size, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const int W = w.size.width(), H = w.size.height();

    // Body: deep indigo fading to navy, with a faint glow low on the right.
    QLinearGradient body(0, w.header, 0, H);
    body.setColorAt(0, QColor(24, 28, 82));
    body.setColorAt(1, QColor(10, 12, 40));
    p.fillRect(img.rect(), body);
    QRadialGradient glow(W * 0.8, H * 1.05, W * 0.7);
    glow.setColorAt(0, QColor(46, 78, 170, 70));
    glow.setColorAt(1, QColor(46, 78, 170, 0));
    p.fillRect(QRect(0, w.header, W, H - w.header), glow);

    // Header band. On its right side it varies only from top to bottom, and
    // by the same gradient in every window, so the shared close button lies
    // on the same colours everywhere.
    QLinearGradient head(0, 0, 0, 43);
    head.setColorAt(0, QColor(50, 60, 146));
    head.setColorAt(1, QColor(30, 36, 104));
    p.fillRect(QRect(0, 0, W, w.header), head);
    QRadialGradient shine(0, 0, 170);
    shine.setColorAt(0, QColor(90, 150, 240, 80));
    shine.setColorAt(1, QColor(90, 150, 240, 0));
    p.fillRect(QRect(0, 0, W, w.header), shine);

    // Hairline under the header, brightest on the left where the title is.
    QLinearGradient line(0, 0, W, 0);
    line.setColorAt(0, alpha(kCyan, 40));
    line.setColorAt(0.25, alpha(kCyan, 200));
    line.setColorAt(1, alpha(kCyan, 30));
    p.fillRect(QRect(1, w.header, W - 2, 1), line);
    p.fillRect(QRect(1, w.header + 1, W - 2, 1), QColor(0, 0, 0, 70));

    // Accent bar beside the title.
    p.setPen(Qt::NoPen);
    p.setBrush(w.accent);
    const int title = w.controls.front().design.center().y();
    p.drawRoundedRect(QRectF(6, title - 7, 3, 15), 1.5, 1.5);

    // Recessed panels behind the text boxes and the list.
    for (const QRect& r : w.panels) {
        const QRectF box = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
        QLinearGradient fill(0, r.top(), 0, r.bottom());
        fill.setColorAt(0, QColor(6, 8, 30, 210));
        fill.setColorAt(1, QColor(10, 13, 44, 170));
        p.setBrush(fill);
        p.setPen(QPen(QColor(110, 140, 220, 90), 1));
        p.drawRoundedRect(box, 4, 4);
        // A light lower edge makes the panel read as sunken.
        p.setPen(QPen(QColor(140, 190, 255, 45), 1));
        p.drawLine(QPointF(r.left() + 4, r.bottom() + 1.5), QPointF(r.right() - 4, r.bottom() + 1.5));
    }

    // Frame: a dark outer edge and a soft light inner edge.
    p.setBrush(Qt::NoBrush);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(6, 8, 26));
    p.drawRect(0, 0, W - 1, H - 1);
    p.setPen(QColor(110, 140, 230, 90));
    p.drawRect(1, 1, W - 3, H - 3);
    return img;
}

void drawGlyph(QPainter& p, Glyph g, QPointF c, QColor colour)
{
    QPen pen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (g) {
    case Glyph::None:
        break;
    case Glyph::Check: {
        QPainterPath path;
        path.moveTo(c + QPointF(-4, 0.2));
        path.lineTo(c + QPointF(-1.3, 3));
        path.lineTo(c + QPointF(4, -3.2));
        pen.setWidthF(2);
        p.setPen(pen);
        p.drawPath(path);
        break;
    }
    case Glyph::Clock:
        p.drawEllipse(c, 4.5, 4.5);
        p.drawLine(c, c + QPointF(0, -2.8));
        p.drawLine(c, c + QPointF(2.2, 1.2));
        break;
    case Glyph::Block:
        p.drawEllipse(c, 4.5, 4.5);
        p.drawLine(c + QPointF(-3.1, 3.1), c + QPointF(3.1, -3.1));
        break;
    case Glyph::Mail:
        pen.setWidthF(1.2);
        p.setPen(pen);
        p.drawRoundedRect(QRectF(c.x() - 5, c.y() - 3.5, 10, 7), 1, 1);
        p.drawPolyline(QPolygonF{c + QPointF(-4.5, -3), c + QPointF(0, 0.6), c + QPointF(4.5, -3)});
        break;
    case Glyph::Globe:
        pen.setWidthF(1.2);
        p.setPen(pen);
        p.drawEllipse(c, 4.6, 4.6);
        p.drawEllipse(c, 2, 4.6);
        p.drawLine(c + QPointF(-4.6, 0), c + QPointF(4.6, 0));
        break;
    }
}

// One button image: the plate is drawn over the window background it will
// cover, so its rounded corners blend into the window.
QImage buttonImage(const QImage& under, const Control& c, bool pressed)
{
    QImage img = under.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF plate = QRectF(img.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = c.style == Style::Close ? 4 : (img.height() >= 24 ? 5 : 4);

    // Top and bottom of the plate's fill, and the rim colour.
    QColor top(52, 66, 156), bottom(26, 32, 94), rim = alpha(kCyan, 150);
    switch (c.style) {
    case Style::Plain:
        break;
    case Style::Allow:
        top = QColor(26, 122, 124), bottom = QColor(14, 70, 84), rim = alpha(kTeal, 220);
        break;
    case Style::Deny:
        top = QColor(150, 50, 52), bottom = QColor(88, 24, 40), rim = alpha(kWarm, 220);
        break;
    case Style::AllowNow:
        top = QColor(36, 84, 140), bottom = QColor(20, 44, 94), rim = alpha(kTeal, 200);
        break;
    case Style::DenyNow:
        top = QColor(92, 54, 126), bottom = QColor(52, 28, 84), rim = alpha(kWarm, 200);
        break;
    case Style::Warm:
        rim = alpha(kWarm, 190);
        break;
    case Style::Close:
        top = QColor(70, 80, 170, 150), bottom = QColor(40, 46, 120, 150), rim = QColor(150, 170, 255, 90);
        if (pressed)
            top = QColor(150, 40, 48), bottom = QColor(100, 22, 32), rim = alpha(kWarm, 200);
        break;
    }
    if (pressed && c.style != Style::Close) {
        top = top.darker(165);
        bottom = bottom.darker(135);
        std::swap(top, bottom);   // lit from below: the plate reads as pushed in
        rim = alpha(rim, rim.alpha() * 2 / 3);
    }

    // Soft drop shadow under a raised plate.
    if (!pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 70));
        p.drawRoundedRect(plate.translated(0, 1), radius, radius);
    }
    QLinearGradient fill(0, 0, 0, img.height());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setBrush(fill);
    p.setPen(QPen(rim, 1));
    p.drawRoundedRect(plate.adjusted(0, 0, 0, pressed ? 0 : -1), radius, radius);

    p.setPen(Qt::NoPen);
    if (!pressed) {
        // Gloss on the upper half.
        QLinearGradient gloss(0, 1, 0, img.height() / 2.0);
        gloss.setColorAt(0, QColor(255, 255, 255, 46));
        gloss.setColorAt(1, QColor(255, 255, 255, 6));
        p.setBrush(gloss);
        p.drawRoundedRect(QRectF(1.5, 1.5, img.width() - 3, img.height() / 2.0 - 1), radius - 1,
                          radius - 1);
    } else {
        // Inner shadow along the top edge.
        QLinearGradient shade(0, 1, 0, 5);
        shade.setColorAt(0, QColor(0, 0, 0, 120));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        p.setBrush(shade);
        p.drawRoundedRect(QRectF(1, 1, img.width() - 2, 5), radius - 1, radius - 1);
    }
    const QPointF shift = pressed ? QPointF(1, 1) : QPointF(0, 0);
    const QColor ink = pressed ? QColor(206, 214, 236) : kInk;

    if (c.style == Style::Close) {
        const QPointF m = QRectF(img.rect()).center() + shift;
        p.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(m + QPointF(-3.6, -3.6), m + QPointF(3.6, 3.6));
        p.drawLine(m + QPointF(-3.6, 3.6), m + QPointF(3.6, -3.6));
        return img;
    }

    const bool small = img.height() < 20;
    const QFont f = font(small ? 10 : 12, true);
    p.setFont(f);
    const QFontMetricsF fm(f);
    const double textWidth = fm.horizontalAdvance(c.caption);
    const double glyphWidth = c.glyph == Glyph::None ? 0 : 14;
    double x = (img.width() - textWidth - glyphWidth) / 2;
    const double midY = img.height() / 2.0;
    if (c.glyph != Glyph::None) {
        QColor gc = ink;
        if (c.style == Style::AllowNow)
            gc = kTeal.lighter(115);
        if (c.style == Style::DenyNow)
            gc = kWarm.lighter(110);
        drawGlyph(p, c.glyph, QPointF(std::round(x) + 5.5, midY) + shift, pressed ? gc.darker(120) : gc);
        x += glyphWidth;
    }
    // Baseline placed so the capitals sit in the middle, on whole pixels.
    const double baseline = std::round(midY + fm.capHeight() / 2.0);
    p.setPen(QColor(0, 0, 0, 110));
    p.drawText(QPointF(std::round(x), baseline + 1) + shift, c.caption);
    p.setPen(ink);
    p.drawText(QPointF(std::round(x), baseline) + shift, c.caption);
    return img;
}

// ---------------------------------------------------------------- icons

// Drawn on a 48 by 48 grid and scaled to `size`, so every size is sharp. The
// disabled icon greys the square and fades the bars under a bold pause mark,
// so that the two tell apart at 16 pixels by colour and by shape.
QImage icon(bool enabled, int size = 48)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);

    const QRectF square(1.5, 1.5, 45, 45);
    QLinearGradient fill(0, 0, 0, 48);
    fill.setColorAt(0, enabled ? QColor(40, 60, 168) : QColor(124, 126, 132));
    fill.setColorAt(1, enabled ? QColor(14, 20, 78) : QColor(62, 63, 68));
    p.setBrush(fill);
    p.setPen(QPen(enabled ? QColor(8, 12, 48) : QColor(30, 30, 34), 1));
    p.drawRoundedRect(square, 9, 9);
    p.setPen(QPen(enabled ? QColor(120, 160, 255, 110) : QColor(200, 200, 206, 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(square.adjusted(1, 1, -1, -1), 8, 8);

    // Bars of different heights standing on a common base line.
    struct Bar { int height; bool cyan; };
    const Bar bars[] = {{14, false}, {24, true}, {31, false}, {19, true}, {27, false}};
    const int base = 39, width = 5, gap = 2;
    int x = 24 - (5 * width + 4 * gap) / 2;
    p.setPen(Qt::NoPen);
    const QColor faded(150, 151, 158);
    for (const Bar& b : bars) {
        const QColor c = enabled ? (b.cyan ? QColor(64, 214, 255) : QColor(250, 252, 255)) : faded;
        QLinearGradient g(0, base - b.height, 0, base);
        g.setColorAt(0, c);
        g.setColorAt(1, c.darker(118));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(x, base - b.height, width, b.height), 1.2, 1.2);
        x += width + gap;
    }
    p.setBrush(enabled ? QColor(64, 214, 255, 140) : alpha(faded, 120));
    p.drawRect(QRectF(10, base + 2, 28, 1.5));
    if (enabled)
        return img;

    // The pause mark: two thick bars with a dark rim, so they stand out on any panel.
    p.setPen(QPen(QColor(24, 24, 28), 2));
    p.setBrush(kPauseInk);
    p.drawRoundedRect(QRectF(11, 9, 10, 30), 2, 2);
    p.drawRoundedRect(QRectF(27, 9, 10, 30), 2, 2);
    return img;
}

// ---------------------------------------------------------------- output

bool save(const QImage& img, const QString& path)
{
    QImageWriter writer(path);
    if (path.endsWith(QLatin1String(".jpg")))
        writer.setQuality(97);
    const QImage out = path.endsWith(QLatin1String(".jpg")) ? img.convertToFormat(QImage::Format_RGB32)
                                                             : img.convertToFormat(QImage::Format_ARGB32);
    if (!writer.write(out)) {
        std::fprintf(stderr, "skingen: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

QFont sampleFont(const Control& c);

// Controls must stay inside the window's frame and clear of each other;
// Find Path and Delete are never shown together.
bool checkLayout(const Window& w)
{
    bool ok = true;
    const QRect inside = QRect(QPoint(0, 0), w.size).adjusted(2, 2, -2, -2);
    for (std::size_t i = 0; i < w.controls.size(); ++i) {
        const Control& a = w.controls[i];
        if (a.kind == Kind::Label && QFontMetrics(sampleFont(a)).horizontalAdvance(a.sample) > a.rect().width())
            std::fprintf(stderr, "skingen: warning: the text of %s.%s is wider than the label (%d > %d)\n",
                         qPrintable(w.name), qPrintable(a.name),
                         QFontMetrics(sampleFont(a)).horizontalAdvance(a.sample), a.rect().width());
        if (!inside.contains(a.rect())) {
            std::fprintf(stderr, "skingen: %s.%s leaves the window\n", qPrintable(w.name), qPrintable(a.name));
            ok = false;
        }
        for (std::size_t j = i + 1; j < w.controls.size(); ++j) {
            const Control& b = w.controls[j];
            const QStringList pair{a.name, b.name};
            const bool exclusive = pair.contains(QLatin1String("btnFindPath")) && pair.contains(QLatin1String("btnDelete"));
            if (!exclusive && a.rect().intersects(b.rect())) {
                std::fprintf(stderr, "skingen: %s.%s overlaps %s\n", qPrintable(w.name),
                             qPrintable(a.name), qPrintable(b.name));
                ok = false;
            }
        }
    }
    return ok;
}

// Average difference per channel between two equally sized images.
double difference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

// ---------------------------------------------------------------- preview

// The font the program shows a label's or text box's text in, as far as the
// preview can tell.
QFont sampleFont(const Control& c)
{
    if (c.kind == Kind::List)
        return font(12, false);
    if (c.name == QLatin1String("lblApp") || c.name == QLatin1String("lblAbout")
        || c.name == QLatin1String("lblList"))
        return font(13, true);
    return font(11, false);
}

void drawSample(QPainter& p, const Control& c)
{
    const QRect r = c.rect();
    p.setFont(sampleFont(c));
    if (c.kind == Kind::List) {
        p.fillRect(r, kListBlue);
        p.setPen(Qt::white);
        int y = r.top() + 2;
        for (const QString& row : c.sample.split(QLatin1Char('\n'))) {
            p.drawText(QRect(r.left() + 3, y, r.width() - 6, 16), Qt::AlignLeft | Qt::AlignVCenter, row);
            y += 16;
        }
        return;
    }
    p.setPen(QColor(236, 240, 255));
    if (c.kind == Kind::Text) {
        QTextOption opt;
        opt.setWrapMode(QTextOption::WordWrap);
        p.drawText(QRectF(r).adjusted(4, 4, -4, -4), c.sample, opt);
        return;
    }
    // A label clips its text at its own width, as the program's labels do.
    p.save();
    p.setClipRect(r);
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, c.sample);
    p.restore();
}

// Composes every window twice, from the written files and at the data.csv
// places: buttons released, then buttons pressed; the icons at the bottom.
bool preview(const std::vector<Window>& all, const QString& images, const QString& iconDir, const QString& out)
{
    const int gap = 16;
    int width = gap, height = gap;
    for (const Window& w : all) {
        width = std::max(width, gap + 2 * (w.size.width() + gap));
        height += w.size.height() + gap;
    }
    height += 48 * 5 + gap;
    QImage sheet(width, height, QImage::Format_RGB32);
    sheet.fill(QColor(200, 200, 206));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::TextAntialiasing);

    int y = gap;
    for (const Window& w : all) {
        for (int pressed = 0; pressed < 2; ++pressed) {
            const QPoint origin(gap + pressed * (w.size.width() + gap), y);
            p.drawImage(origin, QImage(images + w.name + QStringLiteral(".jpg")));
            p.save();
            p.translate(origin);
            for (const Control& c : w.controls) {
                if (c.kind != Kind::Button) {
                    drawSample(p, c);
                    continue;
                }
                if (c.name == QLatin1String("btnFindPath"))
                    continue;   // the preview shows the alert with a known path
                const QString file = images + c.name + (pressed ? QStringLiteral("_p.jpg") : QStringLiteral(".jpg"));
                p.drawImage(c.place, QImage(file));
            }
            p.restore();
        }
        y += w.size.height() + gap;
    }
    const QImage on(iconDir + QStringLiteral("mirvak.png"));
    const QImage off(iconDir + QStringLiteral("mirvak-disabled.png"));
    p.drawImage(QPoint(gap, y), on);
    p.drawImage(QPoint(gap, y + 56), off);
    p.drawImage(QPoint(gap + 64, y), on.scaled(192, 192, Qt::KeepAspectRatio, Qt::FastTransformation));
    p.drawImage(QPoint(gap + 272, y), off.scaled(192, 192, Qt::KeepAspectRatio, Qt::FastTransformation));
    p.end();
    return save(sheet, out);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    QStringList args = application.arguments();
    args.removeFirst();
    QString previewFile;
    const int flag = args.indexOf(QStringLiteral("--preview"));
    if (flag >= 0 && flag + 1 < args.size()) {
        previewFile = args.at(flag + 1);
        args.remove(flag, 2);
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: skingen <repo-root> [--preview <file.png>]\n");
        return 2;
    }
    if (!loadFonts())
        return 1;

    const QDir root(args.front());
    const QString images = root.filePath(QStringLiteral("skin/images")) + QLatin1Char('/');
    const QString iconDir = root.filePath(QStringLiteral("icons")) + QLatin1Char('/');
    if (!QDir().mkpath(images) || !QDir().mkpath(iconDir)) {
        std::fprintf(stderr, "skingen: cannot create the output folders under %s\n", qPrintable(root.path()));
        return 1;
    }

    const std::vector<Window> all = windows();
    bool ok = true;
    QMap<QString, QImage> drawn;   // button name -> the background it was drawn on
    QString csv;
    for (const Window& w : all) {
        ok = checkLayout(w) && ok;
        const QImage bg = background(w);
        ok = save(bg, images + w.name + QStringLiteral(".jpg")) && ok;
        for (const Control& c : w.controls) {
            if (c.place != c.design.topLeft()) {
                csv += QStringLiteral("%1|%2|left|%3\r\n").arg(w.name, c.name).arg(c.place.x());
                csv += QStringLiteral("%1|%2|top|%3\r\n").arg(w.name, c.name).arg(c.place.y());
            }
            if (c.kind != Kind::Button)
                continue;
            const QImage under = bg.copy(c.rect());
            if (drawn.contains(c.name)) {
                // A shared image must suit every window that shows it.
                if (drawn[c.name].size() != under.size() || difference(drawn[c.name], under) > 2.0) {
                    std::fprintf(stderr, "skingen: %s does not fit the background of %s\n",
                                 qPrintable(c.name), qPrintable(w.name));
                    ok = false;
                }
                continue;
            }
            drawn.insert(c.name, under);
            ok = save(buttonImage(under, c, false), images + c.name + QStringLiteral(".jpg")) && ok;
            ok = save(buttonImage(under, c, true), images + c.name + QStringLiteral("_p.jpg")) && ok;
        }
    }

    QFile layout(root.filePath(QStringLiteral("skin/data.csv")));
    if (!layout.open(QIODevice::WriteOnly | QIODevice::Truncate) || layout.write(csv.toUtf8()) < 0) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(layout.fileName()));
        ok = false;
    }
    layout.close();

    ok = save(icon(true), iconDir + QStringLiteral("mirvak.png")) && ok;
    ok = save(icon(false), iconDir + QStringLiteral("mirvak-disabled.png")) && ok;
    // The menu icon at the hicolor theme's usual sizes, named by the desktop file's id.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = root.filePath(QStringLiteral("dist/hicolor/%1x%1/apps/").arg(size));
        ok = QDir().mkpath(dir) && save(icon(true, size), dir + QStringLiteral("example.mirvak.mirvak.png")) && ok;
    }

    if (ok && !previewFile.isEmpty())
        ok = preview(all, images, iconDir, previewFile);
    return ok ? 0 : 1;
}
