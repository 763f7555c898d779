// Names: a device entry comes back under the name its file-list row gives it when the device
// holds it in another letter case (a device that folds names, or a rename there), and under
// its own name otherwise. Where the device holds names that differ in case only, each keeps its
// own: a row is taken for a folded match only when the listing holds one entry of that name.
#include "backup/restore_engine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <optional>
#include <set>

#include "base/app_exception.h"
#include "base/app_log.h"
#include "base/string_utility.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"

namespace tessarine {

namespace {

std::string TrimTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The part of `path` below `source` ("" for the source itself, else "/a/b"); nullopt when the
// path is not at or below it.
std::optional<std::string> RelativeBelow(const std::string& source, const std::string& path) {
    const std::string base = TrimTrailingSlashes(source);
    const std::string target = TrimTrailingSlashes(path);
    if (target == base) return std::string();
    const std::string prefix = base == "/" ? std::string() : base;
    if (target.size() > prefix.size() + 1 && target.compare(0, prefix.size(), prefix) == 0 &&
        target[prefix.size()] == '/')
        return target.substr(prefix.size());
    return std::nullopt;
}

bool IsSmbUrl(const std::string& path) { return path.rfind("smb://", 0) == 0; }

// A device folder joined with one name it listed: an smb:// path is percent-decoded when it
// is parsed, so a '%' of the name goes escaped.
std::string JoinDeviceName(const std::string& folder, const std::string& name) {
    if (!IsSmbUrl(folder)) return JoinDevicePath(folder, name);
    std::string escaped;
    for (char c : name) {
        if (c == '%')
            escaped += "%25";
        else
            escaped.push_back(c);
    }
    return (!folder.empty() && folder.back() == '/') ? folder + escaped : folder + "/" + escaped;
}

// Splits "/a/b" into its names; false when one is not a plain name.
bool SplitRelative(const std::string& relative, std::vector<std::string>& names) {
    names.clear();
    std::size_t start = 1;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        const std::string name = relative.substr(start, end - start);
        if (!IsRestorableName(name)) return false;
        names.push_back(name);
        start = end + 1;
    }
    return !names.empty();
}

bool IsBelowOrSame(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            (folder.back() == '/' || path[folder.size()] == '/'));
}

}  // namespace

const char* DescribeRestoreOutcome(RestoreOutcome outcome) {
    switch (outcome) {
        case RestoreOutcome::kRestored:
            return "restored";
        case RestoreOutcome::kEqual:
            return "already equal";
        case RestoreOutcome::kLocalDiffers:
            return "local file differs (kept; --overwrite replaces it)";
        case RestoreOutcome::kKindDiffers:
            return "a local folder and a device file, or the reverse";
        case RestoreOutcome::kRefusedName:
            return "device name refused";
        case RestoreOutcome::kRefusedLink:
            return "local link refused";
        case RestoreOutcome::kNotOnDevice:
            return "no copy on the device";
        case RestoreOutcome::kFailed:
            return "failed";
    }
    return "failed";
}

bool IsRestorableName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f) return false;
    }
    return true;
}

std::string RestoreTargetRoot(const BackupFolderPair& pair, const std::string& targetFolder) {
    const std::string source = TrimTrailingSlashes(pair.source);
    if (targetFolder.empty()) return source;
    const std::size_t slash = source.rfind('/');
    std::string last = slash == std::string::npos ? source : source.substr(slash + 1);
    if (last.empty()) last = "root";
    const std::string folder = TrimTrailingSlashes(targetFolder);
    return folder == "/" ? "/" + last : folder + "/" + last;
}

CRestoreEngine::CRestoreEngine(DeviceShare& share, CBackupSQLUtility* fileList,
                               const BackupFolderPairs& pairs)
    : share_(share), fileList_(fileList), pairs_(pairs) {}

