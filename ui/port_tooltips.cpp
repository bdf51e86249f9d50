#include "ui/port_tooltips.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QObject>
#include <QTextDocument>

#include "serial/port_description.h"

namespace swb808 {

namespace {

// The popup's view is shown each time the list opens.
class PopupWatcher : public QObject {
  public:
    explicit PopupWatcher(QComboBox* combo) : QObject(combo), combo_(combo) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) RefreshPortTooltips(combo_);
        return QObject::eventFilter(watched, event);
    }

  private:
    QComboBox* combo_;
};

QString TooltipFor(const QString& itemText) {
    if (!itemText.startsWith(QLatin1String("COM")))
        return QStringLiteral("alle Ports COM1 bis COM16 nacheinander");
    bool ok = false;
    const int n = itemText.mid(3).toInt(&ok);
    if (!ok) return {};
    const QString text = QString::fromStdString(DescribeComPort(n));
    // The adapter names its own product: a name that looks like markup is shown as it is.
    if (Qt::mightBeRichText(text))
        return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
    return text;
}

}  // namespace

void RefreshPortTooltips(QComboBox* combo) {
    for (int i = 0; i < combo->count(); ++i)
        combo->setItemData(i, TooltipFor(combo->itemText(i)), Qt::ToolTipRole);
}

void AttachPortTooltips(QComboBox* combo) {
    RefreshPortTooltips(combo);
    combo->view()->installEventFilter(new PopupWatcher(combo));
}

}  // namespace swb808
