#pragma once

#include <QFont>
#include <QLabel>
#include <QStringList>
#include <QWidget>
#include <utility>

#include "ui/tcolor.h"

namespace swb808::form {

// Positions are pixels at 96 dpi relative to the parent's client area, as the window was
// drawn; the helpers keep the page builders to one line per control.

// The window's font: a sans serif with a character height of 11 pixels (13-pixel lines).
QFont WindowFont(int pixelSize = 11, bool bold = false);

template <typename T, typename... Args>
T* Make(QWidget* parent, const char* name, Args&&... args) {
    auto* w = new T(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

template <typename T>
T* Place(T* w, int x, int y, int width, int height) {
    w->setGeometry(x, y, width, height);
    return w;
}

// A label sized to its text.
QLabel* AutoLabel(QWidget* parent, const char* name, int x, int y, const QString& text);
// A label that keeps its size whatever its text.
QLabel* FixedLabel(QWidget* parent, const char* name, int x, int y, int width, int height,
                   const QString& text);
// An orange section header, 401 x 20 at left 8.
QLabel* HeaderLabel(QWidget* parent, const char* name, int top, const QString& text);

// The board's fourteen rates as the drop-downs list them, slowest first.
QStringList RateTexts();

}  // namespace swb808::form
