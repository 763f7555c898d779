#include "backup/backup_execute.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backup/backup_exceptions.h"
#include "backup/backup_xml_utility.h"
#include "backup/failure_reason.h"
#include "backup/failure_reason_file.h"
#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "core/event_names.h"
#include "platform/posix/posix_file_system.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"

namespace tessarine {

namespace {

constexpr char kShareBackupFolder[] = "\\zereda\\backup\\";

// Consecutive requests that found the device gone or silent before a run gives up. Each waits
// at most the share's request time-out (an SMB share fails every later request at once after
// one time-out), so a frozen device ends the run within about a minute.
constexpr int kConnectionFailureLimit = 3;

// Thrown through the passes when the device stopped answering; ends the run.
struct DeviceConnectionLost {
    int error = 0;
};

// The message of an exception for a log line; a code without a message text is named by number.
std::string Describe(const CAppException& e) {
    std::string message = e.GetErrorMessage();
    if (message.empty()) message = "Error Code:" + IntToString(e.GetErrorCode());
    return message;
}

std::string JoinLocalPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool IsSmbUrl(const std::string& path) { return path.rfind("smb://", 0) == 0; }

// An smb:// destination is percent-decoded when it is parsed: a '%' of a local name must reach
// it escaped, or "a%41.txt" would land on "aA.txt".
std::string EscapeForDestination(const std::string& destination, std::string name) {
    if (!IsSmbUrl(destination)) return name;
    std::string escaped;
    escaped.reserve(name.size());
    for (char c : name) {
        if (c == '%')
            escaped += "%25";
        else
            escaped.push_back(c);
    }
    return escaped;
}

// A device folder joined with one name found in a listing of it.
std::string JoinShareName(const std::string& folder, const std::string& name) {
    const std::string escaped = EscapeForDestination(folder, name);
    if (IsSmbUrl(folder)) {
        return (!folder.empty() && folder.back() == '/') ? folder + escaped
                                                         : folder + "/" + escaped;
    }
    return JoinDevicePath(folder, escaped);
}

// Stored times are local 14-digit stamps: in the hour a clock change repeats, one stamp stands
// for two moments, and a file stamped in it matches either.
bool SameTimeStamp(std::time_t stored, std::time_t actual) {
    return stored == actual || ToTimeStamp(stored) == ToTimeStamp(actual);
}

// A name that cannot be reproduced on the share: '\' separates folders there.
bool IsRepresentableOnShare(const std::string& name) {
    return name.find('\\') == std::string::npos;
}

// Local entries whose names are one name on the share (`folded`: each entry's name as the share
// compares it). The entry that keeps the name is the one already in the file list, else the one
// the share holds under its exact name, else the first in byte order; every other one of the
// group loses it. Returns, per entry, the index of the entry it lost to, or -1.
std::vector<int> FindNameClashes(const std::vector<LocalEntry>& entries,
                                 const std::vector<std::string>& folded,
                                 const std::function<bool(std::size_t)>& preferred) {
    std::vector<int> loserOf(entries.size(), -1);
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t x, std::size_t y) { return folded[x] < folded[y]; });
    for (std::size_t first = 0; first < order.size();) {
        std::size_t last = first + 1;
        while (last < order.size() && folded[order[last]] == folded[order[first]]) ++last;
        if (last - first > 1) {
            std::size_t winner = order[first];
            for (std::size_t k = first; k < last; ++k) {
                const std::size_t candidate = order[k];
                const bool candidatePreferred = preferred(candidate);
                const bool winnerPreferred = preferred(winner);
                if (candidatePreferred != winnerPreferred) {
                    if (candidatePreferred) winner = candidate;
                } else if (entries[candidate].name < entries[winner].name) {
                    winner = candidate;
                }
            }
            for (std::size_t k = first; k < last; ++k)
                if (order[k] != winner) loserOf[order[k]] = static_cast<int>(winner);
        }
        first = last;
    }
    return loserOf;
}

}  // namespace

// What the run knows of one destination folder: the share's entries by folded name, or that
// the folder could not be listed (the file list alone decides then).
struct CBackupExecute::DestinationListing {
    bool known = false;
    std::unordered_map<std::string, ShareEntry> byFoldedName;

    // `folded`: the name as the share compares it (FoldShareName).
    const ShareEntry* Find(const std::string& folded) const {
        const auto found = byFoldedName.find(folded);
        return found == byFoldedName.end() ? nullptr : &found->second;
    }
};

CBackupExecute::CBackupExecute(Dependencies dependencies)
    : shareFactory_(std::move(dependencies.shareFactory)),
      fileList_(dependencies.fileList),
      messageSink_(dependencies.messageSink),
      namedEvents_(dependencies.namedEvents),
      clock_(dependencies.clock),
      backupFolderPath_(std::move(dependencies.backupFolderPath)),
      systemInfo_(dependencies.systemInfo),
      loadCommonSetting_(std::move(dependencies.loadCommonSetting)),
      loadBackupSetting_(std::move(dependencies.loadBackupSetting)),
      profileStore_(dependencies.profileStore),
      progress_(dependencies.progress),
      shutdownAfterBackup_(dependencies.shutdownAfterBackup),
      fileSystem_(dependencies.localFileSystem),
      restoreMarks_(std::move(dependencies.restoreMarksPath)) {
    if (fileSystem_ == nullptr) {
        ownedFileSystem_ = std::make_unique<PosixFileSystem>();
        fileSystem_ = ownedFileSystem_.get();
    }
    if (!loadCommonSetting_)
        loadCommonSetting_ = [](CCommonSetting& record) { return record.Load(); };
    if (!loadBackupSetting_)
        loadBackupSetting_ = [](CBackupSetting& record) { return record.Load(); };

    // The error list's capacity is fixed for the executor's life.
    const int defaultCapacity = CBackupSetting::DefaultBackupErrorMaxCount();
    errorList_.capacity = defaultCapacity;
    try {
        CBackupSetting setting(profileStore_);
        const int ret = loadBackupSetting_(setting);
        if (ret != 0) {
            LOG_ERROR("Load BackupSetting Error. ret:" + IntToString(ret) +
                      " BackupErrorMaxCount:" + IntToString(defaultCapacity));
        } else if (setting.backupErrorMaxCount < 0) {
            LOG_ERROR("Invalid BackupErrorMaxCount:" + IntToString(setting.backupErrorMaxCount) +
                      " Use:" + IntToString(defaultCapacity));
        } else {
            errorList_.capacity = setting.backupErrorMaxCount;
        }
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
    }
}

