// The rules of the backup page that need no widgets: when a schedule is complete, which
// destinations are on the device, adding and deleting folder pairs, the file management URL.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "settings/setting_records.h"

namespace tessarine::ui {

// The selection lists hold 24 hours, 60 minutes, 31 days and 23 intervals; -1 is no choice.
bool IsScheduleComplete(const CBackupSetting& setting);

// "\\address\" (empty address: "").
std::string DestinationRoot(const std::string& hostOrAddress);

// The length of a path as the device and the settings count it: in characters (UTF-16 units,
// as the share's own path limit counts), not in UTF-8 bytes.
std::size_t PathLength(const std::string& path);
constexpr std::size_t kMaxPathLength = 255;

// 1 to 255 characters, below the address root or the device-name root, and not a root itself.
bool IsValidDestination(const std::string& destination, const std::string& address,
                        const std::string& hostName);

// Number of pairs before the first one with an empty source.
int UsedPairCount(const BackupFolderPairs& pairs);

enum class AddPairResult { kAdded, kDuplicate, kFull };
AddPairResult AddFolderPair(BackupFolderPairs& pairs, const std::string& source,
                            const std::string& destination);

// The exclusion field as stored: its usable patterns joined by "; " (an empty, ";"-only or
// whole-folder pattern is dropped).
std::string NormalizeExclusions(const std::string& text);

// Removes the pairs whose index is ticked; the rest move up in order, freed slots end empty.
void DeleteFolderPairs(BackupFolderPairs& pairs, const std::vector<bool>& ticked);

// The device's file management page for a destination, logged in by the browser page;
// "" when the destination is on neither the address nor the device name.
std::string FileManagementUrl(const std::string& destination, const std::string& address,
                              const std::string& hostName);

}  // namespace tessarine::ui
