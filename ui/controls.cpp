#include "ui/controls.h"

#include <QApplication>
#include <QKeyEvent>

#include "ui/dialogs.h"

namespace swb808 {

RadioButton::RadioButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on && OnClick) RunHandler(OnClick);
    });
}

void RadioButton::SetChecked(bool checked) {
    if (checked || !isChecked()) {
        setChecked(checked);
        return;
    }
    // Qt refuses to uncheck the checked button of an exclusive group; the program may.
    setAutoExclusive(false);
    setChecked(false);
    setAutoExclusive(true);
}

CheckBox::CheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    connect(this, &QAbstractButton::toggled, this, [this](bool) {
        if (OnClick) RunHandler(OnClick);
    });
}

ComboBox::ComboBox(const QStringList& items, QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setMaxVisibleItems(items.size());
    addItems(items);
    connect(this, &QComboBox::activated, this, [this](int) {
        if (OnChange) RunHandler(OnChange);
    });
}

void ComboBox::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    if (!autoComplete_ && !text.isEmpty() && text.at(0).isPrint() && !text.at(0).isSpace()) {
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

SpeedButton::SpeedButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (OnClick) RunHandler(OnClick);
    });
}

Panel::Panel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setAutoFillBackground(true);
    SetColor(clBtnFace);
}

void Panel::SetColor(TColor colour) {
    color_ = colour;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(colour, QApplication::palette()));
    setPalette(pal);
}

}  // namespace swb808