void CRestoreEngine::LoadNames(int pair) {
    names_.clear();
    if (fileList_ == nullptr) return;
    const std::string& source = pairs_[pair].source;
    try {
        std::string path;
        std::string destination;
        std::time_t lastUpdate = 0;
        for (int isDirectory = 0; isDirectory <= 1; ++isDirectory) {
            fileList_->BindBackupSettingStatement(pair, isDirectory);
            while (fileList_->GetBackupSetting(&path, &destination, &lastUpdate) == 0) {
                const std::optional<std::string> relative = RelativeBelow(source, path);
                if (!relative || relative->empty()) continue;
                const std::size_t slash = relative->rfind('/');
                const std::string name = relative->substr(slash + 1);
                names_[relative->substr(0, slash)][FoldShareName(name)].push_back(name);
            }
        }
    } catch (const CAppException& e) {
        // Without the rows the names come back as the device lists them.
        LOG_ERROR("Restore File List Not Read. SetNo:" + IntToString(pair) +
                  " Error:" + e.GetErrorMessage());
        names_.clear();
    }
}

std::string CRestoreEngine::LocalName(const std::string& localRelativeFolder,
                                      const std::string& deviceName,
                                      const std::vector<ShareEntry>& listing) const {
    const auto folder = names_.find(localRelativeFolder);
    if (folder == names_.end()) return deviceName;
    const std::string folded = FoldShareName(deviceName);
    const auto candidates = folder->second.find(folded);
    if (candidates == folder->second.end()) return deviceName;
    const std::vector<std::string>& names = candidates->second;
    if (std::find(names.begin(), names.end(), deviceName) != names.end()) return deviceName;
    const auto sameOnDevice = std::count_if(listing.begin(), listing.end(), [&](const auto& e) {
        return FoldShareName(e.name) == folded;
    });
    if (sameOnDevice == 1 && names.size() == 1 && IsRestorableName(names.front()))
        return names.front();
    return deviceName;
}

void CRestoreEngine::ListTree(int pair, const std::string& deviceFolder,
                              const std::string& localRoot, const std::string& relativeFolder,
                              std::vector<RestoreItem>& items, const std::atomic<int>* cancel) {
    if (summary_.deviceLost || (cancel != nullptr && cancel->load() != 0)) return;
    auto listed = share_.List(deviceFolder, "*");
    if (!listed) {
        if (IsConnectionLoss(listed.error)) return NoteDeviceError(listed.error);
        LOG_ERROR_CODE(listed.error, "Restore List Error. folder:" + deviceFolder);
        RestoreItem failed{pair, deviceFolder, localRoot + relativeFolder, true};
        failed.outcome = RestoreOutcome::kFailed;
        failed.error = listed.error;
        summary_.refused.push_back(failed);
        ++summary_.failed;
        return;
    }
    for (const ShareEntry& entry : listed.value) {
        if (IsTemporaryCopyName(entry.name)) continue;  // a cut-off copy of the backup
        const std::string devicePath = JoinDeviceName(deviceFolder, entry.name);
        if (!IsRestorableName(entry.name)) {
            LOG_ERROR("Restore Name Refused. path:" + devicePath);
            RestoreItem refused{pair, devicePath, localRoot + relativeFolder, entry.isFolder};
            refused.outcome = RestoreOutcome::kRefusedName;
            summary_.refused.push_back(refused);
            ++summary_.skipped;
            continue;
        }
        const std::string relative =
            relativeFolder + "/" + LocalName(relativeFolder, entry.name, listed.value);
        items.push_back({pair, devicePath, localRoot + relative, entry.isFolder,
                         entry.isFolder ? 0 : entry.size, entry.lastWriteTime});
        if (entry.isFolder) ListTree(pair, devicePath, localRoot, relative, items, cancel);
    }
}

