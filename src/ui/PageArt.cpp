#include "ui/PageArt.h"

#include <QPainter>

namespace zel {

// Simple artwork of our own: 16 × 16 button pictures drawn on a background colour that FormCreate
// may make transparent, and two 32 × 32 icons.
QImage DrawArt(TArt art, int size, QColor background) {
    // The formats a pixmap of the screen takes when filled with this colour, so that the page
    // shows what it showed when it drew into pixmaps.
    QImage image(size, size, background.alpha() == 255 ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 16.0;
    QPen pen(QColor(0, 0, 128), 1.6 * s);
    p.setPen(pen);
    switch (art) {
        case TArt::NoArt:
            break;
        case TArt::List:
            for (int i = 0; i < 3; ++i) p.drawLine(QPointF(4 * s, (4 + 4 * i) * s), QPointF(13 * s, (4 + 4 * i) * s));
            break;
        case TArt::Check:
        case TArt::Apply:
            p.setPen(QPen(art == TArt::Check ? QColor(0, 128, 0) : QColor(0, 0, 160), 2.2 * s));
            p.drawPolyline(QPolygonF({QPointF(3 * s, 8 * s), QPointF(6.5 * s, 12 * s), QPointF(13 * s, 4 * s)}));
            break;
        case TArt::Detect:
            p.drawEllipse(QPointF(6.5 * s, 6.5 * s), 4 * s, 4 * s);
            p.drawLine(QPointF(9.5 * s, 9.5 * s), QPointF(14 * s, 14 * s));
            break;
        case TArt::Update:
            p.drawArc(QRectF(3 * s, 3 * s, 10 * s, 10 * s), 30 * 16, 270 * 16);
            p.drawLine(QPointF(12 * s, 3 * s), QPointF(12.5 * s, 7 * s));
            break;
        case TArt::Box:
            p.setBrush(QColor(230, 230, 240));
            p.drawRoundedRect(QRectF(2 * s, 4 * s, 12 * s, 8 * s), 1 * s, 1 * s);
            p.setBrush(QColor(0, 160, 0));
            for (int i = 0; i < 8; ++i) p.drawEllipse(QPointF((3.5 + 1.3 * i) * s, 10 * s), 0.45 * s, 0.45 * s);
            break;
        case TArt::Clock:
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(8 * s, 8 * s), 6 * s, 6 * s);
            p.drawLine(QPointF(8 * s, 8 * s), QPointF(8 * s, 4 * s));
            p.drawLine(QPointF(8 * s, 8 * s), QPointF(11 * s, 9.5 * s));
            break;
    }
    return image;
}

}  // namespace zel
