#pragma once

// The window's controls in full, for the sources that touch them (main_window.h names them by
// pointer only).

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>

#include "ui/controls.h"
#include "ui/led_indicator.h"
#include "ui/spin_edit.h"
#include "ui/status_bar.h"
#include "ui/text_memo.h"