CBackupExecute::~CBackupExecute() = default;

int CBackupExecute::ThreadCore() {
    LOG_BANNER("BackupExecute Start up");
    LOG_METHOD();
    LOG_NOTICE("ThreadCore Start");
    // Read once: the scheduler may set the next run's mode while this one ends.
    shutdownMode_ = GetShutdownMode();
    SetBackupRunning(1);

    // Signalled and closed at every ending of the run; nothing in the program waits for it.
    EventHandle backupComplete = namedEvents_.Open(std::string(kEventBackupComplete));
    if (!backupComplete) LOG_ERROR("Open Event Error. Name:" + std::string(kEventBackupComplete));

    shutdownAfterBackup_.store(1);
    progress_.totalCount.store(-1);
    progress_.doneCount.store(0);
    runResultCode_ = 0;  // a run with nothing to copy writes no result files and succeeded
    ++progress_.runsStarted;

    RunOutcome outcome;
    try {
        Run(outcome);
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
    } catch (...) {
        LOG_ERROR("Catch Unknown Exception.");
    }

    if (share_) {
        // Copies queued ahead of a pass that was cut short (stop flag, lost device) are not
        // made; the next run finds their files without rows and copies them.
        share_->DropQueuedCopies();
        if (!connectedHost_.empty()) share_->Cancel(connectedHost_);
        share_.reset();
    }
    queuedCopies_.clear();
    connectedHost_.clear();
    SetBackupRunning(0);
    if (outcome.reported) {
        NotifyBackupResult(outcome.result, outcome.isNotify, outcome.popupTimeout);
    } else if (shutdownMode_ == 1) {
        // The tray waits for this to end its backup before shutdown, also when nothing ran.
        messageSink_.Post(ShutdownBackupComplete{});
    }
    progress_.lastResultCode.store(outcome.reported ? runResultCode_ : -1);
    ++progress_.runsEnded;
    SignalBackupComplete(backupComplete);
    LOG_NOTICE("ThreadCore End Execute:" + IntToString(errorList_.executeCount) +
               " Success:" + IntToString(errorList_.successCount));
    LOG_BANNER("BackupExecute Finish");
    if (shutdownMode_ == 1) CallJudgeShutdown();
    return outcome.result;
}

void CBackupExecute::Run(RunOutcome& outcome) {
    LOG_METHOD();
    errorList_.Clear();
    ClearCandidates();
    connectionFailures_ = 0;

    CCommonSetting common(profileStore_);
    int ret = loadCommonSetting_(common);
    if (ret != 0 || common.userName.empty()) {
        LOG_ERROR("CommonSetting Error. ret:" + IntToString(ret) + " User:" + common.userName +
                  " Password:" + kMaskedPassword);
        return;
    }
    CBackupSetting backup(profileStore_);
    ret = loadBackupSetting_(backup);
    if (ret != 0 || backup.folderPairs[0].source.empty()) {
        LOG_ERROR("BackupSetting Error. ret:" + IntToString(ret) +
                  " Source:" + backup.folderPairs[0].source);
        return;
    }
    outcome.reported = true;
    outcome.isNotify = backup.isNotifyBackupComplete;
    outcome.popupTimeout = common.popupTimeout;
    folderPairs_ = backup.folderPairs;
    for (int i = 0; i < kBackupFolderPairCount; ++i)
        exclusions_[i] = ExclusionFilter(folderPairs_[i].exclusions);
    const bool mirroring = backup.isDeletedFileBackup;
    const std::time_t startTime = clock_.Now();

    const int connectResult = ConnectShare(common);
    if (connectResult != kShareConnected && connectResult != kShareCredentialConflict) {
        // The host name alone is often empty: the address is what can be acted on.
        LOG_ERROR_CODE(connectResult, "SMB Connnection Error. Param:" + common.hostName + ", " +
                                          common.userName + ", " + kMaskedPassword +
                                          " Address:" + common.ipv4Address);
        WriteResultFiles(startTime, clock_.Now(), 1);
        return;
    }
    if (shutdownMode_ == 1 && messageBoxForShutdownBackup_) messageBoxForShutdownBackup_();

    int result = 0;
    // No restore runs beside a backup (both hold the backup running flag): the marks are
    // what restores that were cancelled or killed left.
    unfinishedRestores_ = mirroring ? restoreMarks_.Read() : std::set<std::string>{};
    try {
        progress_.totalCount.store(CountBackupTargets(mirroring));
        progress_.doneCount.store(0);
        LOG_NOTICE("BackupFileCountMax = " + IntToString(progress_.totalCount.load()));

        for (int i = 0; i < kBackupFolderPairCount; ++i) {
            if (IsStopRequested()) {
                LOG_TRACE("ThreadCore() Finish App.");
                break;
            }
            const std::string& source = folderPairs_[i].source;
            if (source.empty()) break;
            if (!CheckFolderPair(i, true)) {
                result = 1;
                continue;
            }
            const int rowCount = fileList_.GetBackupFileCount(i);
            if (rowCount < 1) {
                LOG_NOTICE("ExecuteFullBackup Start  SetNo = " + IntToString(i));
                RecordSourceMount(i);
                ExecuteFullBackup(i, source);
            } else {
                // Rows are not marked "INIT" before the pass: nothing reads that mark, and
                // marking every row (and again "COMPLETE" after the run) rewrote the whole
                // table twice per run. Rows the pass writes carry "ADD" or "UPDATE" as before.
                LOG_NOTICE("ExecuteDiffBackup Start  SetNo = " + IntToString(i));
                if (mirroring) LoadBackupList(i);
                storedTimes_.reserve(static_cast<std::size_t>(rowCount));
                fileList_.GetBackupTimes(i, storedTimes_);
                ExecuteDiffBackup(i, source, mirroring);
                storedTimes_.clear();
                // A walk cut short by the stop flag has not seen every entry: what it did not
                // reach must not be taken for deleted.
                if (mirroring && !IsStopRequested() && IsSourceMountUnchanged(i))
                    ExecuteDeletedFileBackup(i);
                ClearCandidates();
                claimedNames_.clear();
            }
        }

        fileList_.UpdateBackupStatus("COMPLETE");
        if (errorList_.executeCount >= 1) {
            const std::time_t endTime = clock_.Now();
            if (errorList_.successCount >= 1) ForwardResultFile(common.ipv4Address, endTime);
            int resultCode = 0;
            if (errorList_.executeCount != errorList_.successCount) {
                resultCode = 2;
                result = 1;
            }
            if (!WriteResultFiles(startTime, endTime, resultCode)) result = 1;
        }
    } catch (const DeviceConnectionLost& lost) {
        LOG_ERROR_CODE(lost.error, "SMB Connection Lost. Address:" + common.ipv4Address +
                                       " Failures:" + IntToString(kConnectionFailureLimit));
        EndAfterFailure(startTime);
        result = 1;
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        EndAfterFailure(startTime);
        result = 1;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception ") + e.what());
        EndAfterFailure(startTime);
        result = 1;
    } catch (...) {
        LOG_ERROR("Catch Unknown Exception");
        EndAfterFailure(startTime);
        result = 1;
    }
    outcome.result = result;
}

