#include "Icons.h"

#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <QStringList>

#include <cmath>
#include <functional>

namespace {

// The theme's picture for each command that has a fitting one.
const QHash<QString, QString>& ThemeNames()
{
    static const QHash<QString, QString> names = {
        {"bouvrir", "document-open"},
        {"FileOpenItem", "document-open"},
        {"Bparcourir", "folder-pictures"},
        {"benr", "document-save"},
        {"FileSaveItem", "document-save"},
        {"Benrsous", "document-save-as"},
        {"FileSaveAsItem", "document-save-as"},
        {"bsourcescan", "preferences-desktop-peripherals"},
        {"bimprimer", "document-print"},
        {"Imprimer1", "document-print"},
        {"bimpv", "document-print-preview"},
        {"bannuler", "edit-undo"},
        {"Annulerladernireaction1", "edit-undo"},
        {"bcopier", "edit-copy"},
        {"Copierdanslepressepapier1", "edit-copy"},
        {"bcoller", "edit-paste"},
        {"Collerdepuislepressepapier1", "edit-paste"},
        {"brotateG", "object-rotate-left"},
        {"brotateD", "object-rotate-right"},
        {"baide", "help-browser"},
        {"AideCorvinel1", "help-browser"},
        {"ToolButton10", "help-about"},
        {"HelpAboutItem", "help-about"},
        {"FileExitItem", "application-exit"},
        {"FileCloseItem", "window-close"},
    };
    return names;
}

const QColor Ink(40, 40, 40);
const QColor Sky(120, 170, 230);
const QColor Grass(90, 160, 70);
const QColor Sun(245, 200, 40);
const QColor Paper(250, 250, 250);
const QColor Blue(50, 100, 180);

// A small landscape photograph in r.
void Photo(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(Ink, 1));
    p.setBrush(Sky);
    p.drawRect(r);
    QPainterPath hill;
    hill.moveTo(r.left(), r.bottom());
    hill.lineTo(r.left(), r.top() + r.height() * 0.7);
    hill.quadTo(r.center().x(), r.top() + r.height() * 0.35, r.right(), r.top() + r.height() * 0.75);
    hill.lineTo(r.right(), r.bottom());
    hill.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Grass);
    p.drawPath(hill);
    p.setBrush(Sun);
    const qreal d = r.height() * 0.28;
    p.drawEllipse(QRectF(r.right() - d * 1.6, r.top() + d * 0.4, d, d));
    p.setPen(QPen(Ink, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& color)
{
    p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const qreal len = std::max(1.0, std::hypot(d.x(), d.y()));
    const QPointF u(d.x() / len, d.y() / len);
    const QPointF n(-u.y(), u.x());
    p.setBrush(color);
    p.drawPolygon(QPolygonF({to + u * 2, to - u * 4 + n * 3.5, to - u * 4 - n * 3.5}));
}

void Magnifier(QPainter& p, bool plus)
{
    p.setPen(QPen(Ink, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15, 15), QPointF(21, 21));
    p.setPen(QPen(Ink, 2));
    p.setBrush(QColor(225, 240, 255));
    p.drawEllipse(QPointF(10, 10), 7, 7);
    p.setPen(QPen(Blue, 2));
    p.drawLine(QPointF(6.5, 10), QPointF(13.5, 10));
    if (plus)
        p.drawLine(QPointF(10, 6.5), QPointF(10, 13.5));
}

void Scanner(QPainter& p, bool light)
{
    p.setPen(QPen(Ink, 1));
    p.setBrush(QColor(200, 200, 205));
    p.drawRoundedRect(QRectF(2.5, 10.5, 19, 9), 2, 2);
    p.setBrush(QColor(150, 150, 160));
    p.drawRect(QRectF(2.5, 7.5, 19, 3));
    if (light) {
        p.setPen(QPen(QColor(60, 200, 90), 2));
        p.drawLine(QPointF(4, 14), QPointF(20, 14));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 200, 90));
    p.drawEllipse(QPointF(18.5, 17), 1.2, 1.2);
}

void Diamond(QPainter& p, QPointF c, qreal r, const QColor& color)
{
    p.setPen(QPen(Ink, 1));
    p.setBrush(color);
    p.drawPolygon(QPolygonF({c + QPointF(0, -r), c + QPointF(r, 0), c + QPointF(0, r), c + QPointF(-r, 0)}));
}

