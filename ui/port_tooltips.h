#pragma once

#include <QComboBox>

namespace swb808 {

// Gives each item of the COM port list ("auto", "COM1" ... "COM16") a tooltip naming the
// device behind it, and refreshes them each time the list pops up, so an adapter plugged in
// meanwhile shows. The items' texts stay as they are.
void AttachPortTooltips(QComboBox* combo);

// Sets the tooltips once; AttachPortTooltips calls it on every popup.
void RefreshPortTooltips(QComboBox* combo);

}  // namespace swb808