void CBackupExecute::EndAfterFailure(std::time_t startTime) {
    ClearCandidates();
    claimedNames_.clear();
    storedTimes_.clear();
    try {
        fileList_.UpdateBackupStatus("COMPLETE");
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
    }
    WriteResultFiles(startTime, clock_.Now(), 2);
}

int CBackupExecute::ConnectShare(const CCommonSetting& common) {
    LOG_METHOD();
    if (shareFactory_) share_ = shareFactory_();
    if (!share_) {
        LOG_ERROR("No Device Share");
        return -1;
    }
    LOG_TRACE("Connect:\\\\" + common.ipv4Address);
    share_->Cancel(common.ipv4Address);
    const int result = share_->Connect(common.ipv4Address, common.userName, common.userPassword);
    if (result == kShareConnected || result == kShareCredentialConflict) {
        connectedHost_ = common.ipv4Address;
        LOG_TRACE("Connected. Result:" + IntToString(result));
    }
    return result;
}

bool CBackupExecute::CheckFolderPair(int settingNumber, bool report) {
    const BackupFolderPair& pair = folderPairs_[settingNumber];
    if (!fileSystem_->IsFolder(pair.source).value) {
        if (report) {
            LOG_ERROR("Source Folder Not Exist. Path:" + pair.source);
            errorList_.AddFailure(pair.source, FailureReason::kSourceMissing);
        }
        return false;
    }
    if (pair.destination.empty()) {
        if (report) {
            LOG_ERROR("Destination Folder Not Set. Source:" + pair.source);
            errorList_.AddFailure(pair.source, FailureReason::kDestinationNotSet);
        }
        return false;
    }
    return true;
}

void CBackupExecute::RecordSourceMount(int settingNumber) {
    // Only a later mirroring pass needs it: a failure here must not keep the backup from running.
    try {
        const std::string& source = folderPairs_[settingNumber].source;
        fileList_.SetSourceMount(source, fileSystem_->MountRoot(source));
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
    }
}

bool CBackupExecute::IsSourceMountUnchanged(int settingNumber) {
    const std::string& source = folderPairs_[settingNumber].source;
    const std::string mountRoot = fileSystem_->MountRoot(source);
    std::string recorded;
    if (fileList_.GetSourceMount(source, &recorded) != 0 || recorded.empty()) {
        fileList_.SetSourceMount(source, mountRoot);
        return true;
    }
    if (recorded == mountRoot) return true;
    // A disk that is not mounted leaves an empty folder in its place: its copies stay.
    LOG_ERROR("Source Folder Mount Changed. Nothing Deleted. Path:" + source + " Was:" + recorded +
              " Now:" + mountRoot);
    errorList_.AddFailure(source, FailureReason::kSourceMountChanged);
    return false;
}

void CBackupExecute::ExecuteFullBackup(int settingNumber, const std::string& folderPath) {
    LOG_METHOD();
    try {
        BackupFolder(settingNumber, folderPath, false, false, false);
    } catch (const CBackupExecuteException&) {
        throw;  // logged where it was raised
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        throw CBackupExecuteException(0);
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        throw CBackupExecuteException(0);
    }
}

void CBackupExecute::ExecuteDiffBackup(int settingNumber, const std::string& folderPath,
                                       bool mirroring) {
    LOG_METHOD();
    try {
        BackupFolder(settingNumber, folderPath, true, mirroring, false);
    } catch (const CBackupExecuteException&) {
        throw;
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        throw CBackupExecuteException(1);
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        throw CBackupExecuteException(1);
    }
}

int CBackupExecute::ListDestination(const std::string& folder, DestinationListing& listing) {
    auto [entries, error] = share_->List(folder, "*");
    NoteShareOutcome(error);
    if (error != 0) {
        // A folder that is not there holds nothing; any other failure leaves it unknown.
        listing.known = error == ENOENT || error == ENOTDIR;
        if (!listing.known) LOG_ERROR_CODE(error, "List Folder Error. folder:" + folder);
        return error;
    }
    listing.known = true;
    listing.byFoldedName.reserve(entries.size());
    for (auto& entry : entries) {
        if (!entry.isFolder && IsTemporaryCopyName(entry.name)) {
            // Left by a copy that was cut off (a killed program, a dropped connection).
            const std::string leftover = JoinShareName(folder, entry.name);
            if (const IoStatus deleted = share_->DeleteFile(leftover))
                LOG_NOTICE("Removed Leftover Temporary File. file:" + leftover);
            else
                LOG_ERROR_CODE(deleted.error, "Leftover Delete Error. file:" + leftover);
            continue;
        }
        std::string folded = FoldShareName(entry.name);
        listing.byFoldedName.emplace(std::move(folded), std::move(entry));
    }
    return 0;
}

