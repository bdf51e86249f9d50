#pragma once

#include <QIcon>
#include <QImage>

namespace swb808 {

// The program's pictures, drawn by code so that the sources carry no image files.
QImage WelcomePicture();  // 243 x 70, 24-bit
QIcon ProgramIcon();
QIcon ScanIcon();  // 32 x 32 button icons
QIcon SaveIcon();
QIcon ResetIcon();
QIcon FlashIcon();

}  // namespace swb808
