#include "ui/text_memo.h"

#include <QApplication>

namespace swb808 {

TextMemo::TextMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ApplyPalette();
}

void TextMemo::SetFontColor(TColor colour) {
    fontColor_ = colour;
    ApplyPalette();
}

void TextMemo::SetBackgroundColor(TColor colour) {
    backgroundColor_ = colour;
    ApplyPalette();
}

QStringList TextMemo::Lines() const {
    const QString text = toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

void TextMemo::ApplyPalette() {
    // Text without a character format of its own takes the palette's colour, so one palette
    // change recolours every line. All groups: the colour must not fade when unfocused.
    QPalette pal = palette();
    const QPalette base = QApplication::palette();
    pal.setColor(QPalette::Text, ToQColor(fontColor_, base));
    pal.setColor(QPalette::Base, ToQColor(backgroundColor_, base));
    setPalette(pal);
}

}  // namespace swb808