void CBackupExecute::BackupFolder(int settingNumber, const std::string& folderPath,
                                  bool differential, bool mirroring, bool destinationIsNew) {
    const bool isTop = folderPath == folderPairs_[settingNumber].source;
    LocalFolder local = fileSystem_->ReadFolder(folderPath, {.followLink = isTop});
    DropExcluded(settingNumber, folderPath, local.entries);
    if (local.openError != 0) {
        LOG_ERROR_CODE(local.openError, "Open Folder Error. folder:" + folderPath);
        errorList_.AddFailure(folderPath, ClassifyLocalReadError(local.openError));
        KeepCandidatesBelow(folderPath);
        return;
    }

    // One listing of the destination folder finds copies removed on the device, leftovers of
    // cut-off copies and names the device holds in another letter case. A folder this run
    // created is known to be empty.
    DestinationListing listing;
    if (destinationIsNew) {
        listing.known = true;
    } else {
        const std::string destination = MakeDestinationPath(settingNumber, folderPath);
        const int listError = ListDestination(destination, listing);
        if (isTop && (listError == ENOENT || listError == ENOTDIR)) {
            // Every copy would fail for this one cause: it is reported once, for the pair, and
            // its copies on the device (none can be reached) are left alone.
            LOG_ERROR_CODE(listError, "Destination Folder Not Exist. folder:" + destination);
            errorList_.AddFailure(folderPath, FailureReason::kDestinationMissing, destination);
            KeepCandidatesBelow(folderPath);
            return;
        }
    }

    // The sub-folders the walk will list next, where the device holds them under the same
    // name: a share that can lists them meanwhile (nothing below changes them before).
    if (listing.known && !destinationIsNew) {
        std::vector<std::string> below;
        for (const LocalEntry& entry : local.entries) {
            if (!entry.isFolder || entry.statusError != 0 || !IsRepresentableOnShare(entry.name))
                continue;
            const ShareEntry* onShare = listing.Find(FoldShareName(entry.name));
            if (onShare != nullptr && onShare->isFolder && onShare->name == entry.name)
                below.push_back(
                    MakeDestinationPath(settingNumber, JoinLocalPath(folderPath, entry.name)));
        }
        share_->PrefetchListings(below);
    }

    auto storedTimeOf = [&](const std::string& path, std::time_t& storedTime) {
        if (!differential) return false;
        if (const auto known = storedTimes_.find(path); known != storedTimes_.end()) {
            storedTime = known->second;
            return true;
        }
        // Not among the pair's rows read before the pass (or its time could not be read
        // there): the file list decides, and reports a row it cannot read.
        return fileList_.GetBackupInformation(settingNumber, path, nullptr, &storedTime) == 0;
    };
    std::vector<std::string> folded(local.entries.size());
    for (std::size_t i = 0; i < folded.size(); ++i)
        folded[i] = FoldShareName(local.entries[i].name);
    const std::vector<int> clashes = FindNameClashes(local.entries, folded, [&](std::size_t i) {
        std::time_t ignored = 0;
        const ShareEntry* onShare = listing.Find(folded[i]);
        return storedTimeOf(JoinLocalPath(folderPath, local.entries[i].name), ignored) ||
               (onShare != nullptr && onShare->name == local.entries[i].name);
    });
    QueueFolderCopies(settingNumber, folderPath, local, folded, clashes, listing, differential);
    // Mirroring: the folded paths of the live entries are claimed (see claimedNames_).
    const std::string foldedFolder = mirroring ? FoldShareName(folderPath) : std::string();

    for (std::size_t index = 0; index < local.entries.size(); ++index) {
        if (IsStopRequested()) {
            LOG_TRACE(differential ? "ExecuteDiffBackup() Finish App."
                                   : "ExecuteFullBackup() Finish App.");
            return;
        }
        CheckConnection();
        const LocalEntry& entry = local.entries[index];
        ++progress_.doneCount;
        const std::string path = JoinLocalPath(folderPath, entry.name);
        if (entry.statusError != 0) {
            LOG_ERROR_CODE(entry.statusError, "Get File Status Error. file:" + path);
            errorList_.AddFailure(path, ClassifyLocalReadError(entry.statusError));
            KeepCandidatesBelow(path);
            continue;
        }
        if (!IsRepresentableOnShare(entry.name)) {
            LOG_ERROR("Invalid File Name. file:" + path);
            errorList_.AddFailure(path, FailureReason::kNameRefused);
            continue;
        }
        if (clashes[index] >= 0) {
            // Both would land on one copy on the device: the second must not overwrite it.
            const std::string& other = local.entries[clashes[index]].name;
            LOG_ERROR("File Name Clash On Device. file:" + path +
                      " same as:" + JoinLocalPath(folderPath, other));
            errorList_.AddFailure(path, FailureReason::kCaseClash, other);
            KeepCandidatesBelow(path);
            continue;
        }
        // The entry still exists, so its copy must not be deleted, nor a copy that the device
        // takes for the same name (a change of letter case).
        if (mirroring) {
            RemoveFromBackupList(path, entry.isFolder);
            claimedNames_.insert(
                std::hash<std::string>{}(JoinLocalPath(foldedFolder, folded[index])));
        }

        std::time_t storedTime = 0;
        const bool stored = storedTimeOf(path, storedTime);
        const ShareEntry* onShare = listing.known ? listing.Find(folded[index]) : nullptr;
        if (!stored) {
            BackupNewEntry(settingNumber, folderPath, entry, onShare, listing.known, differential,
                           mirroring);
        } else if (entry.isFolder) {
            bool created = false;
            if (listing.known && (onShare == nullptr || !onShare->isFolder)) {
                // The copy of the folder was removed on the device: make it again.
                if (const int error = CreateFolder(settingNumber, path, listing.known, &created);
                    error != 0) {
                    errorList_.AddFailure(path, ClassifyCreateFolderError(error));
                    KeepCandidatesBelow(path);
                    continue;
                }
                LOG_NOTICE("Copy Missing On Device. folder:" + path);
                RecordRow(
                    [&] {
                        fileList_.UpdateBackupInformation(settingNumber, path, entry.lastWriteTime);
                    },
                    path);
            }
            BackupFolder(settingNumber, path, true, mirroring, created);
        } else {
            const bool changed = !SameTimeStamp(storedTime, entry.lastWriteTime);
            const bool missing = listing.known && (onShare == nullptr || onShare->isFolder ||
                                                   onShare->size != entry.size);
            if (!changed && !missing) continue;
            if (!changed) LOG_NOTICE("Copy Missing On Device. file:" + path);
            if (const int error = BackupFileOverwrite(settingNumber, path); error != 0) {
                errorList_.AddFailure(path, ClassifyCopyError(error));
                continue;
            }
            RecordRow(
                [&] {
                    fileList_.UpdateBackupInformation(settingNumber, path, entry.lastWriteTime);
                },
                path);
        }
    }
    SettleFolderCopies(folderPath, local);
    CheckConnection();
    if (local.readError != 0) {
        LOG_ERROR_CODE(local.readError, "Read Folder Error. folder:" + folderPath);
        errorList_.AddFailure(folderPath, ClassifyLocalReadError(local.readError));
        KeepCandidatesBelow(folderPath);
    }
}

