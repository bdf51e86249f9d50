#include "ui/status_bar.h"

namespace swb808 {

// Panels sit at fixed places and are clipped by a narrow window; they never make it wider.
StatusBar::StatusBar(QWidget* parent) : QFrame(parent) {}

void StatusBar::AddPanel(int width, const QString& text) {
    auto* panel = new QLabel(text, this);
    panel->setObjectName(QStringLiteral("panel%1").arg(panels_.size()));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setTextFormat(Qt::PlainText);
    panel->setContentsMargins(2, 0, 2, 0);
    const int left = panels_.empty() ? 0 : panels_.back()->geometry().right() + 3;
    panel->setGeometry(left, 1, width, 18);
    panels_.push_back(panel);
}

void StatusBar::SetPanelWidth(int index, int width) {
    panels_.at(index)->resize(width, panels_.at(index)->height());
    for (size_t n = size_t(index) + 1; n < panels_.size(); ++n)
        panels_[n]->move(panels_[n - 1]->geometry().right() + 3, panels_[n]->y());
}

}  // namespace swb808
