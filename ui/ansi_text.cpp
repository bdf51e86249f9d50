#include "ui/ansi_text.h"

#include "protocol/board_text.h"

namespace swb808 {

QString AnsiToQString(std::string_view text) {
    return QString::fromStdString(AnsiToUtf8(text));
}

}  // namespace swb808
