#include "ui/form_builder.h"

#include <QApplication>

#include "protocol/board_facts.h"

namespace swb808::form {

QFont WindowFont(int pixelSize, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    // The condensed face, set a little tighter, comes closest to the text widths the layout
    // was drawn for; the line height stays 13 pixels.
    f.setStretch(QFont::SemiCondensed);
    f.setLetterSpacing(QFont::PercentageSpacing, 95);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QLabel* AutoLabel(QWidget* parent, const char* name, int x, int y, const QString& text) {
    auto* l = Make<QLabel>(parent, name, text);
    l->setTextFormat(Qt::PlainText);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLabel* FixedLabel(QWidget* parent, const char* name, int x, int y, int width, int height,
                   const QString& text) {
    auto* l = Make<QLabel>(parent, name, text);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setGeometry(x, y, width, height);
    return l;
}

QLabel* HeaderLabel(QWidget* parent, const char* name, int top, const QString& text) {
    auto* l = Make<QLabel>(parent, name, text);
    l->setTextFormat(Qt::PlainText);
    l->setFont(WindowFont(13));
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    l->setAutoFillBackground(true);
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, ToQColor(clSwbOrange));
    pal.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
    l->setPalette(pal);
    l->setGeometry(8, top, 401, 20);
    return l;
}

QStringList RateTexts() {
    QStringList texts;
    for (int32_t rate : board::kBaudRates) texts << QString::number(rate);
    return texts;
}

}  // namespace swb808::form