void SoftDot(QPainter& p, QPointF c, qreal r, qreal hardness)
{
    QRadialGradient g(c, r);
    g.setColorAt(0, QColor(50, 90, 170));
    g.setColorAt(hardness, QColor(50, 90, 170, 200));
    g.setColorAt(1, QColor(50, 90, 170, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, r, r);
}

void RoundSign(QPainter& p, const QString& text)
{
    p.setPen(QPen(QColor(20, 60, 130), 1));
    p.setBrush(QColor(60, 120, 210));
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(15);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 2, 20, 20), Qt::AlignCenter, text);
}

void RotateArrow(QPainter& p, bool left)
{
    Photo(p, QRectF(6.5, 8.5, 11, 11));
    QPainterPath arc;
    const QRectF box(3, 2, 18, 14);
    p.setPen(QPen(Blue, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    if (left) {
        arc.arcMoveTo(box, 20);
        arc.arcTo(box, 20, 140);
        p.drawPath(arc);
        const QPointF end = arc.currentPosition();
        p.setBrush(Blue);
        p.drawPolygon(QPolygonF({end + QPointF(-3, -2), end + QPointF(3, -2), end + QPointF(0, 3)}));
    } else {
        arc.arcMoveTo(box, 160);
        arc.arcTo(box, 160, -140);
        p.drawPath(arc);
        const QPointF end = arc.currentPosition();
        p.setBrush(Blue);
        p.drawPolygon(QPolygonF({end + QPointF(-3, -2), end + QPointF(3, -2), end + QPointF(0, 3)}));
    }
}

using TPainterFn = std::function<void(QPainter&)>;

const QHash<QString, TPainterFn>& Drawings()
{
    static const QHash<QString, TPainterFn> drawings = {
        {"bouvrir", [](QPainter& p) {
             p.setPen(QPen(QColor(140, 100, 20), 1));
             p.setBrush(QColor(230, 180, 60));
             p.drawRect(QRectF(2.5, 6.5, 17, 13));
             p.drawRect(QRectF(2.5, 4.5, 7, 2));
             p.setBrush(QColor(250, 215, 110));
             p.drawPolygon(QPolygonF({QPointF(5.5, 10.5), QPointF(22.5, 10.5), QPointF(19.5, 19.5), QPointF(2.5, 19.5)}));
         }},
        {"Bparcourir", [](QPainter& p) {
             Photo(p, QRectF(2.5, 2.5, 8, 8));
             Photo(p, QRectF(13.5, 2.5, 8, 8));
             Photo(p, QRectF(2.5, 13.5, 8, 8));
             Photo(p, QRectF(13.5, 13.5, 8, 8));
         }},
        {"benr", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             p.setBrush(Blue);
             p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 1.5, 1.5);
             p.setBrush(Paper);
             p.drawRect(QRectF(6.5, 3.5, 11, 7));
             p.setBrush(QColor(90, 90, 100));
             p.drawRect(QRectF(7.5, 14.5, 9, 6));
         }},
        {"Benrsous", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             p.setBrush(Blue);
             p.drawRoundedRect(QRectF(2.5, 2.5, 15, 15), 1.5, 1.5);
             p.setBrush(Paper);
             p.drawRect(QRectF(5.5, 2.5, 9, 6));
             p.setPen(QPen(QColor(200, 120, 20), 3, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(12, 20), QPointF(20, 12));
             p.setPen(QPen(Ink, 1));
             p.drawLine(QPointF(10.5, 21.5), QPointF(12, 20));
         }},
        {"bsourcescan", [](QPainter& p) {
             Scanner(p, false);
             p.setPen(QPen(Ink, 1));
             p.setBrush(Paper);
             p.drawRect(QRectF(7.5, 1.5, 9, 6));
         }},
        {"bscan", [](QPainter& p) { Scanner(p, true); }},
        {"bimprimer", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             p.setBrush(Paper);
             p.drawRect(QRectF(6.5, 2.5, 11, 7));
             p.setBrush(QColor(170, 170, 175));
             p.drawRoundedRect(QRectF(2.5, 8.5, 19, 9), 2, 2);
             p.setBrush(Paper);
             p.drawRect(QRectF(6.5, 14.5, 11, 7));
         }},
        {"bimpv", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             p.setBrush(Paper);
             p.drawRect(QRectF(4.5, 1.5, 15, 21));
             for (int y = 0; y < 3; ++y)
                 for (int x = 0; x < 2; ++x)
                     Photo(p, QRectF(6.5 + x * 6, 3.5 + y * 6, 5, 5));
         }},
        {"bannuler", [](QPainter& p) {
             QPainterPath path;
             path.moveTo(7, 9);
             path.cubicTo(14, 4, 22, 8, 19, 18);
             p.setPen(QPen(Blue, 2.5, Qt::SolidLine, Qt::RoundCap));
             p.setBrush(Qt::NoBrush);
             p.drawPath(path);
             p.setPen(Qt::NoPen);
             p.setBrush(Blue);
             p.drawPolygon(QPolygonF({QPointF(3, 11), QPointF(9, 4), QPointF(11, 12)}));
         }},
        {"bcopier", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             p.setBrush(Paper);
             p.drawRect(QRectF(3.5, 2.5, 11, 14));
             p.drawRect(QRectF(9.5, 7.5, 11, 14));
             for (int i = 0; i < 3; ++i)
                 p.drawLine(QPointF(12, 11.5 + 3 * i), QPointF(18, 11.5 + 3 * i));
         }},
        {"bcoller", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             p.setBrush(QColor(190, 140, 80));
             p.drawRoundedRect(QRectF(3.5, 4.5, 15, 17), 1.5, 1.5);
             p.setBrush(QColor(160, 160, 165));
             p.drawRect(QRectF(7.5, 2.5, 7, 4));
             Photo(p, QRectF(10.5, 10.5, 11, 11));
         }},
        {"bduplique", [](QPainter& p) {
             Photo(p, QRectF(2.5, 2.5, 13, 11));
             Photo(p, QRectF(8.5, 10.5, 13, 11));
         }},
        {"bcontraste", [](QPainter& p) {
             p.setPen(QPen(Ink, 1.5));
             p.setBrush(Qt::white);
             p.drawEllipse(QRectF(3, 3, 18, 18));
             p.setBrush(Ink);
             p.drawPie(QRectF(3, 3, 18, 18), 90 * 16, 180 * 16);
         }},
        {"baccentuer", [](QPainter& p) { Diamond(p, QPointF(12, 12), 9, QColor(60, 110, 200)); }},
        {"baccentuerdav", [](QPainter& p) {
             Diamond(p, QPointF(8, 12), 6.5, QColor(60, 110, 200));
             Diamond(p, QPointF(16, 12), 6.5, QColor(30, 70, 160));
         }},
        {"badoucir", [](QPainter& p) { SoftDot(p, QPointF(12, 12), 10, 0.55); }},
        {"badoucirdav", [](QPainter& p) { SoftDot(p, QPointF(12, 12), 11, 0.15); }},
        {"bfiltrep", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             for (int y = 0; y < 3; ++y)
                 for (int x = 0; x < 3; ++x) {
                     p.setBrush(x == 1 && y == 1 ? QColor(220, 80, 60) : QColor(200, 210, 230));
                     p.drawRect(QRectF(2.5 + x * 7, 2.5 + y * 7, 5, 5));
                 }
         }},
        {"bgris", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             for (int i = 0; i < 5; ++i) {
                 const int g = 20 + i * 55;
                 p.setBrush(QColor(g, g, g));
                 p.drawRect(QRectF(1.5 + i * 4.2, 5.5, 4.2, 13));
             }
         }},
        {"btrame", [](QPainter& p) {
             p.setPen(QPen(Ink, 1));
             p.setBrush(Qt::white);
             p.drawRect(QRectF(2.5, 2.5, 19, 19));
             p.setPen(Qt::NoPen);
             p.setBrush(Ink);
             for (int y = 0; y < 6; ++y)
                 for (int x = 0; x < 6; ++x)
                     if ((x + y) % 2 == 0 || x < y - 1)
                         p.drawRect(QRectF(3 + x * 3, 3 + y * 3, 3, 3));
         }},
        {"brotateG", [](QPainter& p) { RotateArrow(p, true); }},
        {"brotateD", [](QPainter& p) { RotateArrow(p, false); }},
        {"brecadrer", [](QPainter& p) {
             Photo(p, QRectF(6.5, 6.5, 11, 11));
             p.setPen(QPen(Ink, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
             p.setBrush(Qt::NoBrush);
             p.drawPolyline(QPolygonF({QPointF(6, 2), QPointF(6, 18), QPointF(22, 18)}));
             p.drawPolyline(QPolygonF({QPointF(2, 6), QPointF(18, 6), QPointF(18, 22)}));
         }},
        {"Bkavrel", [](QPainter& p) {
             Photo(p, QRectF(2.5, 8.5, 13, 13));
             Arrow(p, QPointF(12, 12), QPointF(20, 4), QColor(200, 60, 40));
         }},
        {"bkavrelc", [](QPainter& p) {
             Photo(p, QRectF(6.5, 2.5, 11, 9));
             Photo(p, QRectF(4.5, 5.5, 11, 9));
             Photo(p, QRectF(2.5, 8.5, 11, 9));
             Arrow(p, QPointF(14, 20), QPointF(21, 13), QColor(200, 60, 40));
         }},
        {"blplus", [](QPainter& p) { Magnifier(p, true); }},
        {"blmoins", [](QPainter& p) { Magnifier(p, false); }},
        {"baide", [](QPainter& p) { RoundSign(p, QStringLiteral("?")); }},
        {"ToolButton10", [](QPainter& p) { RoundSign(p, QStringLiteral("i")); }},
    };
    return drawings;
}

