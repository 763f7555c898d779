// Whether the desktop has a font for a Windows character-set number: the check a string
// container's character set must pass before its texts are used.
#pragma once

#include <cstdint>

namespace tessarine::ui {

// Asks the font database for a family with the writing system of `charset` (128 Shift JIS →
// Japanese, 134 GB2312 → Simplified Chinese, 0 ANSI → Latin, …; 1 "default" takes any font).
// Without a running QGuiApplication nothing is displayed and every character set passes; an
// unknown number fails.
bool HasDisplayFontForCharset(std::uint32_t charset);

}  // namespace tessarine::ui
