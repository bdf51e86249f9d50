#pragma once

#include <QAbstractSpinBox>

namespace swb808 {

// An integer edit with arrows whose text is free: Value() reads the text as a decimal number
// (anything else reads as MinValue and the text stays), SetValue clamps, and leaving the
// field with an out-of-range number puts the clamped value in. Typing takes digits, signs,
// the decimal separator and control keys only; other characters are dropped with a beep.
class SpinEdit : public QAbstractSpinBox {
  public:
    explicit SpinEdit(QWidget* parent = nullptr);

    int MinValue() const { return minValue_; }
    void SetMinValue(int v) { minValue_ = v; }
    int MaxValue() const { return maxValue_; }
    void SetMaxValue(int v) { maxValue_ = v; }
    int Increment() const { return increment_; }
    void SetIncrement(int v) { increment_ = v; }

    int Value() const;
    void SetValue(int v);
    QString Text() const { return text(); }
    void SetText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

  protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    int Clamp(long long v) const;

    int minValue_ = 0;
    int maxValue_ = 100;
    int increment_ = 1;
};

}  // namespace swb808
