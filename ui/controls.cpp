#include "ui/controls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

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

void GroupBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm(font());
    const int top = fm.height() / 2;
    const QRect frame(0, top, width() - 1, height() - top - 1);
    // Etched: a dark line with a light one beside it.
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(frame.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(frame.adjusted(1, 1, 0, 0));
    if (title().isEmpty()) return;
    const QRect text(8, 0, fm.horizontalAdvance(title()) + 4, fm.height());
    p.fillRect(text, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(text, Qt::AlignCenter | Qt::TextShowMnemonic, title());
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
