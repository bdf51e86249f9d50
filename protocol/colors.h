#pragma once

// The program's one colour table, without Qt: the window paints with these values, the
// session's messages and the supply reading name them.

#include <cstdint>

namespace swb808 {

// A colour as the board's tools have always written it: 0x00BBGGRR (red in the low byte).
// Values with the high byte 0xFF name a system colour that the palette decides.
using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clSystemColor = 0xFF000000;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clBtnFace = clSystemColor | 15;

// The program's own colours.
inline constexpr TColor clSwbOrange = 1202164;  // 244, 87, 18
inline constexpr TColor clSwbBrown = 10579;     // 83, 41, 0
inline constexpr TColor clVccBad = 1444578;     // 226, 10, 22
inline constexpr TColor clVccGood = 32768;      // 0, 128, 0

}  // namespace swb808
