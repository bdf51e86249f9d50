#pragma once

#include <QPlainTextEdit>

#include "ui/tcolor.h"

namespace swb808 {

// A read-only, wrapping text box without scroll bars. It has one text colour for all its
// lines: setting the colour recolours what is already shown.
class TextMemo : public QPlainTextEdit {
  public:
    explicit TextMemo(QWidget* parent = nullptr);

    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor colour);
    TColor BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(TColor colour);

    void AddLine(const QString& line) { appendPlainText(line); }
    QStringList Lines() const;
    void SetLines(const QStringList& lines) { setPlainText(lines.join(u'\n')); }

  private:
    void ApplyPalette();

    TColor fontColor_ = clWindowText;
    TColor backgroundColor_ = clWindow;
};

}  // namespace swb808
