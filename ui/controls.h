#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

#include "ui/tcolor.h"

namespace swb808 {

using TNotify = std::function<void()>;

// The window's logic relies on these event rules, so they live here once instead of in
// every connect() of the window.

// OnClick runs when the button becomes checked, by the operator or by SetChecked(true).
// Unchecking by code runs nothing, and leaves neither button of a group checked if so asked.
class RadioButton : public QRadioButton {
  public:
    explicit RadioButton(const QString& text, QWidget* parent = nullptr);
    bool Checked() const { return isChecked(); }
    void SetChecked(bool checked);
    TNotify OnClick;

  protected:
    // The whole control takes the click, not only the indicator and the text.
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// OnClick runs on every change of the checked state, by the operator or by code.
class CheckBox : public QCheckBox {
  public:
    explicit CheckBox(const QString& text, QWidget* parent = nullptr);
    bool Checked() const { return isChecked(); }
    void SetChecked(bool checked) { setChecked(checked); }
    TNotify OnClick;

  protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// A selection-only drop-down list. OnChange runs only for the operator's pick; SetItemIndex
// runs nothing. -1 leaves no item selected.
class ComboBox : public QComboBox {
  public:
    explicit ComboBox(const QStringList& items, QWidget* parent = nullptr);
    int ItemIndex() const { return currentIndex(); }
    // An index outside the items leaves no item selected.
    void SetItemIndex(int index) { setCurrentIndex(index >= 0 && index < count() ? index : -1); }
    // Off: typed letters do not jump to a matching item.
    void SetAutoComplete(bool on) { autoComplete_ = on; }
    TNotify OnChange;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool autoComplete_ = true;
};

// A push button with an OnClick; speed buttons do not take the focus.
class SpeedButton : public QPushButton {
  public:
    explicit SpeedButton(const QString& text, QWidget* parent = nullptr);
    TNotify OnClick;
};

// A group box drawn as an etched frame on the button face, so that the controls in it (the
// LEDs paint their own button-face background) sit on the same colour as the box itself.
class GroupBox : public QGroupBox {
  public:
    explicit GroupBox(const QString& title, QWidget* parent = nullptr) : QGroupBox(title, parent) {}

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A panel: a flat frame with an optional one-line caption and a background of its own.
class Panel : public QLabel {
  public:
    explicit Panel(const QString& caption, QWidget* parent = nullptr);
    QString Caption() const { return text(); }
    void SetCaption(const QString& caption) { setText(caption); }
    TColor Color() const { return color_; }
    void SetColor(TColor colour);

  private:
    TColor color_ = clBtnFace;
};

}  // namespace swb808
