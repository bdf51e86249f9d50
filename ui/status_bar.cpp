#include "ui/status_bar.h"

#include <QHBoxLayout>

namespace swb808 {

StatusBar::StatusBar(QWidget* parent) : QFrame(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 1, 0, 0);
    layout->setSpacing(2);
    layout->addStretch(1);
}

void StatusBar::AddPanel(int width, const QString& text) {
    auto* panel = new QLabel(text, this);
    panel->setObjectName(QStringLiteral("panel%1").arg(panels_.size()));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setFixedWidth(width);
    panel->setTextFormat(Qt::PlainText);
    panel->setContentsMargins(2, 0, 2, 0);
    auto* layout = static_cast<QHBoxLayout*>(this->layout());
    layout->insertWidget(int(panels_.size()), panel);
    panels_.push_back(panel);
}

}  // namespace swb808
