#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "ui/tcolor.h"

namespace swb808 {

// Ordinals are fixed: the window's bit-to-LED code relies on stOn = 0.
enum TState { stOn = 0, stOff = 1 };
enum TAlign { alLeft = 0, alRight = 1, alCenter = 2, alBottom = 3, alTop = 4 };
enum TCAlign { caLeft = 0, caRight = 1, caCenter = 2, caTop = 3, caBottom = 4 };
enum TBorder { olNone = 0, ol3dUp = 1, ol3dDown = 2, olLine = 3 };

class LedIndicator;
using TBeforeChange = std::function<void(LedIndicator& sender, bool& status)>;
using TAfterChange = std::function<void(LedIndicator& sender)>;
using TNotifyEvent = std::function<void(LedIndicator& sender)>;

// A round LED beside a one-line caption. It never changes its own state: a click only raises
// OnClick, and whoever handles it decides the new LedState.
class LedIndicator : public QWidget {
  public:
    explicit LedIndicator(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& v);
    TCAlign CaptionAlign() const { return captionAlign_; }
    void SetCaptionAlign(TCAlign v);
    int CaptionMargin() const { return captionMargin_; }
    void SetCaptionMargin(int v);
    TBorder CaptionBorder() const { return captionBorder_; }
    void SetCaptionBorder(TBorder v);
    TColor CaptionLineColor() const { return captionLineColor_; }
    void SetCaptionLineColor(TColor v);
    TColor CaptionBackGround() const { return captionBackGround_; }
    void SetCaptionBackGround(TColor v);
    bool CaptionTransparant() const { return captionTransparant_; }
    void SetCaptionTransparant(bool v);
    TColor LedOnColor() const { return ledOnColor_; }
    void SetLedOnColor(TColor v);
    TColor LedOffColor() const { return ledOffColor_; }
    void SetLedOffColor(TColor v);
    TColor ColorBackGround() const { return colorBackGround_; }
    void SetColorBackGround(TColor v);
    TColor LedColorLine() const { return ledColorLine_; }
    void SetLedColorLine(TColor v);
    TState LedState() const { return ledState_; }
    // Same value: nothing. Otherwise OnBeforeChange may veto; then only the disc is redrawn
    // (on the next event processing) and OnAfterChange follows.
    void SetLedState(TState v);
    TAlign LedAlign() const { return ledAlign_; }
    void SetLedAlign(TAlign v);
    int LedCircle() const { return ledCircle_; }
    void SetLedCircle(int v);
    TBorder LedBorder() const { return ledBorder_; }
    void SetLedBorder(TBorder v);
    int LedMargin() const { return ledMargin_; }
    void SetLedMargin(int v);
    TBorder Border() const { return border_; }
    void SetBorder(TBorder v);
    bool Transparant() const { return transparant_; }
    void SetTransparant(bool v);
    TColor BorderLine() const { return borderLine_; }
    void SetBorderLine(TColor v);
    bool LedSpot() const { return ledSpot_; }
    void SetLedSpot(bool v);
    TColor LedSpotColorOn() const { return ledSpotColorOn_; }
    void SetLedSpotColorOn(TColor v);
    TColor LedSpotColorOff() const { return ledSpotColorOff_; }
    void SetLedSpotColorOff(TColor v);

    TBeforeChange OnBeforeChange;
    TAfterChange OnAfterChange;
    TNotifyEvent OnClick;

    // The disc's box (x1, y1, x2, y2 exclusive) and the caption area before shrinking.
    QRect LedBox() const;
    QRect CaptionArea() const;

  protected:
    virtual void DoBeforeChange(bool& status);
    virtual void DoAfterChange();

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    template <typename T>
    void Assign(T& field, const T& v);
    QColor Color(TColor c) const;
    QColor ParentBackground() const;
    void PaintBackground(QPainter& p);
    void PaintCaption(QPainter& p);
    void PaintLed(QPainter& p);

    QString caption_;
    TCAlign captionAlign_ = caLeft;
    int captionMargin_ = 2;
    TBorder captionBorder_ = olNone;
    TColor captionLineColor_ = clBlack;
    TColor captionBackGround_ = clSilver;
    bool captionTransparant_ = true;
    TColor ledOnColor_ = clBlue;
    TColor ledOffColor_ = clNavy;
    TColor colorBackGround_ = clSilver;
    TColor ledColorLine_ = clBlack;
    TState ledState_ = stOn;
    TAlign ledAlign_ = alLeft;
    int ledCircle_ = 12;
    TBorder ledBorder_ = ol3dDown;
    int ledMargin_ = 5;
    TBorder border_ = olNone;
    bool transparant_ = false;
    TColor borderLine_ = clBlack;
    bool ledSpot_ = true;
    TColor ledSpotColorOn_ = clWhite;
    TColor ledSpotColorOff_ = clWhite;
    bool pressed_ = false;
};

}  // namespace swb808