void CBackupExecute::QueueFolderCopies(int settingNumber, const std::string& folderPath,
                                       const LocalFolder& local,
                                       const std::vector<std::string>& folded,
                                       const std::vector<int>& clashes,
                                       const DestinationListing& listing, bool differential) {
    for (std::size_t index = 0; index < local.entries.size(); ++index) {
        const LocalEntry& entry = local.entries[index];
        if (entry.isFolder || entry.statusError != 0 || !IsRepresentableOnShare(entry.name) ||
            clashes[index] >= 0)
            continue;
        const std::string path = JoinLocalPath(folderPath, entry.name);
        const ShareEntry* onShare = listing.known ? listing.Find(folded[index]) : nullptr;
        // Only the rows read before the pass are looked at here (a file not among them is
        // taken for new); the loop asks the file list itself, as it always did.
        const auto stored = differential ? storedTimes_.find(path) : storedTimes_.end();
        if (stored != storedTimes_.end()) {
            const bool changed = !SameTimeStamp(stored->second, entry.lastWriteTime);
            const bool missing = listing.known && (onShare == nullptr || onShare->isFolder ||
                                                   onShare->size != entry.size);
            if (!changed && !missing) continue;
        } else if (onShare != nullptr && !onShare->isFolder && onShare->name != entry.name) {
            continue;  // renamed on the device first (BackupNewEntry)
        }
        const CopyRequest request{path, MakeDestinationPath(settingNumber, path),
                                  listing.known && onShare == nullptr};
        queuedCopies_[path] = share_->QueueCopyToShare(request, CancelFlag());
    }
}

void CBackupExecute::SettleFolderCopies(const std::string& folderPath, const LocalFolder& local) {
    if (queuedCopies_.empty()) return;
    for (const LocalEntry& entry : local.entries) {
        const auto queued = queuedCopies_.find(JoinLocalPath(folderPath, entry.name));
        if (queued == queuedCopies_.end()) continue;
        const IoStatus copied = share_->TakeCopyResult(queued->second);
        queuedCopies_.erase(queued);
        LOG_TRACE("Copy Made Ahead Not Recorded. file:" + JoinLocalPath(folderPath, entry.name) +
                  " Result:" + IntToString(copied.error));
    }
}

void CBackupExecute::BackupNewEntry(int settingNumber, const std::string& folderPath,
                                    const LocalEntry& entry, const ShareEntry* onShare,
                                    bool listingKnown, bool differential, bool mirroring) {
    const std::string path = JoinLocalPath(folderPath, entry.name);
    const std::string destination = MakeDestinationPath(settingNumber, path);
    if (onShare != nullptr && onShare->isFolder == entry.isFolder && onShare->name != entry.name) {
        // The device holds the entry under another letter case (renamed here): it takes the
        // new name first, so the copies stand under the name the PC shows.
        const std::string current =
            JoinShareName(MakeDestinationPath(settingNumber, folderPath), onShare->name);
        const IoStatus renamed = share_->Rename(current, destination);
        NoteShareOutcome(renamed.error);
        if (!renamed) LOG_ERROR_CODE(renamed.error, "Rename Error. file:" + current);
        // Only the name changed: the copy is already whole (copying it again over SMB could
        // even bring the old case back through the server's name cache).
        if (renamed && !entry.isFolder && onShare->size == entry.size &&
            onShare->lastWriteTime == entry.lastWriteTime) {
            RecordRow(
                [&] {
                    fileList_.AddBackupInformation(settingNumber, path, destination,
                                                   entry.lastWriteTime, 0);
                },
                path);
            return;
        }
    }
    if (!entry.isFolder) {
        if (const int error = BackupFile(settingNumber, path); error != 0) {
            errorList_.AddFailure(path, ClassifyCopyError(error));
            return;
        }
        RecordRow(
            [&] {
                fileList_.AddBackupInformation(settingNumber, path, destination,
                                               entry.lastWriteTime, 0);
            },
            path);
        return;
    }
    bool created = false;
    if (const int error =
            CreateFolder(settingNumber, path, listingKnown && onShare == nullptr, &created);
        error != 0) {
        errorList_.AddFailure(path, ClassifyCreateFolderError(error));
        KeepCandidatesBelow(path);
        return;
    }
    auto addRow = [&] {
        RecordRow(
            [&] {
                fileList_.AddBackupInformation(settingNumber, path, destination,
                                               entry.lastWriteTime, 1);
            },
            path);
    };
    // A full backup records the folder before its contents, a differential one after them.
    if (!differential) addRow();
    BackupFolder(settingNumber, path, differential, mirroring, created);
    if (differential) addRow();
}

