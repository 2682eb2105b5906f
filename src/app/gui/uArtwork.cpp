#include "app/gui/uArtwork.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

#include "app/uStatusDisplay.h"

namespace zelto::gui {

namespace {

// All pictures are drawn on a 64 x 64 grid and scaled by the painter.
constexpr double kGrid = 64.0;

const QColor kOkGreen(0x2e, 0x9d, 0x4a);
const QColor kFailRed(0xd0, 0x34, 0x2c);
const QColor kIdleGrey(0x9a, 0xa3, 0xab);

QImage NewImage(int width, int height) {
    QImage img(width, height, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QFont BoldFont(int pixelSize) {
    QFont font("Arial");
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

void Prepare(QPainter& p, int size) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.scale(size / kGrid, size / kGrid);
}

// A round badge at the lower right: a tick, a cross, two arrows (traffic) or a bar (not available).
enum class TBadge { Tick, Cross, Traffic, Blocked };

void DrawBadge(QPainter& p, TBadge kind, QPointF c, double r) {
    const QColor fill = (kind == TBadge::Tick || kind == TBadge::Traffic) ? kOkGreen : kFailRed;
    p.setPen(QPen(Qt::white, 2.0));
    QRadialGradient g(c + QPointF(-r / 3, -r / 3), r * 1.4);
    g.setColorAt(0, fill.lighter(125));
    g.setColorAt(1, fill.darker(110));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    QPen mark(Qt::white, r * 0.28, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(mark);
    p.setBrush(Qt::NoBrush);
    const double k = r * 0.45;
    switch (kind) {
    case TBadge::Tick: {
        QPainterPath path(c + QPointF(-k, 0.05 * r));
        path.lineTo(c + QPointF(-0.2 * k, k * 0.8));
        path.lineTo(c + QPointF(k, -k * 0.7));
        p.drawPath(path);
        break;
    }
    case TBadge::Cross:
        p.drawLine(c + QPointF(-k, -k), c + QPointF(k, k));
        p.drawLine(c + QPointF(-k, k), c + QPointF(k, -k));
        break;
    case TBadge::Blocked:
        p.drawLine(c + QPointF(-k * 1.1, 0), c + QPointF(k * 1.1, 0));
        break;
    case TBadge::Traffic: {
        mark.setWidthF(r * 0.2);
        p.setPen(mark);
        const double a = k * 0.55;
        // up on the left, down on the right
        p.drawLine(c + QPointF(-a, k), c + QPointF(-a, -k));
        p.drawLine(c + QPointF(-a, -k), c + QPointF(-a - a * 0.9, -k + a * 0.9));
        p.drawLine(c + QPointF(-a, -k), c + QPointF(-a + a * 0.9, -k + a * 0.9));
        p.drawLine(c + QPointF(a, -k), c + QPointF(a, k));
        p.drawLine(c + QPointF(a, k), c + QPointF(a - a * 0.9, k - a * 0.9));
        p.drawLine(c + QPointF(a, k), c + QPointF(a + a * 0.9, k - a * 0.9));
        break;
    }
    }
}

// A controller module on a mounting rail: terminal rows, a dark front panel with a status LED.
void DrawController(QPainter& p, int picture) {
    const bool idle = picture == spControllerIdle;
    // The rail behind the module.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(idle ? 0xc4 : 0xa9, idle ? 0xc8 : 0xb2, idle ? 0xcc : 0xbb));
    p.drawRoundedRect(QRectF(3, 27, 58, 10), 1.5, 1.5);
    p.setBrush(QColor(0, 0, 0, 30));
    p.drawRect(QRectF(3, 35, 58, 2));

    const QRectF body(11, 5, 38, 54);
    QLinearGradient bodyFill(body.topLeft(), body.topRight());
    if (idle) {
        bodyFill.setColorAt(0, QColor(0xf2, 0xf3, 0xf4));
        bodyFill.setColorAt(1, QColor(0xd5, 0xd8, 0xdb));
    } else {
        bodyFill.setColorAt(0, QColor(0xf4, 0xf7, 0xfa));
        bodyFill.setColorAt(1, QColor(0xc8, 0xd3, 0xde));
    }
    p.setPen(QPen(idle ? QColor(0x9c, 0xa3, 0xaa) : QColor(0x4d, 0x5f, 0x72), 1.4));
    p.setBrush(bodyFill);
    p.drawRoundedRect(body, 4, 4);

    // Screw terminals, top and bottom.
    p.setPen(Qt::NoPen);
    p.setBrush(idle ? QColor(0xa8, 0xae, 0xb4) : QColor(0x5b, 0x6b, 0x7b));
    for (int i = 0; i < 5; ++i) {
        p.drawRoundedRect(QRectF(14.5 + i * 6.5, 8, 4.5, 4), 1, 1);
        p.drawRoundedRect(QRectF(14.5 + i * 6.5, 52, 4.5, 4), 1, 1);
    }

    // Front panel.
    const QRectF panel(16, 17, 28, 30);
    QLinearGradient panelFill(panel.topLeft(), panel.bottomLeft());
    panelFill.setColorAt(0, idle ? QColor(0x8a, 0x93, 0x9c) : QColor(0x2f, 0x45, 0x5c));
    panelFill.setColorAt(1, idle ? QColor(0x73, 0x7c, 0x85) : QColor(0x1f, 0x30, 0x42));
    p.setBrush(panelFill);
    p.drawRoundedRect(panel, 2.5, 2.5);

    // Two LEDs (run, error) and a name plate.
    const QColor runLed = picture == spControllerOk ? QColor(0x5c, 0xe0, 0x7a)
                          : idle                    ? QColor(0x9a, 0xa1, 0xa8)
                                                    : QColor(0x4a, 0x58, 0x66);
    const QColor errLed = picture == spControllerFailed ? QColor(0xff, 0x5a, 0x4f)
                          : idle                        ? QColor(0x9a, 0xa1, 0xa8)
                                                        : QColor(0x4a, 0x58, 0x66);
    p.setBrush(runLed);
    p.drawEllipse(QPointF(21.5, 23), 2.3, 2.3);
    p.setBrush(errLed);
    p.drawEllipse(QPointF(21.5, 30), 2.3, 2.3);
    p.setBrush(idle ? QColor(0xa9, 0xb0, 0xb7) : QColor(0x6f, 0x86, 0x9e));
    p.drawRoundedRect(QRectF(27, 21, 13, 3), 1, 1);
    p.drawRoundedRect(QRectF(27, 28, 9, 3), 1, 1);
    p.drawRoundedRect(QRectF(20, 38, 20, 4), 1, 1);

    if (picture == spControllerOk) DrawBadge(p, TBadge::Tick, QPointF(48, 47), 11);
    if (picture == spControllerFailed) DrawBadge(p, TBadge::Cross, QPointF(48, 47), 11);
}

// A client: a phone showing a web page.
void DrawClient(QPainter& p, int picture) {
    const bool off = picture == spListenerInactive;
    const bool active = picture == spClientActive;
    const QRectF body(15, 3, 30, 58);
    QLinearGradient bodyFill(body.topLeft(), body.bottomRight());
    bodyFill.setColorAt(0, off ? QColor(0x8d, 0x95, 0x9d) : QColor(0x3d, 0x55, 0x6e));
    bodyFill.setColorAt(1, off ? QColor(0x6e, 0x76, 0x7e) : QColor(0x22, 0x33, 0x45));
    p.setPen(Qt::NoPen);
    p.setBrush(bodyFill);
    p.drawRoundedRect(body, 6, 6);

    const QRectF screen(18, 9, 24, 44);
    QLinearGradient screenFill(screen.topLeft(), screen.bottomLeft());
    screenFill.setColorAt(0, off ? QColor(0xcf, 0xd3, 0xd7) : QColor(0xf4, 0xf8, 0xfb));
    screenFill.setColorAt(1, off ? QColor(0xbd, 0xc2, 0xc7) : QColor(0xdd, 0xe8, 0xf1));
    p.setBrush(screenFill);
    p.drawRoundedRect(screen, 1.5, 1.5);
    // Speaker and home button.
    p.setBrush(QColor(255, 255, 255, 70));
    p.drawRoundedRect(QRectF(26, 5.5, 8, 1.6), 0.8, 0.8);
    p.drawEllipse(QPointF(30, 57), 2, 2);

    // The page: a title bar and lines; coloured values while requests come in.
    p.setBrush(off ? QColor(0xa3, 0xaa, 0xb1) : QColor(0x2b, 0x7a, 0x9e));
    p.drawRect(QRectF(18, 9, 24, 6));
    const QColor line = off ? QColor(0xa9, 0xaf, 0xb5) : QColor(0xb4, 0xc2, 0xcf);
    for (int i = 0; i < 5; ++i) {
        const double y = 19 + i * 6;
        p.setBrush(line);
        p.drawRoundedRect(QRectF(21, y, 10, 2.6), 1, 1);
        if (active) {
            static const QColor values[] = {QColor(0x2e, 0x9d, 0x4a), QColor(0x2b, 0x7a, 0x9e),
                                            QColor(0xe0, 0x8a, 0x1e), QColor(0x2b, 0x7a, 0x9e),
                                            QColor(0x2e, 0x9d, 0x4a)};
            p.setBrush(values[i]);
        }
        p.drawRoundedRect(QRectF(33, y, 6, 2.6), 1, 1);
    }

    if (active) DrawBadge(p, TBadge::Traffic, QPointF(47, 47), 11);
    if (off) DrawBadge(p, TBadge::Blocked, QPointF(47, 47), 11);
}

// The program's emblem on the 64 grid: a rounded tile with a "Z" whose stroke carries three nodes.
void DrawEmblem(QPainter& p) {
    const QRectF tile(3, 3, 58, 58);
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, QColor(0x2f, 0x86, 0xc4));
    fill.setColorAt(1, QColor(0x15, 0x3e, 0x66));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, 13, 13);
    // A soft light across the top half.
    QLinearGradient gloss(tile.topLeft(), QPointF(3, 34));
    gloss.setColorAt(0, QColor(255, 255, 255, 60));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(gloss);
    p.drawRoundedRect(QRectF(3, 3, 58, 31), 13, 13);

    QPainterPath z(QPointF(17, 18));
    z.lineTo(47, 18);
    z.lineTo(17, 46);
    z.lineTo(47, 46);
    p.setPen(QPen(Qt::white, 7.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(z);
    // Nodes of the network at the corners of the stroke.
    p.setPen(QPen(Qt::white, 2.2));
    p.setBrush(QColor(0x3d, 0xd6, 0x8c));
    p.drawEllipse(QPointF(47, 18), 5, 5);
    p.drawEllipse(QPointF(17, 46), 5, 5);
}

}  // namespace

QPixmap StatusPicture(int n, int size) {
    QImage img = NewImage(size, size);
    QPainter p(&img);
    Prepare(p, size);
    if (n >= spClientWaiting) DrawClient(p, n);
    else DrawController(p, n);
    p.end();
    return QPixmap::fromImage(img);
}

QPixmap BannerPicture(int width, int height) {
    QImage img = NewImage(width, height);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, width, 0);
    fill.setColorAt(0, QColor(0x14, 0x2f, 0x4a));
    fill.setColorAt(0.55, QColor(0x1d, 0x57, 0x82));
    fill.setColorAt(1, QColor(0x27, 0x74, 0x9a));
    p.fillRect(img.rect(), fill);
    // Faint rising lines for texture.
    p.setPen(QPen(QColor(255, 255, 255, 14), 1));
    for (int x = -height; x < width; x += 7) p.drawLine(QPointF(x, height), QPointF(x + height, 0));
    // A lighter edge along the bottom.
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.drawLine(QPointF(0, height - 0.5), QPointF(width, height - 0.5));
    // The emblem and the program's name on the left.
    const int e = height - 6;
    p.save();
    p.translate(6, 3);
    p.scale(e / kGrid, e / kGrid);
    DrawEmblem(p);
    p.restore();
    p.setFont(BoldFont(std::max(1, height * 13 / 27)));  // the name grows with the strip
    p.setPen(Qt::white);
    p.drawText(QRectF(12 + e, 0, width, height), Qt::AlignVCenter | Qt::AlignLeft, "ZeltoHttpServer");
    p.end();
    return QPixmap::fromImage(img);
}

QPixmap LogoPicture(int width, int height) {
    QImage img = NewImage(width, height);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn for a height of 26 and scaled to the height asked for.
    const double k = height / 26.0;
    p.scale(k, k);
    width = static_cast<int>(width / k);
    height = 26;
    QFont font = BoldFont(12);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2.2);
    p.setFont(font);
    const QRectF text(0, 0, width - 10, height);
    p.setPen(QColor(255, 255, 255, 235));
    p.drawText(text, Qt::AlignVCenter | Qt::AlignRight, "TESSVIK");
    // A small mark before the name: three rising bars.
    const QFontMetricsF fm(font);
    const double left = width - 10 - fm.horizontalAdvance("TESSVIK") - 16;
    p.setPen(Qt::NoPen);
    const QColor bars[] = {QColor(0x3d, 0xd6, 0x8c), QColor(0x7f, 0xc8, 0xf0), QColor(255, 255, 255, 235)};
    for (int i = 0; i < 3; ++i) {
        const double h = 5 + i * 3.5;
        p.setBrush(bars[i]);
        p.drawRoundedRect(QRectF(left + i * 4.5, height / 2.0 + 6 - h, 3, h), 1, 1);
    }
    p.end();
    return QPixmap::fromImage(img);
}

QPixmap EmblemPicture(int size) {
    QImage img = NewImage(size, size);
    QPainter p(&img);
    Prepare(p, size);
    DrawEmblem(p);
    p.end();
    return QPixmap::fromImage(img);
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) icon.addPixmap(EmblemPicture(size));
    return icon;
}

}  // namespace zelto::gui
