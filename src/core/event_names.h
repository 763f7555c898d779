// The named events, in creation order.
#pragma once

#include <array>
#include <string_view>

namespace tessarine {

inline constexpr std::string_view kEventBackupSettingChanged = "BackupSettingChanged";
inline constexpr std::string_view kEventDetectFileSettingChanged = "DetectFileSettingChanged";
inline constexpr std::string_view kEventBackupShutDown = "BackupShutDown";
inline constexpr std::string_view kEventDetectFileShutDown = "DetectFileShutDown";
inline constexpr std::string_view kEventDetectFileResultShutDown = "DetectFileResultShutDown";
inline constexpr std::string_view kEventBackupNow = "BackupNow";
inline constexpr std::string_view kEventBackupWindowsShutDown = "BackupWindowsShutDown";
inline constexpr std::string_view kEventBackupComplete = "BackupComplete";
// Starts a forwarding run at once (unless one is running); signalled only from outside, by
// `TessarineTool --signal DetectFileNow`, as a support aid.
inline constexpr std::string_view kEventDetectFileNow = "DetectFileNow";
// Makes the result checker look for results at once instead of at the end of its interval;
// signalled only from outside, by `TessarineTool --signal DetectFileResultNow`, likewise.
inline constexpr std::string_view kEventDetectFileResultNow = "DetectFileResultNow";

inline constexpr std::array<std::string_view, 10> kNamedEventsInOrder = {
    kEventBackupSettingChanged,  kEventDetectFileSettingChanged, kEventBackupShutDown,
    kEventDetectFileShutDown,    kEventDetectFileResultShutDown, kEventBackupNow,
    kEventBackupWindowsShutDown, kEventBackupComplete,           kEventDetectFileNow,
    kEventDetectFileResultNow};

}  // namespace tessarine