void CRestoreEngine::ListAsked(int pair, const std::string& path, const std::string& localRoot,
                               std::vector<RestoreItem>& items, const std::atomic<int>* cancel) {
    const BackupFolderPair& folderPair = pairs_[pair];
    const std::string relative = RelativeBelow(folderPair.source, path).value_or(std::string());
    if (relative.empty())
        return ListTree(pair, folderPair.destination, localRoot, "", items, cancel);

    std::vector<std::string> names;
    if (!SplitRelative(relative, names)) {
        LOG_ERROR("Restore Path Refused. path:" + path);
        RestoreItem refused{pair, "", path, false};
        refused.outcome = RestoreOutcome::kRefusedName;
        summary_.refused.push_back(refused);
        ++summary_.skipped;
        return;
    }
    // The folders above the asked-for entry, so that they are made (and checked) first.
    std::string deviceFolder = folderPair.destination;
    std::string localRelative;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        deviceFolder = JoinDeviceName(deviceFolder, names[i]);
        localRelative += "/" + names[i];
        items.push_back({pair, deviceFolder, localRoot + localRelative, true});
    }
    auto listed = share_.List(deviceFolder, "*");
    const ShareEntry* found = nullptr;
    if (listed) {
        const std::string folded = FoldShareName(names.back());
        for (const ShareEntry& entry : listed.value) {
            if (entry.name == names.back()) {
                found = &entry;
                break;
            }
            if (found == nullptr && FoldShareName(entry.name) == folded) found = &entry;
        }
    } else if (IsConnectionLoss(listed.error)) {
        return NoteDeviceError(listed.error);
    }
    if (found == nullptr) {
        const bool absent = listed || listed.error == ENOENT || listed.error == ENOTDIR;
        if (absent)
            LOG_ERROR("Restore Copy Not On Device. path:" + path);
        else
            LOG_ERROR_CODE(listed.error, "Restore List Error. folder:" + deviceFolder);
        RestoreItem missing{pair, JoinDeviceName(deviceFolder, names.back()), path, false};
        missing.outcome = absent ? RestoreOutcome::kNotOnDevice : RestoreOutcome::kFailed;
        missing.error = absent ? 0 : listed.error;
        summary_.refused.push_back(missing);
        ++summary_.failed;
        return;
    }
    // The name asked for is the name it comes back under.
    localRelative += "/" + names.back();
    const std::string devicePath = JoinDeviceName(deviceFolder, found->name);
    items.push_back({pair, devicePath, localRoot + localRelative, found->isFolder,
                     found->isFolder ? 0 : found->size, found->lastWriteTime});
    if (found->isFolder) ListTree(pair, devicePath, localRoot, localRelative, items, cancel);
}

bool CRestoreEngine::PrepareFolder(RestoreItem& item, bool dryRun) {
    struct stat info {};
    if (::lstat(item.localPath.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            item.outcome = RestoreOutcome::kFailed;
            item.error = errno;
            LOG_ERROR_CODE(item.error, "Restore Folder Error. folder:" + item.localPath);
            return false;
        }
        if (dryRun) return true;
        if (::mkdir(item.localPath.c_str(), 0777) != 0 && errno != EEXIST) {
            item.outcome = RestoreOutcome::kFailed;
            item.error = errno;
            LOG_ERROR_CODE(item.error, "Restore Create Folder Error. folder:" + item.localPath);
            return false;
        }
        return PrepareFolder(item, dryRun);  // checked again: made by us or by someone else
    }
    if (S_ISLNK(info.st_mode)) {
        item.outcome = RestoreOutcome::kRefusedLink;
        LOG_ERROR("Restore Link Refused. path:" + item.localPath);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        item.outcome = RestoreOutcome::kKindDiffers;
        LOG_ERROR("Restore Not A Folder. path:" + item.localPath);
        return false;
    }
    if (!dryRun) RemoveLeftovers(item.localPath);
    return true;
}

