#include "ui/progress_bar_color.h"

#include <QApplication>

namespace swb808 {

void SetProgressBarColor(QProgressBar* bar, TColor colour) {
    QPalette pal = bar->palette();
    const QColor c = ToQColor(colour, QApplication::palette());
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Highlight, c);
    bar->setPalette(pal);
}

}  // namespace swb808