void CBackupExecute::RecordRow(const std::function<void()>& write, const std::string& path) {
    try {
        write();
    } catch (const CAppException&) {
        // The copy is on the device but not in the file list: the entry counts as failed, so
        // the counts of the result files say what happened, and the next run copies it again.
        errorList_.AddFailure(path, FailureReason::kNotRecorded);
        throw;
    }
    errorList_.AddSuccess();
}

void CBackupExecute::NoteShareOutcome(int error) {
    if (!IsConnectionLoss(error)) {
        connectionFailures_ = 0;
        return;
    }
    ++connectionFailures_;
    lastConnectionError_ = error;
}

void CBackupExecute::CheckConnection() const {
    if (connectionFailures_ >= kConnectionFailureLimit)
        throw DeviceConnectionLost{lastConnectionError_};
}

void CBackupExecute::ExecuteDeletedFileBackup(int settingNumber) {
    LOG_METHOD();
    fileList_.BindBackupSettingStatusStatement(settingNumber);

    // A copy the device takes for a live entry's (a name that changed letter case only) is
    // that entry's copy now: only its old row goes.
    for (auto* candidates : {&fileCandidates_, &folderCandidates_}) {
        for (auto it = candidates->begin(); it != candidates->end();) {
            if (claimedNames_.count(std::hash<std::string>{}(FoldShareName(*it))) == 0) {
                ++it;
                continue;
            }
            LOG_TRACE("Copy Kept For Renamed Entry. file:" + *it);
            fileList_.DeleteBackupInformation(settingNumber, *it);
            it = candidates->erase(it);
        }
    }
    // A restore that did not end left what it had not brought back missing: no deletion.
    bool heldBack = false;
    for (auto* candidates : {&fileCandidates_, &folderCandidates_}) {
        std::erase_if(*candidates, [&](const std::string& path) {
            if (!RestoreMarks::Touches(path, unfinishedRestores_)) return false;
            LOG_NOTICE("Deletion Held Back For An Unfinished Restore. file:" + path);
            heldBack = true;
            return true;
        });
    }
    if (heldBack)
        errorList_.AddFailure(folderPairs_[settingNumber].source,
                              FailureReason::kMirroringHeldBack);
    const std::size_t doomed = fileCandidates_.size() + folderCandidates_.size();
    if (doomed > 0 &&
        doomed >= static_cast<std::size_t>(fileList_.GetBackupFileCount(settingNumber))) {
        // An emptied source folder is far more often a disk or share that is not there than a
        // user who deleted everything: keep the copies and say so.
        const std::string& source = folderPairs_[settingNumber].source;
        LOG_ERROR("Mirroring Would Delete Every Copy. Nothing Deleted. Path:" + source +
                  " Copies:" + IntToString(static_cast<int>(doomed)));
        errorList_.AddFailure(source, FailureReason::kMirroringHeldBack);
        ClearCandidates();
        return;
    }

    for (const std::string& source : fileCandidates_) {
        if (IsStopRequested()) {
            LOG_TRACE("ExecuteDeletedFileBackup() Finish App.");
            break;
        }
        CheckConnection();
        DeleteCopy(settingNumber, source, false);
        ++progress_.doneCount;
    }
    // Deeper folders sort after the folders that hold them, so they go first.
    for (auto it = folderCandidates_.rbegin(); it != folderCandidates_.rend(); ++it) {
        if (IsStopRequested()) {
            LOG_TRACE("ExecuteDeletedFileBackup() Finish App.");
            break;
        }
        CheckConnection();
        DeleteCopy(settingNumber, *it, true);
        ++progress_.doneCount;
    }
    ClearCandidates();
}

void CBackupExecute::DeleteCopy(int settingNumber, const std::string& source, bool isFolder) {
    std::string destination;
    std::time_t lastUpdate = 0;
    if (fileList_.GetBackupInformation(settingNumber, source, &destination, &lastUpdate) != 0) {
        LOG_ERROR("ERROR:" + source);
        return;
    }
    auto remove = [&] {
        return isFolder ? share_->RemoveFolder(destination) : share_->DeleteFile(destination);
    };
    IoStatus removed = remove();
    // A read-only copy is made writable only to be deleted.
    if (removed.error == EACCES) {
        const IoStatus cleared = share_->ClearReadOnly(destination);
        removed = cleared ? remove() : cleared;
    }
    if (isFolder && removed.error == ENOTEMPTY) {
        // Leftovers of cut-off copies must not keep the folder: they are ours to remove.
        DestinationListing listing;
        ListDestination(destination, listing);
        removed = share_->RemoveFolder(destination);
    }
    const int error = removed.error;
    NoteShareOutcome(error);
    if (removed) {
        fileList_.DeleteBackupInformation(settingNumber, source);
        errorList_.AddSuccess();
    } else if (error == ENOENT || error == ENOTDIR) {
        // The copy is already gone: only the row is left to drop.
        fileList_.DeleteBackupInformation(settingNumber, source);
    } else {
        // Anything else (a time-out, a refusal) leaves the copy and its row in place.
        LOG_ERROR_CODE(
            error,
            (isFolder ? "Folder Delete Error. file:" : "File Delete Error. file:") + destination);
        errorList_.AddFailure(source, ClassifyDeleteError(error));
    }
}

int CBackupExecute::BackupFile(int settingNumber, const std::string& sourcePath) {
    return CopyToDestination(settingNumber, sourcePath, false);
}

int CBackupExecute::BackupFileOverwrite(int settingNumber, const std::string& sourcePath) {
    return CopyToDestination(settingNumber, sourcePath, true);
}

