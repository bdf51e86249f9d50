#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

#include "protocol/colors.h"

namespace swb808 {

// Plain colours map one to one; system colours take the palette's role.
inline QColor ToQColor(TColor c, const QPalette& palette = QPalette()) {
    if ((c & clSystemColor) == clSystemColor) {
        switch (c) {
            case clWindow:
                return palette.color(QPalette::Base);
            case clWindowText:
                return palette.color(QPalette::WindowText);
            case clBtnFace:
            default:
                return palette.color(QPalette::Window);
        }
    }
    return QColor(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF));
}

}  // namespace swb808
