#include "ui/led_indicator.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>
#include <numbers>

#include "ui/dialogs.h"

namespace swb808 {

namespace {

// Rectangles and ellipses are rasterised here pixel by pixel rather than by QPainter's
// primitives, so that the LED's pixels follow the documented geometry exactly.

void Pixels(QPainter& p, int x, int y, int w, int h, const QColor& c) {
    if (w > 0 && h > 0) p.fillRect(x, y, w, h, c);
}

// Rectangle (l, t, r, b) covers l..r-1, t..b-1; the outermost ring takes the outline colour.
void FillRect(QPainter& p, int l, int t, int r, int b, const QColor& fill, const QColor& line) {
    if (r <= l || b <= t) return;
    Pixels(p, l, t, r - l, b - t, fill);
    if (line == fill) return;
    Pixels(p, l, t, r - l, 1, line);
    Pixels(p, l, b - 1, r - l, 1, line);
    Pixels(p, l, t, 1, b - t, line);
    Pixels(p, r - 1, t, 1, b - t, line);
}

// Axis-parallel line from (x0, y0) towards (x1, y1), the end point itself left out.
void LineTo(QPainter& p, int x0, int y0, int x1, int y1, const QColor& c) {
    if (y0 == y1) {
        if (x1 > x0) Pixels(p, x0, y0, x1 - x0, 1, c);
        if (x1 < x0) Pixels(p, x1 + 1, y0, x0 - x1, 1, c);
    } else if (x0 == x1) {
        if (y1 > y0) Pixels(p, x0, y0, 1, y1 - y0, c);
        if (y1 < y0) Pixels(p, x0, y1 + 1, 1, y0 - y1, c);
    }
}

// White/grey frame: (l,b)->(l,t)->(r,t) in `first`, then ->(r,b)->(l,b) in `second`.
void Frame3d(QPainter& p, int l, int t, int r, int b, const QColor& first, const QColor& second) {
    LineTo(p, l, b, l, t, first);
    LineTo(p, l, t, r, t, first);
    LineTo(p, r, t, r, b, second);
    LineTo(p, r, b, l, b, second);
}

// The ellipse inscribed in box (x1, y1, x2 exclusive, y2 exclusive): a pixel belongs to it when
// its centre lies inside.
struct EllipseBox {
    double cx, cy, rx, ry;
    explicit EllipseBox(const QRect& box)
        : cx((box.left() + box.right() + 1) / 2.0),
          cy((box.top() + box.bottom() + 1) / 2.0),
          rx(box.width() / 2.0),
          ry(box.height() / 2.0) {}
    bool Inside(int x, int y) const {
        if (rx <= 0 || ry <= 0) return false;
        const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
        return dx * dx + dy * dy <= 1.0;
    }
    bool OnRim(int x, int y) const {
        return Inside(x, y) &&
               !(Inside(x - 1, y) && Inside(x + 1, y) && Inside(x, y - 1) && Inside(x, y + 1));
    }
};

void Ellipse(QPainter& p, const QRect& box, const QColor& fill, const QColor& line) {
    const EllipseBox e(box);
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (e.Inside(x, y)) Pixels(p, x, y, 1, 1, e.OnRim(x, y) ? line : fill);
}

// Rim pixels met counter-clockwise (as seen on screen) from the ray towards `from` to the
// ray towards `to`.
void Arc(QPainter& p, const QRect& box, QPointF from, QPointF to, const QColor& c) {
    const EllipseBox e(box);
    constexpr double kTurn = 2 * std::numbers::pi;
    auto angle = [&](double x, double y) { return std::atan2(e.cy - y, x - e.cx); };
    auto ccw = [&](double a, double start) { return std::fmod(a - start + 2 * kTurn, kTurn); };
    const double start = angle(from.x(), from.y());
    const double span = ccw(angle(to.x(), to.y()), start);
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (e.OnRim(x, y) && ccw(angle(x + 0.5, y + 0.5), start) <= span)
                Pixels(p, x, y, 1, 1, c);
}

}  // namespace

LedIndicator::LedIndicator(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

template <typename T>
void LedIndicator::Assign(T& field, const T& v) {
    if (field == v) return;
    field = v;
    update();
}

void LedIndicator::SetCaption(const QString& v) {
    Assign(caption_, v);
}
void LedIndicator::SetCaptionAlign(TCAlign v) {
    Assign(captionAlign_, v);
}
void LedIndicator::SetCaptionMargin(int v) {
    Assign(captionMargin_, v);
}
void LedIndicator::SetCaptionBorder(TBorder v) {
    Assign(captionBorder_, v);
}
void LedIndicator::SetCaptionLineColor(TColor v) {
    Assign(captionLineColor_, v);
}
void LedIndicator::SetCaptionBackGround(TColor v) {
    Assign(captionBackGround_, v);
}
void LedIndicator::SetCaptionTransparant(bool v) {
    Assign(captionTransparant_, v);
}
void LedIndicator::SetLedOnColor(TColor v) {
    Assign(ledOnColor_, v);
}
void LedIndicator::SetLedOffColor(TColor v) {
    Assign(ledOffColor_, v);
}
void LedIndicator::SetColorBackGround(TColor v) {
    Assign(colorBackGround_, v);
}
void LedIndicator::SetLedColorLine(TColor v) {
    Assign(ledColorLine_, v);
}
void LedIndicator::SetLedAlign(TAlign v) {
    Assign(ledAlign_, v);
}
void LedIndicator::SetLedCircle(int v) {
    Assign(ledCircle_, v);
}
void LedIndicator::SetLedBorder(TBorder v) {
    Assign(ledBorder_, v);
}
void LedIndicator::SetLedMargin(int v) {
    Assign(ledMargin_, v);
}
void LedIndicator::SetBorder(TBorder v) {
    Assign(border_, v);
}
void LedIndicator::SetTransparant(bool v) {
    Assign(transparant_, v);
}
void LedIndicator::SetBorderLine(TColor v) {
    Assign(borderLine_, v);
}
void LedIndicator::SetLedSpot(bool v) {
    Assign(ledSpot_, v);
}
void LedIndicator::SetLedSpotColorOn(TColor v) {
    Assign(ledSpotColorOn_, v);
}
void LedIndicator::SetLedSpotColorOff(TColor v) {
    Assign(ledSpotColorOff_, v);
}

void LedIndicator::SetLedState(TState v) {
    if (v == ledState_) return;
    bool status = true;
    DoBeforeChange(status);
    if (!status) return;
    ledState_ = v;
    // Only the disc's box is repainted, on the next event processing (also inside a
    // PacedWait), so a row of eight changes paints once.
    update(LedBox());
    DoAfterChange();
}

void LedIndicator::DoBeforeChange(bool& status) {
    if (OnBeforeChange) OnBeforeChange(*this, status);
}

void LedIndicator::DoAfterChange() {
    if (OnAfterChange) OnAfterChange(*this);
}

QRect LedIndicator::LedBox() const {
    const int w = width(), h = height(), c = ledCircle_, m = ledMargin_;
    int x1 = 0, y1 = 0;
    switch (ledAlign_) {
        case alLeft:
            x1 = m, y1 = h / 2 - c / 2;
            break;
        case alRight:
            x1 = w - c - m, y1 = h / 2 - c / 2;
            break;
        case alCenter:
            x1 = w / 2 - c / 2, y1 = h / 2 - c / 2;
            break;
        case alBottom:
            x1 = w / 2 - c / 2, y1 = h - c - m;
            break;
        case alTop:
            x1 = w / 2 - c / 2, y1 = m;
            break;
    }
    return QRect(x1, y1, c, c);
}

QRect LedIndicator::CaptionArea() const {
    const int w = width(), h = height(), reach = ledMargin_ + ledCircle_ + captionMargin_;
    switch (ledAlign_) {
        case alLeft:
            return QRect(QPoint(reach, 1), QPoint(w - 2, h - 2));
        case alRight:
            return QRect(QPoint(1, 1), QPoint(w - reach - 1, h - 2));
        case alBottom:
            return QRect(QPoint(1, 1), QPoint(w - 2, h - reach - 1));
        case alTop:
            return QRect(QPoint(1, reach), QPoint(w - 2, h - 2));
        case alCenter:
            break;
    }
    return QRect(QPoint(1, 1), QPoint(w - 2, h - 2));
}

QColor LedIndicator::Color(TColor c) const {
    return ToQColor(c, palette());
}

QColor LedIndicator::ParentBackground() const {
    const QWidget* p = parentWidget();
    return p ? p->palette().color(p->backgroundRole()) : palette().color(QPalette::Window);
}

void LedIndicator::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Qt clips to the updated region: after a state change that is the LED box, so the
    // background and caption pixels around the disc are not touched.
    p.setClipRegion(event->region());
    PaintBackground(p);
    PaintCaption(p);
    PaintLed(p);
}

void LedIndicator::PaintBackground(QPainter& p) {
    const int w = width(), h = height();
    const QColor fill = transparant_ ? ParentBackground() : Color(colorBackGround_);
    FillRect(p, 0, 0, w, h, fill, border_ == olLine ? Color(borderLine_) : fill);
    const QColor white = Color(clWhite), grey = Color(clGray);
    if (border_ == ol3dUp) Frame3d(p, 0, 0, w - 1, h - 1, white, grey);
    if (border_ == ol3dDown) Frame3d(p, 0, 0, w - 1, h - 1, grey, white);
}

void LedIndicator::PaintCaption(QPainter& p) {
    const QRect area = CaptionArea();
    const int l = area.left(), t = area.top(), r = area.right() + 1, b = area.bottom() + 1;
    QColor fill;
    if (!captionTransparant_)
        fill = Color(captionBackGround_);
    else
        fill = transparant_ ? ParentBackground() : Color(colorBackGround_);
    FillRect(p, l, t, r, b, fill, captionBorder_ == olLine ? Color(captionLineColor_) : fill);
    const QColor white = Color(clWhite), grey = Color(clGray);
    if (captionBorder_ == ol3dUp) Frame3d(p, l, t, r, b, white, grey);
    if (captionBorder_ == ol3dDown) Frame3d(p, l, t, r, b, grey, white);

    const int l2 = l + 1, t2 = t + 1, r2 = r - 1, b2 = b - 1;
    if (r2 <= l2 || b2 <= t2) return;
    const QFontMetrics fm(font());
    const int tw = fm.horizontalAdvance(caption_), th = fm.height();
    const int yc = (t2 + b2) / 2 - th / 2, xc = (l2 + r2) / 2 - tw / 2;
    int x = l2 + 1, y = yc;
    switch (captionAlign_) {
        case caLeft:
            break;
        case caRight:
            x = r2 - tw - 1;
            break;
        case caCenter:
            x = xc;
            break;
        case caTop:
            x = xc, y = t2 + 1;
            break;
        case caBottom:
            x = xc, y = b2 - th - 1;
            break;
    }
    const QRect inner(QPoint(l2, t2), QPoint(r2 - 1, b2 - 1));
    Pixels(p, inner.x(), inner.y(), inner.width(), inner.height(), fill);
    p.save();
    p.setClipRect(inner, Qt::IntersectClip);
    p.setFont(font());
    // The font's colour, which does not turn grey with a disabled page: the captions read
    // like the page's other texts.
    p.setPen(palette().color(QPalette::Active, QPalette::WindowText));
    p.drawText(QPoint(x, y + fm.ascent()), caption_);
    p.restore();
}

void LedIndicator::PaintLed(QPainter& p) {
    const QRect box = LedBox();
    const int c = ledCircle_, x1 = box.left(), y1 = box.top();
    const QColor fill = Color(ledState_ == stOn ? ledOnColor_ : ledOffColor_);
    const QColor white = Color(clWhite), grey = Color(clGray);
    QColor line = fill;
    if (ledBorder_ == ol3dUp) line = white;
    if (ledBorder_ == ol3dDown) line = grey;
    if (ledBorder_ == olLine) line = Color(ledColorLine_);
    Ellipse(p, box, fill, line);
    if (ledBorder_ == ol3dUp || ledBorder_ == ol3dDown) {
        Arc(p, box, QPointF(x1, y1 + (c + 5) / 2), QPointF(x1 + c, y1 + (c - 5) / 2),
            ledBorder_ == ol3dUp ? grey : white);
    }
    if (ledSpot_) {
        const QColor spot = Color(ledState_ == stOn ? ledSpotColorOn_ : ledSpotColorOff_);
        Ellipse(p, QRect(QPoint(x1 + c / 5, y1 + c / 4), QPoint(x1 + c / 2 - 1, y1 + c / 2 - 1)),
                spot, spot);
        Ellipse(p, QRect(QPoint(x1 + c / 4, y1 + c / 5), QPoint(x1 + c / 2 - 1, y1 + c / 2 - 1)),
                spot, spot);
    }
}

void LedIndicator::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

// The second press of a double-click is the double-click, not the start of another click
// (Qt's default would hand it to mousePressEvent).
void LedIndicator::mouseDoubleClickEvent(QMouseEvent* event) {
    pressed_ = false;
    event->accept();
}

void LedIndicator::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click && OnClick) RunHandler([this] { OnClick(*this); });
    QWidget::mouseReleaseEvent(event);
}

}  // namespace swb808
