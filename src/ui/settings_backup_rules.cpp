#include "ui/settings_backup_rules.h"

#include <algorithm>

#include "backup/exclusion_filter.h"
#include "base/string_utility.h"
#include "network/http_utility.h"

namespace tessarine::ui {

bool IsScheduleComplete(const CBackupSetting& s) {
    if (!s.isSchedule) return true;
    switch (s.scheduleSetting) {
        case 0:
            return s.dateDay != -1 && s.dateHour != -1 && s.dateMinute != -1;
        case 1: {
            const bool anyDay =
                std::any_of(s.weekdays.begin(), s.weekdays.end(), [](bool day) { return day; });
            return (s.weekdayHour != -1 || s.weekdayMinute != -1) && anyDay;
        }
        case 2:
            return s.hourHour != -1 && s.hourMinute != -1;
        case 3:
            return s.interval != -1;
        default:
            return true;
    }
}

std::string DestinationRoot(const std::string& hostOrAddress) {
    if (hostOrAddress.empty()) return "";
    return "\\\\" + hostOrAddress + "\\";
}

std::size_t PathLength(const std::string& path) { return Utf8ToWide(path).size(); }

bool IsValidDestination(const std::string& destination, const std::string& address,
                        const std::string& hostName) {
    if (destination.empty() || PathLength(destination) > kMaxPathLength) return false;
    for (const std::string& root : {DestinationRoot(address), DestinationRoot(hostName)}) {
        if (root.empty()) continue;
        if (destination.size() > root.size() && destination.compare(0, root.size(), root) == 0)
            return true;
    }
    return false;
}

int UsedPairCount(const BackupFolderPairs& pairs) {
    int count = 0;
    while (count < kBackupFolderPairCount && !pairs[count].source.empty()) ++count;
    return count;
}

AddPairResult AddFolderPair(BackupFolderPairs& pairs, const std::string& source,
                            const std::string& destination) {
    for (auto& pair : pairs) {
        if (pair.source.empty()) {
            pair = {source, destination};
            return AddPairResult::kAdded;
        }
        if (pair.source == source && pair.destination == destination)
            return AddPairResult::kDuplicate;
    }
    return AddPairResult::kFull;
}

void DeleteFolderPairs(BackupFolderPairs& pairs, const std::vector<bool>& ticked) {
    BackupFolderPairs kept{};
    int next = 0;
    for (int i = 0; i < kBackupFolderPairCount; ++i) {
        const bool remove = i < static_cast<int>(ticked.size()) && ticked[i];
        if (!remove && !pairs[i].source.empty()) kept[next++] = pairs[i];
    }
    pairs = kept;
}

std::string FileManagementUrl(const std::string& destination, const std::string& address,
                              const std::string& hostName) {
    std::string::size_type at = std::string::npos;
    std::string found;
    for (const std::string& name : {address, hostName}) {
        if (name.empty()) continue;
        at = destination.find(name);
        if (at != std::string::npos) {
            found = name;
            break;
        }
    }
    if (at == std::string::npos) return "";
    std::string relative;
    const auto after = at + found.size() + 1;
    if (after < destination.size()) relative = destination.substr(after);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return "http://" + address + CHttpUtility::kLoginObject +
           "&fullpath=" + CHttpUtility::UrlEncode(relative);
}

std::string NormalizeExclusions(const std::string& text) {
    std::string joined;
    for (const std::string& pattern : ExclusionFilter::Split(text)) {
        if (!ExclusionFilter::Problem(pattern).empty()) continue;
        if (!joined.empty()) joined += "; ";
        joined += pattern;
    }
    return joined;
}

}  // namespace tessarine::ui