int CBackupExecute::CopyToDestination(int settingNumber, const std::string& sourcePath,
                                      bool overwriteReadOnly) {
    const std::string destination = MakeDestinationPath(settingNumber, sourcePath);
    IoStatus copied;
    if (const auto queued = queuedCopies_.find(sourcePath); queued != queuedCopies_.end()) {
        const CopyTicket ticket = queued->second;
        queuedCopies_.erase(queued);
        copied = share_->TakeCopyResult(ticket);
    } else {
        copied = share_->CopyToShare(sourcePath, destination, CancelFlag());
    }
    // The share refuses to replace a read-only copy; it is made writable only to be replaced
    // (asked after the refusal, so an ordinary copy costs no extra request).
    if (copied.error == EACCES && overwriteReadOnly && share_->ClearReadOnly(destination))
        copied = share_->CopyToShare(sourcePath, destination, CancelFlag());
    if (!copied) LOG_ERROR_CODE(copied.error, "File Copy Error. file:" + sourcePath + destination);
    NoteShareOutcome(copied.error);
    return copied.error;
}

int CBackupExecute::CreateFolder(int settingNumber, const std::string& sourcePath, bool knownAbsent,
                                 bool* created) {
    const std::string destination = MakeDestinationPath(settingNumber, sourcePath);
    if (created != nullptr) *created = false;
    if (!knownAbsent && share_->IsFolder(destination).value) return 0;
    const int error = share_->CreateFolder(destination).error;
    if (error == 0) {
        NoteShareOutcome(0);
        if (created != nullptr) *created = true;
        return 0;
    }
    // Made meanwhile by someone else: as good as made by us, but not known to be empty.
    if (knownAbsent && error == EEXIST && share_->IsFolder(destination).value) return 0;
    LOG_ERROR_CODE(error, "Create Directory Error. folder:" + destination);
    NoteShareOutcome(error);
    return error;
}

int CBackupExecute::GetFileCountForTarget(const std::string& folderPath, int settingNumber,
                                          bool removeFound) {
    LOG_METHOD();
    LOG_TRACE("SetNo = " + IntToString(settingNumber) + " Folder:" + folderPath);
    int count = 0;
    try {
        CountEntries(settingNumber, folderPath, true, removeFound, count);
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        throw CBackupExecuteException(1);
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        throw CBackupExecuteException(1);
    }
    return count;
}

void CBackupExecute::CountEntries(int settingNumber, const std::string& folderPath, bool followLink,
                                  bool removeFound, int& count) {
    // Counting needs only names and kinds: the status of an entry is read by the pass itself,
    // right before it decides, so nothing it decides on is older than the pass.
    LocalFolder local =
        fileSystem_->ReadFolder(folderPath, {.followLink = followLink, .kindsOnly = true});
    DropExcluded(settingNumber, folderPath, local.entries);
    if (local.openError != 0) {
        // Reported by the backup pass; here it only must not look like a deletion.
        if (removeFound) KeepCandidatesBelow(folderPath);
        return;
    }
    std::string path;
    for (const LocalEntry& entry : local.entries) {
        if (IsStopRequested()) return;
        ++count;
        if (entry.statusError != 0) {
            // Reported by the pass.
            if (removeFound) KeepCandidatesBelow(JoinLocalPath(folderPath, entry.name));
            continue;
        }
        // Paths are needed only to descend and to match deletion candidates.
        if (!removeFound && !entry.isFolder) continue;
        path = JoinLocalPath(folderPath, entry.name);
        if (removeFound) RemoveFromBackupList(path, entry.isFolder);
        if (entry.isFolder) CountEntries(settingNumber, path, false, removeFound, count);
    }
    if (IsStopRequested()) return;
    if (local.readError != 0 && removeFound) KeepCandidatesBelow(folderPath);
}

int CBackupExecute::ForwardResultFile(const std::string& address, std::time_t endTime) {
    LOG_METHOD();
    CBackupXMLUtility resultFile(backupFolderPath_, systemInfo_);
    try {
        resultFile.CreateServerResultFile(endTime, &folderPairs_,
                                          static_cast<std::uint32_t>(errorList_.successCount));
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        return 1;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        return 1;
    }
    const std::string target =
        "\\\\" + address + kShareBackupFolder + resultFile.GetServerResultFileName();
    LOG_TRACE("Forward to:" + target);
    if (const IoStatus copied =
            share_->CopyToShare(resultFile.GetServerResultFilePath(), target, CancelFlag());
        !copied) {
        LOG_ERROR_CODE(copied.error, "Server Result File Copy Error. file:" +
                                         resultFile.GetServerResultFilePath() + " " + target);
        return 1;
    }
    return 0;
}

std::string CBackupExecute::MakeDestinationPath(const BackupFolderPair& pair,
                                                const std::string& sourcePath) {
    const std::string& target = pair.destination;
    const char separator = IsSmbUrl(target) ? '/' : '\\';
    std::string rest = sourcePath.size() > pair.source.size()
                           ? EscapeForDestination(target, sourcePath.substr(pair.source.size()))
                           : std::string();
    for (char& c : rest) {
        if (c == '/') c = separator;
    }
    if (rest.empty()) return target;
    // One separator between the two parts, whichever side brings it.
    const bool targetEnds = !target.empty() && target.back() == separator;
    const bool restBegins = rest.front() == separator;
    if (targetEnds && restBegins) return target + rest.substr(1);
    if (targetEnds || restBegins) return target + rest;
    return target + separator + rest;
}

std::string CBackupExecute::MakeDestinationPath(int settingNumber,
                                                const std::string& sourcePath) const {
    return MakeDestinationPath(folderPairs_[settingNumber], sourcePath);
}

