// One string of a string container (.lrc) and the rules that turn it into the text a control
// shows: the access key marked or appended, the ":", "..." and blank suffixes, and the
// accelerator part of a menu text kept apart.
#pragma once

#include <cstdint>
#include <string>

namespace tessarine::ui {

// Entry kinds and flag bits as the container stores them.
inline constexpr std::uint16_t kLrcKindMenu = 5;  // text after the first tab is an accelerator
inline constexpr std::uint16_t kLrcFlagAccessKey = 0x01;
inline constexpr std::uint16_t kLrcFlagColon = 0x02;
inline constexpr std::uint16_t kLrcFlagEllipsis = 0x04;
inline constexpr std::uint16_t kLrcFlagBlank = 0x08;
inline constexpr std::uint16_t kLrcFlagAppendKey = 0x10;  // never mark the key inside the text

struct LrcEntry {
    std::uint32_t id = 0;
    std::uint16_t kind = 0;
    std::uint16_t flags = 0;
    char16_t accessKey = 0;
    std::u16string text;  // up to its terminator
};

// The text a control shows for `entry`, with the access key marked by "&".
//   "Save", key 's'                -> "&Save"
//   "Open", key 'A', append flag  -> "Open(&A)"
//   "設定", key 'S', "..." flag    -> "設定(&S)..."
//   kind 5 "Save\tCtrl+S", key 'S', "..." flag -> "&Save...\tCtrl+S"
std::u16string MakeDisplayText(const LrcEntry& entry);

}  // namespace tessarine::ui
