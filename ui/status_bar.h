#pragma once

#include <QFrame>
#include <QLabel>
#include <vector>

namespace swb808 {

// A status bar of fixed-width text panels, left to right.
class StatusBar : public QFrame {
  public:
    explicit StatusBar(QWidget* parent = nullptr);

    void AddPanel(int width, const QString& text);
    int PanelCount() const { return int(panels_.size()); }
    QString PanelText(int index) const { return panels_.at(index)->text(); }
    void SetPanelText(int index, const QString& text) { panels_.at(index)->setText(text); }
    int PanelWidth(int index) const { return panels_.at(index)->width(); }
    int PanelRight(int index) const { return panels_.at(index)->geometry().right(); }
    // Narrows or widens a panel; the panels right of it move along.
    void SetPanelWidth(int index, int width);

  private:
    std::vector<QLabel*> panels_;
};

}  // namespace swb808
