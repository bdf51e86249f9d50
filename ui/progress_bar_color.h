#pragma once

#include <QProgressBar>

#include "ui/tcolor.h"

namespace swb808 {

// Sets the fill colour of a progress bar (Fusion draws the bar in the palette's highlight).
void SetProgressBarColor(QProgressBar* bar, TColor colour);

}  // namespace swb808