QStringList IconRoots()
{
    QStringList roots;
    for (const QString& dir : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                        QStandardPaths::LocateDirectory))
        roots << dir + QStringLiteral("/Adwaita");
    if (roots.isEmpty())
        roots << QStringLiteral("/usr/share/icons/Adwaita");
    return roots;
}

} // namespace

QIcon ThemeIcon(const QString& themeName)
{
    static const QStringList roots = IconRoots();
    static const char* const contexts[] = {"legacy", "actions", "places", "devices", "mimetypes", "apps"};
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48}) {
        bool found = false;
        for (const QString& root : roots) {
            for (const char* context : contexts) {
                const QString file = QStringLiteral("%1/%2x%2/%3/%4.png").arg(root).arg(size).arg(QLatin1String(context), themeName);
                if (QFileInfo::exists(file)) {
                    icon.addFile(file, QSize(size, size));
                    found = true;
                    break;
                }
            }
            if (found)
                break;
        }
    }
    return icon;
}

QIcon DrawnIcon(const QString& name)
{
    const auto it = Drawings().find(name);
    if (it == Drawings().end())
        return QIcon();
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 24.0, size / 24.0);
        it.value()(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon CommandIcon(const QString& name)
{
    const auto theme = ThemeNames().find(name);
    if (theme != ThemeNames().end()) {
        QIcon icon = ThemeIcon(theme.value());
        if (!icon.isNull())
            return icon;
    }
    return DrawnIcon(name);
}

QIcon ProgramIcon()
{
    // The letter in the family of the About box's name, as an outline so
    // that it is drawn alike at every size.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(256);
    QPainterPath letter;
    letter.addText(0, 0, font, QStringLiteral("C"));
    if (letter.isEmpty()) {
        // No font at all: the letter's stroke drawn as an open ring.
        QPainterPath ring;
        ring.arcMoveTo(0, 0, 180, 200, 45);
        ring.arcTo(0, 0, 180, 200, 45, 270);
        QPainterPathStroker stroker;
        stroker.setWidth(26);
        letter = stroker.createStroke(ring);
    }
    const QRectF ink = letter.boundingRect();
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 128));
        // The letter is as tall as a capital of the About box's name beside
        // the 32-pixel icon (three quarters of the icon), centred in height,
        // and stands against the right edge, where the rest of the name follows.
        const double scale = 0.75 * size / ink.height();
        painter.translate(size - size / 32.0 - ink.right() * scale,
                          (size - ink.height() * scale) / 2 - ink.top() * scale);
        painter.scale(scale, scale);
        painter.drawPath(letter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon DocumentWindowIcon()
{
    QIcon icon = ThemeIcon(QStringLiteral("image-x-generic"));
    if (icon.isNull()) {
        QPixmap pixmap(24, 24);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        Photo(painter, QRectF(2.5, 4.5, 19, 15));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
