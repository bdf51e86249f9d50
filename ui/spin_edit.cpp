#include "ui/spin_edit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <algorithm>
#include <optional>

namespace swb808 {

namespace {

std::optional<int> ParseDecimal(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok) return v;
    return std::nullopt;
}

}  // namespace

SpinEdit::SpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
    SetValue(0);
}

int SpinEdit::Clamp(long long v) const {
    if (maxValue_ <= minValue_) return int(v);
    return int(std::clamp<long long>(v, minValue_, maxValue_));
}

int SpinEdit::Value() const {
    return ParseDecimal(text()).value_or(minValue_);
}

void SpinEdit::SetValue(int v) {
    SetText(QString::number(Clamp(v)));
}

void SpinEdit::SetText(const QString& text) {
    lineEdit()->setText(text);
}

void SpinEdit::stepBy(int steps) {
    SetValue(Clamp(static_cast<long long>(Value()) + static_cast<long long>(steps) * increment_));
}

// Every text is acceptable: keys are filtered on typing, and pasted text stays as it is.
QValidator::State SpinEdit::validate(QString&, int&) const {
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const {
    return isReadOnly() ? StepNone : (StepUpEnabled | StepDownEnabled);
}

void SpinEdit::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    const bool control = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) ||
                         text.isEmpty() || !text.at(0).isPrint();
    if (!control) {
        const QString separator = QLocale().decimalPoint();
        const QChar ch = text.at(0);
        const bool accepted =
            (ch >= u'0' && ch <= u'9') || ch == u'+' || ch == u'-' || text == separator;
        if (!accepted) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void SpinEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    if (const auto v = ParseDecimal(text()); v && Clamp(*v) != *v) SetValue(*v);
}

}  // namespace swb808