bool CRestoreEngine::PrepareRoot(RestoreItem& root, bool dryRun) {
    // The target folder itself may be reached through a link (as a source folder may); below
    // it nothing is. Missing, it is made with the folders above it.
    auto fail = [&](int error, const char* what) {
        root.outcome = RestoreOutcome::kFailed;
        root.error = error;
        LOG_ERROR_CODE(error, std::string(what) + root.localPath);
        return false;
    };
    struct stat info {};
    if (::stat(root.localPath.c_str(), &info) != 0) {
        if (errno != ENOENT) return fail(errno, "Restore Folder Error. folder:");
        if (dryRun) return true;
        for (std::size_t slash = root.localPath.find('/', 1); slash != std::string::npos;
             slash = root.localPath.find('/', slash + 1))
            ::mkdir(root.localPath.substr(0, slash).c_str(), 0777);
        if (::mkdir(root.localPath.c_str(), 0777) != 0 && errno != EEXIST)
            return fail(errno, "Restore Create Folder Error. folder:");
        if (::stat(root.localPath.c_str(), &info) != 0)
            return fail(errno, "Restore Folder Error. folder:");
    }
    if (!S_ISDIR(info.st_mode)) {
        root.outcome = RestoreOutcome::kKindDiffers;
        LOG_ERROR("Restore Target Not A Folder. path:" + root.localPath);
        return false;
    }
    if (!dryRun) RemoveLeftovers(root.localPath);
    return true;
}

void CRestoreEngine::RemoveLeftovers(const std::string& folder) {
    // Copies of this run may be under way into a folder seen before (two asked-for paths below
    // one folder, two pairs with one target): its leftovers were removed the first time.
    if (!clearedFolders_.insert(folder).second) return;
    RemoveTemporaryFiles(folder);
}

void CRestoreEngine::RemoveTemporaryFiles(const std::string& folder) {
    auto listed = [&] {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (IsTemporaryCopyName(entry->d_name)) names.emplace_back(entry->d_name);
            ::closedir(dir);
        }
        return names;
    }();
    for (const std::string& name : listed) {
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (::unlink(path.c_str()) == 0)
            LOG_NOTICE("Restore Leftover Removed. file:" + path);
        else
            LOG_ERROR_CODE(errno, "Restore Leftover Not Removed. file:" + path);
    }
}

bool CRestoreEngine::NeedsCopy(RestoreItem& item, const RestoreRequest& request) {
    struct stat info {};
    if (::lstat(item.localPath.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            item.outcome = RestoreOutcome::kRefusedLink;
            LOG_ERROR("Restore Link Refused. path:" + item.localPath);
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            item.outcome = RestoreOutcome::kKindDiffers;
            LOG_ERROR("Restore Not A File. path:" + item.localPath);
            return false;
        }
        if (static_cast<std::uint64_t>(info.st_size) == item.size &&
            info.st_mtime == item.lastWriteTime) {
            item.outcome = RestoreOutcome::kEqual;
            return false;
        }
        if (!request.overwrite) {
            item.outcome = RestoreOutcome::kLocalDiffers;
            LOG_NOTICE("Restore Local File Differs. Kept. path:" + item.localPath);
            return false;
        }
    } else if (errno != ENOENT) {
        item.outcome = RestoreOutcome::kFailed;
        item.error = errno;
        LOG_ERROR_CODE(item.error, "Restore Local File Error. path:" + item.localPath);
        return false;
    }
    item.outcome = RestoreOutcome::kRestored;
    return !request.dryRun;
}

void CRestoreEngine::NoteCopied(RestoreItem& item, const IoStatus& copied,
                                const std::atomic<int>* cancel) {
    if (copied) {
        item.outcome = RestoreOutcome::kRestored;
        LOG_TRACE("Restored. file:" + item.localPath);
        return;
    }
    item.outcome = RestoreOutcome::kFailed;
    item.error = copied.error;
    if (copied.error == ECANCELED && cancel != nullptr && cancel->load() != 0) return;
    if (IsConnectionLoss(copied.error)) return NoteDeviceError(copied.error);
    LOG_ERROR_CODE(copied.error, "Restore Copy Error. file:" + item.devicePath);
}

void CRestoreEngine::NoteDeviceError(int error) {
    if (!summary_.deviceLost) LOG_ERROR_CODE(error, "Restore Device Lost.");
    summary_.deviceLost = true;
    summary_.deviceError = error;
}