void CBackupExecute::LoadBackupList(int settingNumber) {
    LOG_METHOD();
    ClearCandidates();
    std::string source;
    std::string destination;
    std::time_t lastUpdate = 0;
    fileList_.BindBackupSettingStatement(settingNumber, 0);
    while (fileList_.GetBackupSetting(&source, &destination, &lastUpdate) == 0)
        fileCandidates_.insert(fileCandidates_.end(), source);
    fileList_.BindBackupSettingStatement(settingNumber, 1);
    while (fileList_.GetBackupSetting(&source, &destination, &lastUpdate) == 0)
        folderCandidates_.insert(folderCandidates_.end(), source);
    // The copies of excluded entries stay on the device (their rows too).
    if (!exclusions_[settingNumber].Empty()) {
        for (auto* candidates : {&fileCandidates_, &folderCandidates_}) {
            const bool isFolder = candidates == &folderCandidates_;
            std::erase_if(*candidates, [&](const std::string& path) {
                return exclusions_[settingNumber].ExcludesPathOrParent(
                    RelativeToSource(settingNumber, path), isFolder);
            });
        }
    }
    LOG_TRACE("Files:" + IntToString(static_cast<int>(fileCandidates_.size())) +
              " Folders:" + IntToString(static_cast<int>(folderCandidates_.size())));
}

std::string CBackupExecute::RelativeToSource(int settingNumber, const std::string& path) const {
    const std::string& source = folderPairs_[settingNumber].source;
    if (path.size() <= source.size() || path.compare(0, source.size(), source) != 0) return {};
    std::size_t start = source.size();
    while (start < path.size() && path[start] == '/') ++start;
    return path.substr(start);
}

void CBackupExecute::DropExcluded(int settingNumber, const std::string& folderPath,
                                  std::vector<LocalEntry>& entries) const {
    // A killed restore's copy in progress is no file of the user's (the next restore removes
    // it): copied, it would reach the device as a new file.
    std::erase_if(entries, [&](const LocalEntry& entry) {
        if (entry.isFolder || !IsTemporaryCopyName(entry.name)) return false;
        LOG_TRACE("Temporary Copy Not Backed Up. file:" + JoinLocalPath(folderPath, entry.name));
        return true;
    });
    const ExclusionFilter& filter = exclusions_[settingNumber];
    if (filter.Empty()) return;
    const std::string folder = RelativeToSource(settingNumber, JoinLocalPath(folderPath, "x"));
    const std::string prefix = folder.substr(0, folder.size() - 1);  // "" or "a/b/"
    std::erase_if(entries, [&](const LocalEntry& entry) {
        const std::string relative = prefix + entry.name;
        const bool excluded = entry.statusError != 0 ? filter.ExcludesEitherKind(relative)
                                                     : filter.Excludes(relative, entry.isFolder);
        if (excluded) LOG_TRACE("Excluded. file:" + JoinLocalPath(folderPath, entry.name));
        return excluded;
    });
}

void CBackupExecute::RemoveFromBackupList(const std::string& path, bool isDirectory) {
    if (isDirectory)
        folderCandidates_.erase(path);
    else
        fileCandidates_.erase(path);
}

void CBackupExecute::KeepCandidatesBelow(const std::string& path) {
    fileCandidates_.erase(path);
    folderCandidates_.erase(path);
    const std::string prefix = (!path.empty() && path.back() == '/') ? path : path + "/";
    for (auto* candidates : {&fileCandidates_, &folderCandidates_}) {
        auto it = candidates->lower_bound(prefix);
        while (it != candidates->end() && it->compare(0, prefix.size(), prefix) == 0)
            it = candidates->erase(it);
    }
}

void CBackupExecute::ClearCandidates() {
    fileCandidates_.clear();
    folderCandidates_.clear();
}

int CBackupExecute::CountBackupTargets(bool mirroring) {
    LOG_METHOD();
    int total = 0;
    for (int i = 0; i < kBackupFolderPairCount; ++i) {
        if (folderPairs_[i].source.empty()) break;
        // A pair that cannot be reached is reported by the run; its rows are not deletions.
        if (!CheckFolderPair(i, false)) continue;
        if (mirroring) LoadBackupList(i);
        total += GetFileCountForTarget(folderPairs_[i].source, i, mirroring);
        if (mirroring) total += static_cast<int>(fileCandidates_.size() + folderCandidates_.size());
        ClearCandidates();
    }
    return total;
}

void CBackupExecute::SetBackupRunning(int state) {
    if (ThreadControlBlock* block = GetControlBlock();
        block != nullptr && block->executorRunning != nullptr)
        block->executorRunning->store(state);
    messageSink_.Post(RefreshBackupNow{});
    messageSink_.Post(ExecuteStateChanged{});
}

void CBackupExecute::NotifyBackupResult(int result, bool notify, int popupTimeout) {
    LOG_METHOD();
    if (shutdownMode_ == 1) messageSink_.Post(ShutdownBackupComplete{});
    // A run that did nothing and failed in nothing gives no pop-up.
    if (result == 0 && errorList_.executeCount == 0) return;
    if (!notify) return;
    messageSink_.Post(BalloonRequest{kBalloonBackupResult, result, popupTimeout});
}

bool CBackupExecute::WriteResultFiles(std::time_t start, std::time_t end, int resultCode) {
    runResultCode_ = resultCode;
    LOG_METHOD();
    // The reasons of an earlier run must not stand beside this run's detail result.
    CFailureReasonFile reasons(backupFolderPath_);
    reasons.Remove();
    bool written = true;
    try {
        CBackupXMLUtility clientResult(backupFolderPath_, systemInfo_);
        clientResult.CreateClientResultFile(start, end, resultCode);
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        written = false;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        written = false;
    }
    try {
        CBackupXMLUtility detailResult(backupFolderPath_, systemInfo_);
        detailResult.CreateDetailResultFile(errorList_);
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        written = false;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        written = false;
    }
    // Only the result window reads the reasons: a run whose reasons could not be written
    // (logged) still ends as its copies did.
    if (written) reasons.Write(errorList_);
    return written;
}

void CBackupExecute::SignalBackupComplete(EventHandle& event) {
    if (event) event->Set();
    event.reset();
}

void CBackupExecute::CallJudgeShutdown() {
    if (!judgeShutdown_) return;
    try {
        judgeShutdown_();
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
    }
}

const std::atomic<int>* CBackupExecute::CancelFlag() const {
    const ThreadControlBlock* block = GetControlBlock();
    return block != nullptr ? block->stopRequested : nullptr;
}

}  // namespace tessarine
