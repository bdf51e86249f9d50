#include "ui/artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/tcolor.h"

namespace swb808 {

namespace {

const QColor kOrange = ToQColor(clSwbOrange);
const QColor kBrown = ToQColor(clSwbBrown);
const QColor kInk(40, 40, 48);

template <typename Draw>
QIcon Icon32(Draw draw) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return QIcon(pm);
}

// A small board: green plate, a row of relays and a row of LEDs.
void DrawBoard(QPainter& p, const QRectF& r) {
    p.setPen(QPen(QColor(20, 70, 40), r.width() / 40));
    p.setBrush(QColor(38, 120, 70));
    p.drawRoundedRect(r, r.width() / 14, r.width() / 14);
    const double cell = r.width() / 9;
    for (int i = 0; i < 4; ++i) {
        const QRectF relay(r.left() + cell * (0.8 + 2 * i), r.top() + r.height() * 0.18, cell * 1.4,
                           r.height() * 0.36);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 60, 150));
        p.drawRect(relay);
        p.setBrush(i % 2 ? kOrange : kBrown);
        p.drawEllipse(QPointF(relay.center().x(), r.top() + r.height() * 0.75), cell * 0.35,
                      cell * 0.35);
    }
}

}  // namespace

QImage WelcomePicture() {
    QImage img(243, 70, QImage::Format_RGB888);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawBoard(p, QRectF(6, 8, 72, 54));
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawRect(QRectF(90, 50, 146, 5));
    QFont big(QStringLiteral("DejaVu Sans"));
    big.setPixelSize(30);
    big.setBold(true);
    p.setFont(big);
    p.setPen(kInk);
    p.drawText(QRectF(88, 4, 152, 44), Qt::AlignHCenter | Qt::AlignBottom,
               QStringLiteral("SWB808"));
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(10);
    small.setStretch(QFont::SemiCondensed);
    p.setFont(small);
    p.setPen(kBrown);
    p.drawText(QRectF(90, 56, 146, 13), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Relais  \u00b7  Eing\u00e4nge  \u00b7  Firmware"));
    return img;
}

QIcon ProgramIcon() {
    return Icon32([](QPainter& p) { DrawBoard(p, QRectF(2, 5, 28, 22)); });
}

QIcon ScanIcon() {
    return Icon32([](QPainter& p) {
        p.setPen(QPen(kInk, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(19, 19), QPointF(28, 28));
        p.setPen(QPen(kInk, 2.5));
        p.setBrush(QColor(200, 225, 250));
        p.drawEllipse(QPointF(13, 13), 9, 9);
        p.setPen(QPen(kOrange, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(8, 8, 10, 10), 90 * 16, 90 * 16);
    });
}

QIcon SaveIcon() {
    return Icon32([](QPainter& p) {
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(QColor(60, 90, 160));
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(QColor(220, 220, 220));
        p.drawRect(QRectF(8, 17, 16, 11));
        p.setPen(Qt::NoPen);
        p.setBrush(kOrange);
        p.drawRect(QRectF(18, 6, 3, 5));
    });
}

QIcon ResetIcon() {
    return Icon32([](QPainter& p) {
        p.setPen(QPen(QColor(40, 130, 60), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(6, 6, 20, 20), 120 * 16, 290 * 16);
        QPainterPath head;
        head.moveTo(4, 7);
        head.lineTo(13, 5);
        head.lineTo(9, 14);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 130, 60));
        p.drawPath(head);
    });
}

QIcon FlashIcon() {
    return Icon32([](QPainter& p) {
        QPainterPath bolt;
        bolt.moveTo(19, 2);
        bolt.lineTo(7, 18);
        bolt.lineTo(15, 18);
        bolt.lineTo(12, 30);
        bolt.lineTo(25, 12);
        bolt.lineTo(17, 12);
        bolt.closeSubpath();
        p.setPen(QPen(kBrown, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(250, 190, 30));
        p.drawPath(bolt);
    });
}

}  // namespace swb808