void CRestoreEngine::Count(const RestoreItem& item) {
    switch (item.outcome) {
        case RestoreOutcome::kRestored:
            ++summary_.restored;
            summary_.restoredBytes += item.size;
            break;
        case RestoreOutcome::kEqual:
            ++summary_.equal;
            break;
        case RestoreOutcome::kLocalDiffers:
        case RestoreOutcome::kKindDiffers:
        case RestoreOutcome::kRefusedName:
        case RestoreOutcome::kRefusedLink:
            ++summary_.skipped;
            break;
        case RestoreOutcome::kNotOnDevice:
        case RestoreOutcome::kFailed:
            ++summary_.failed;
            break;
    }
}

RestoreSummary CRestoreEngine::Run(const RestoreRequest& request, const std::atomic<int>* cancel,
                                   const ProgressObserver& observer) {
    summary_ = RestoreSummary{};
    clearedFolders_.clear();
    auto cancelled = [cancel] { return cancel != nullptr && cancel->load() != 0; };
    LOG_NOTICE(std::string("Restore Start.") + (request.dryRun ? " DryRun" : "") +
               (request.overwrite ? " Overwrite" : "") + " Target:" +
               (request.targetFolder.empty() ? std::string("original") : request.targetFolder));

    std::vector<int> chosen;
    for (const int pair : request.pairs)
        if (pair >= 0 && pair < static_cast<int>(pairs_.size())) chosen.push_back(pair);
    // Every asked-for path belongs to the first chosen pair it is below.
    std::vector<std::vector<std::string>> asked(pairs_.size());
    for (const std::string& path : request.paths) {
        bool placed = false;
        for (const int pair : chosen) {
            if (RelativeBelow(pairs_[pair].source, path)) {
                asked[pair].push_back(TrimTrailingSlashes(path));
                placed = true;
                break;
            }
        }
        if (!placed) {
            LOG_ERROR("Restore Path Not In A Pair. path:" + path);
            RestoreItem missing{-1, "", path, false};
            missing.outcome = RestoreOutcome::kNotOnDevice;
            summary_.refused.push_back(missing);
            ++summary_.failed;
        }
    }

    // What the next mirroring backup must not take for deleted until this restore has ended.
    std::vector<std::string> marked;
    if (marks_ != nullptr && !request.dryRun && request.targetFolder.empty()) {
        for (const int pair : chosen) {
            if (pairs_[pair].source.empty() || pairs_[pair].destination.empty()) continue;
            if (request.paths.empty())
                marked.push_back(TrimTrailingSlashes(pairs_[pair].source));
            else
                marked.insert(marked.end(), asked[pair].begin(), asked[pair].end());
        }
        if (!marks_->Set(marked)) LOG_ERROR("Restore Not Marked. Mirroring Is Not Held Back.");
    }

    std::vector<RestoreItem> items;
    std::map<int, std::string> roots;
    for (const int pair : chosen) {
        if (pairs_[pair].source.empty() || pairs_[pair].destination.empty()) continue;
        std::vector<std::string> paths = asked[pair];
        if (request.paths.empty()) paths.push_back(TrimTrailingSlashes(pairs_[pair].source));
        if (paths.empty()) continue;
        // A path below another asked-for one is part of it.
        std::sort(paths.begin(), paths.end());
        std::vector<std::string> outer;
        for (const std::string& path : paths)
            if (outer.empty() || !IsBelowOrSame(path, outer.back())) outer.push_back(path);
        const std::string root = RestoreTargetRoot(pairs_[pair], request.targetFolder);
        roots[pair] = root;
        LoadNames(pair);
        for (const std::string& path : outer) ListAsked(pair, path, root, items, cancel);
        names_.clear();
    }

    RestoreProgress progress;
    for (const RestoreItem& item : items) {
        if (item.isFolder) continue;
        ++progress.filesTotal;
        progress.bytesTotal += item.size;
    }
    if (observer) observer(progress);

    // Folders that cannot take copies; what lies below them shares their outcome.
    std::vector<RestoreItem> blocked;
    auto block = [&](const RestoreItem& folder) {
        blocked.push_back(folder);
        summary_.refused.push_back(folder);
        Count(folder);
    };
    // The files looked at, in order, with the copies of those that need one queued ahead (the
    // share makes several at a time where it can); each is settled, in order, once its copy
    // is taken.
    struct Pending {
        RestoreItem* item;
        std::optional<CopyTicket> copy;
    };
    std::deque<Pending> pending;
    bool stopped = false;
    std::set<std::string> failedFolders;  // where a failed copy may have left its temporary file
    auto settle = [&] {
        Pending next = pending.front();
        pending.pop_front();
        RestoreItem& item = *next.item;
        if (next.copy) {
            NoteCopied(item, share_.TakeCopyResult(*next.copy), cancel);
            if (item.outcome == RestoreOutcome::kFailed)
                failedFolders.insert(item.localPath.substr(0, item.localPath.rfind('/')));
            if ((item.error == ECANCELED && cancelled()) || summary_.deviceLost) {
                stopped = true;
                return;
            }
        }
        Count(item);
        summary_.files.push_back(item);
        ++progress.filesDone;
        progress.bytesDone += item.size;
        progress.last = &summary_.files.back();
        if (observer) observer(progress);
    };
    auto settleAll = [&] {
        while (!pending.empty() && !stopped) settle();
    };
    int preparedPair = -1;
    for (RestoreItem& item : items) {
        if (stopped || summary_.deviceLost || cancelled()) break;
        if (item.pair != preparedPair) {
            // One pair's copies are all in before the next pair's target is looked at: two
            // pairs may share a target folder.
            settleAll();
            if (stopped) break;
            preparedPair = item.pair;
            RestoreItem root{item.pair, pairs_[item.pair].destination, roots[item.pair], true};
            if (!PrepareRoot(root, request.dryRun)) block(root);
        }
        const auto below = std::find_if(blocked.begin(), blocked.end(), [&](const auto& folder) {
            return item.pair == folder.pair && IsBelowOrSame(item.localPath, folder.localPath);
        });
        if (below != blocked.end()) {
            if (item.isFolder) continue;
            item.outcome = below->outcome;
            item.error = below->error;
            pending.push_back({&item, std::nullopt});
        } else if (item.isFolder) {
            if (!PrepareFolder(item, request.dryRun)) block(item);
            continue;
        } else if (NeedsCopy(item, request)) {
            pending.push_back(
                {&item, share_.QueueCopyFromShare(item.devicePath, item.localPath, cancel)});
        } else {
            pending.push_back({&item, std::nullopt});
        }
        while (!stopped &&
               (pending.size() > kCopiesAhead || (!pending.empty() && !pending.front().copy)))
            settle();
    }
    settleAll();
    if (summary_.deviceLost) {
        // The rest is not asked of a device that stopped answering.
        share_.DropQueuedCopies();
    } else {
        // Cancelled: every copy still queued ends within one block; none writes after the run.
        for (const Pending& rest : pending)
            if (rest.copy) static_cast<void>(share_.TakeCopyResult(*rest.copy));
    }
    pending.clear();
    // A copy that failed (its copier killed, say) may have left its temporary file: no copy is
    // under way any more.
    if (!request.dryRun)
        for (const std::string& folder : failedFolders) RemoveTemporaryFiles(folder);
    summary_.cancelled = cancelled();
    if (summary_.cancelled) LOG_NOTICE("Restore Cancelled.");
    if (!marked.empty() && !summary_.cancelled && !summary_.deviceLost) marks_->Clear(marked);
    LOG_NOTICE(Format("Restore End. Restored:%llu Equal:%llu Skipped:%llu Failed:%llu",
                      static_cast<unsigned long long>(summary_.restored),
                      static_cast<unsigned long long>(summary_.equal),
                      static_cast<unsigned long long>(summary_.skipped),
                      static_cast<unsigned long long>(summary_.failed)) +
               (summary_.deviceLost ? " DeviceLost" : ""));
    return summary_;
}

}  // namespace tessarine
