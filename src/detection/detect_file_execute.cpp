#include "detection/detect_file_execute.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <utility>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "detection/detect_file_exceptions.h"
#include "detection/detect_file_xml_utility.h"
#include "detection/owner_only.h"
#include "infra/xml_parse.h"
#include "platform/posix/mount_drive_list.h"
#include "platform/posix/posix_file_system.h"
#include "platform/share_name.h"

namespace tessarine {

namespace {

constexpr char kShareImportFolder[] = "\\zereda\\import\\";
constexpr char kShareDataFolder[] = "\\zereda\\import\\data\\";
constexpr char kServerSettingName[] = "setting.xml";
constexpr char kFileListBase[] = "metadata";
constexpr char kFileListExtension[] = "qzv";
constexpr std::uint64_t kMebibyte = 1048576;
// Longest name on the device before the base is cut (in characters).
constexpr long kServerNameLimit = 200;
// Longest name the share takes, in bytes of UTF-8.
constexpr std::size_t kServerNameByteLimit = 255;
// How far a file-list name moves past names already on the device before it gives up.
constexpr int kFileListNameTries = 120;
// Names of this PC held by another of its users, in a row, before a file counts as failed.
constexpr int kClaimTries = 120;
// Hashed into the staging names of file lists in place of a sender: every user of this PC
// derives one list name's staging name alike, so that claiming it claims the list name.
constexpr char kFileListStaging[] = "file list";

enum ExecuteError {
    kFullForwardError = 0,
    kDiffForwardError = 1,
    kCreateFileListError = 2,
    kForwardFileListError = 3
};

std::string Describe(const CAppException& e) {
    std::string message = e.GetErrorMessage();
    if (message.empty()) message = "Error Code:" + IntToString(e.GetErrorCode());
    return message;
}

bool IsFileListName(std::string_view name) {
    const std::string middle = std::string("_") + kFileListBase + "_";
    const std::string suffix = std::string(".") + kFileListExtension;
    return name.find(middle) != std::string_view::npos && name.size() > suffix.size() &&
           FoldShareName(name.substr(name.size() - suffix.size())) == suffix;
}

std::string JoinLocalPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool IsBelowOrAt(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (path == base) return true;
    if (base == "/") return true;
    return path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
           path[base.size()] == '/';
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// The extension of a name: the text after its last dot; none when there is no dot or the only
// dot is the first character.
bool SplitExtension(std::string_view name, std::string_view& base, std::string_view& extension) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    base = name.substr(0, dot);
    extension = name.substr(dot + 1);
    return true;
}

// Code points of UTF-8 text, each as its bytes; false for text that is not UTF-8.
bool SplitCharacters(std::string_view text, std::vector<std::string_view>& characters) {
    characters.clear();
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(text, pos, code);
        if (length == 0) return false;
        characters.push_back(text.substr(pos, length));
        pos += length;
    }
    return true;
}

// A local path the file list can carry and the share can be asked for: UTF-8 without control
// characters (the list is XML, and a name with a line break is no name to show anyone).
bool IsUsableLocalPath(std::string_view path) {
    std::vector<std::string_view> characters;
    if (!SplitCharacters(path, characters)) return false;
    return std::none_of(characters.begin(), characters.end(), [](std::string_view c) {
        return c.size() == 1 && (static_cast<unsigned char>(c[0]) < 0x20 || c[0] == 0x7f);
    });
}

// Characters a name on the device cannot hold.
char ShareSafe(char c) {
    switch (c) {
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return '_';
        default:
            return c;
    }
}

// Errors that say the share will not take the name itself: trying the file again cannot help.
bool IsNameRefused(int error) {
    return error == EINVAL || error == EILSEQ || error == ENAMETOOLONG;
}

// Where a file list is copied whole before the rename that publishes it: a temporary name,
// which the device passes over.
std::string StagedFileListName(const std::string& fileListName) {
    return TemporaryCopyNameFor(fileListName, kFileListStaging);
}

bool IsAbsent(int error) { return error == ENOENT || error == ENOTDIR; }

bool SameTimeStamp(std::time_t stored, std::time_t actual) {
    return stored == actual || ToTimeStamp(stored) == ToTimeStamp(actual);
}

}  // namespace

CDetectFileExecute::CDetectFileExecute(Dependencies dependencies)
    : shareFactory_(std::move(dependencies.shareFactory)),
      fileList_(dependencies.fileList),
      messageSink_(dependencies.messageSink),
      clock_(dependencies.clock),
      systemInfo_(dependencies.systemInfo),
      loadCommonSetting_(std::move(dependencies.loadCommonSetting)),
      profileStore_(dependencies.profileStore),
      detectFileFolderPath_(std::move(dependencies.detectFileFolderPath)),
      excludedFolders_(std::move(dependencies.excludedFolders)),
      fileSystem_(dependencies.localFileSystem),
      driveList_(std::move(dependencies.driveList)) {
    if (fileSystem_ == nullptr) {
        ownedFileSystem_ = std::make_unique<PosixFileSystem>();
        fileSystem_ = ownedFileSystem_.get();
    }
    if (driveList_ == nullptr) driveList_ = std::make_shared<MountDriveList>();
    if (!loadCommonSetting_)
        loadCommonSetting_ = [](CCommonSetting& record) { return record.Load(); };
    if (!detectFileFolderPath_.empty() && detectFileFolderPath_.back() != '/')
        detectFileFolderPath_ += '/';
}

CDetectFileExecute::~CDetectFileExecute() = default;

void CDetectFileExecute::SetRunning(int state) {
    ThreadControlBlock* block = GetControlBlock();
    if (block != nullptr && block->executorRunning != nullptr) block->executorRunning->store(state);
    messageSink_.Post(ExecuteStateChanged{});
}

int CDetectFileExecute::ThreadCore() {
    LOG_BANNER("DetectFileExecute Start up");
    LOG_METHOD();
    SetRunning(1);
    int result = 1;
    try {
        result = Run();
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
    } catch (...) {
        LOG_ERROR("Catch Unknown Exception");
    }
    // Always written: what a run came to, also without the debug switch.
    LOG_NOTICE("Detect File Forward End. Result:" + IntToString(result) +
               " Forwarded:" + IntToString(totalForwarded_));
    DropPendingCopies();
    share_.reset();
    states_.clear();
    settled_.clear();
    namesThisRun_.clear();
    mountPoints_.clear();
    SetRunning(0);
    LOG_BANNER("DetectFileExecute Finish");
    return result;
}

int CDetectFileExecute::Run() {
    forwardedCount_ = 0;
    totalForwarded_ = 0;
    failedFiles_ = 0;
    lastFileListTime_ = 0;
    setting_ = CDetectFileServerSetting{};
    importFolderEmpty_ = false;

    CCommonSetting common(profileStore_);
    const int loaded = loadCommonSetting_(common);
    if (loaded != 0 || common.userName.empty()) {
        LOG_ERROR("CommonSetting Error. ret:" + IntToString(loaded) + " User:" + common.userName +
                  " Password:" + kMaskedPassword);
        return 1;
    }
    const int connected = ConnectShare(common);
    if (connected != kShareConnected && connected != kShareCredentialConflict) {
        LOG_ERROR_CODE(connected, "SMB Connnection Error. Param:" + common.hostName + ", " +
                                      common.userName + ", " + kMaskedPassword +
                                      " Address:" + common.ipv4Address);
        return 1;
    }

    int result = 0;
    try {
        ReadServerSetting();
        LOG_TRACE(std::string("Detect File Server Setting:") +
                  (setting_.enabled == 1 ? "TRUE" : "FALSE"));
        if (setting_.enabled == 1 && IsExistForwardedFile() == 0) {
            if (importFolderEmpty_) ForgetCopiesOffTheDevice();
            computerName_ = systemInfo_.ComputerName();
            const bool full = fileList_.IsDetectFileFullForwardExecute(setting_.timestamp) == 1;
            ForwardDrives(full);
        }
    } catch (const StopRequested&) {
        LOG_NOTICE("Stop requested. The walk ends here.");
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        result = 1;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        result = 1;
    }
    // A walk cut short by a failure leaves copies whose outcome was not handled: they get no
    // row, so no file list names them, and the ones not started yet are not made.
    DropPendingCopies();

    if (forwardedCount_ > 0) {
        try {
            SendFileList(true);
        } catch (const CAppException& e) {
            LOG_ERROR(Describe(e));
            result = 1;
        } catch (const std::exception& e) {
            LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
            result = 1;
        }
    }
    // Failures in a row are counted per folder, so a run whose every copy failed (no import
    // folder, a share that refuses writes) would otherwise end as if all were well.
    if (result == 0 && failedFiles_ > 0 && totalForwarded_ == 0) {
        LOG_ERROR("No File Forwarded. Failed Files:" + IntToString(failedFiles_));
        result = 1;
    }
    return result;
}

int CDetectFileExecute::ConnectShare(const CCommonSetting& common) {
    LOG_METHOD();
    if (shareFactory_) share_ = shareFactory_();
    if (!share_) {
        LOG_ERROR("No Device Share");
        return -1;
    }
    // Every user of this PC sends under its computer name, so the device names of two users
    // can agree; their temporary names must not (see IsExistForwardedFile). The data folder
    // is the user's own and stays the same from run to run.
    share_->SetCopySender(detectFileFolderPath_);
    address_ = common.ipv4Address;
    // An existing connection is used as it is: the backup may be using it at this moment.
    return share_->Connect(common.ipv4Address, common.userName, common.userPassword);
}

std::string CDetectFileExecute::ImportFolder() const {
    return "\\\\" + address_ + kShareDataFolder;
}

void CDetectFileExecute::ReadServerSetting() {
    LOG_METHOD();
    const std::string remoteFolder = "\\\\" + address_ + kShareImportFolder;
    const std::string remote = remoteFolder + kServerSettingName;
    const std::string local = detectFileFolderPath_ + kServerSettingName;
    // The reader refuses a larger document anyway: it is not fetched at all. (A listing that
    // fails leaves the answer to the copy.)
    if (const auto listed = share_->List(remoteFolder, kServerSettingName); listed) {
        for (const ShareEntry& entry : listed.value) {
            if (entry.isFolder || entry.size <= CXMLParse::kMaxDocumentSize) continue;
            LOG_ERROR("Detect File Server Setting Too Large. file:" + remote +
                      " size:" + std::to_string(entry.size));
            throw CDetectFileXMLException(CDetectFileXMLUtility::kReadServerSettingError);
        }
    }
    if (const int error = MakeOwnerOnly(detectFileFolderPath_, true); error != 0)
        LOG_ERROR_CODE(error, "Detect File Folder Mode Error. folder:" + detectFileFolderPath_);
    if (const IoStatus copied = share_->CopyFromShare(remote, local, nullptr); !copied) {
        LOG_ERROR_CODE(copied.error, "Detect File Server Setting Copy Error. file:" + remote);
        throw CDetectFileXMLException(CDetectFileXMLUtility::kReadServerSettingError);
    }
    if (const int error = MakeOwnerOnly(local, false); error != 0)
        LOG_ERROR_CODE(error, "Detect File Server Setting Mode Error. file:" + local);
    CDetectFileXMLUtility reader(detectFileFolderPath_);
    reader.ReadDetectFileServerSetting(local, &setting_);
}

int CDetectFileExecute::IsExistForwardedFile() {
    LOG_METHOD();
    const std::string folder = ImportFolder();
    LOG_TRACE("Check:" + folder);
    // A run that broke off while it published a file list: whether the list went out decides
    // whether its rows are announced, before anything in the folder is judged.
    if (SettlePublishingFileList() == Publishing::kUnknown) return 1;
    const IoResult<std::vector<ShareEntry>> listing = share_->List(folder, "*");
    if (!listing) {
        LOG_ERROR_CODE(listing.error, "Import Folder List Error. Folder:" + folder);
        return 0;
    }
    // Every sender of the office writes into this folder. Only what this program can prove its
    // own is removed: a copy under a name it recorded before copying that no list of its own
    // announced (a run that broke off between its copies and their list left it, and the device
    // takes in only what a list names), or the temporary file of such a copy. Anything else is
    // another sender's (a copy in flight, a batch waiting) or announced, and the run waits.
    std::set<std::string> sent;
    fileList_.GetSentNames(sent);
    std::set<std::string> temporaries;  // as the share compares names
    for (const std::string& name : sent)
        temporaries.insert(FoldShareName(TemporaryCopyNameFor(name, share_->CopySender())));
    // A list of ours on the device that the record still holds was copied whole just before a
    // run broke off: the device may be reading it, so nothing it could name is touched.
    const bool ownListWaiting =
        std::any_of(listing.value.begin(), listing.value.end(), [&](const ShareEntry& entry) {
            return !entry.isFolder && sent.count(entry.name) != 0 && IsFileListName(entry.name);
        });
    bool found = false;
    for (const ShareEntry& entry : listing.value) {
        const bool unannounced = !entry.isFolder && sent.count(entry.name) != 0;
        const bool cut =
            !entry.isFolder && !unannounced && temporaries.count(FoldShareName(entry.name)) != 0;
        if ((unannounced || cut) && !ownListWaiting) {
            LOG_NOTICE((cut ? "Remove Cut Copy:" : "Remove Unannounced Copy:") + entry.name);
            const IoStatus removed = share_->DeleteFile(folder + entry.name);
            if (removed || removed.error == ENOENT) continue;
            LOG_ERROR_CODE(removed.error, (cut ? "Delete Cut Copy Error. file:"
                                               : "Delete Unannounced Copy Error. file:") +
                                              entry.name);
        }
        if (!found) LOG_TRACE("Find:" + entry.name);
        found = true;
    }
    if (found) return 1;
    importFolderEmpty_ = true;
    return 0;
}

void CDetectFileExecute::ForgetCopiesOffTheDevice() {
    LOG_METHOD();
    // The folder holds nothing of ours: no recorded name is on the device any more, and a row no
    // list announced names a copy that is gone. Such a row goes, so that no list names a missing
    // copy; its file, if it is still there, is sent again as a new one.
    fileList_.DeleteAllSentNames();
    fileList_.DeleteUnannouncedDetectFileInformation();
}

void CDetectFileExecute::ForwardDrives(bool full) {
    LOG_METHOD();
    const DriveLayout layout = driveList_->Read();
    mountPoints_ = std::set<std::string>(layout.mountPoints.begin(), layout.mountPoints.end());
    for (const std::string& root : layout.fixedRoots) LOG_TRACE("DriveName:" + root);
    if (full) {
        LOG_TRACE("Execute Full Forward!");
        fileList_.DeleteAllDetectFileInformation();
        for (const std::string& root : layout.fixedRoots) {
            currentRoot_ = root;
            ExecuteFullForward(root);
        }
        return;
    }
    LOG_TRACE("Execute Diff Forward!");
    fileList_.UpdateDetectFileInitStatus();
    fileList_.GetDetectFileStates(states_);
    for (const std::string& root : layout.fixedRoots) {
        currentRoot_ = root;
        ExecuteDiffForward(root);
    }
    if (!FlushSettledStatus()) {
        // The files whose status was not written would lose their rows with the sweep below.
        states_.clear();
        throw CDetectFileExecuteException(kDiffForwardError);
    }
    states_.clear();
    fileList_.DeleteDetectFileInformationByStatus();
}

void CDetectFileExecute::ExecuteFullForward(const std::string& folder) {
    ScanReportingAs(folder, false, kFullForwardError);
}

void CDetectFileExecute::ExecuteDiffForward(const std::string& folder) {
    ScanReportingAs(folder, true, kDiffForwardError);
}

void CDetectFileExecute::ScanReportingAs(const std::string& folder, bool differential,
                                         int errorCode) {
    // Whatever ended the walk (too many failures, a file list or the database throwing), the
    // run reports the walk's own error after the cause's line.
    try {
        Scan(folder, differential);
    } catch (const ScanFailure& failure) {
        LOG_ERROR(failure.message);
        throw CDetectFileExecuteException(errorCode);
    } catch (const StopRequested&) {
        throw;
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        throw CDetectFileExecuteException(errorCode);
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        throw CDetectFileExecuteException(errorCode);
    }
}

bool CDetectFileExecute::IsWalkedFolder(const std::string& path) const {
    if (path != currentRoot_ && mountPoints_.count(path) != 0) {
        LOG_TRACE("Other Mount. Skip:" + path);
        return false;
    }
    for (const std::string& excluded : excludedFolders_) {
        if (IsBelowOrAt(path, excluded)) {
            LOG_TRACE("Excluded Folder. Skip:" + path);
            return false;
        }
    }
    return true;
}

void CDetectFileExecute::Scan(const std::string& folder, bool differential) {
    FolderReadOptions options;
    options.kindsOnly = true;
    // Only the files whose extension is asked for need their size and time.
    options.statusFor = [this](std::string_view name) {
        std::string_view base;
        std::string_view extension;
        if (!SplitExtension(name, base, extension)) return false;
        return std::any_of(
            setting_.extensions.begin(), setting_.extensions.end(),
            [&](const std::string& e) { return EqualsIgnoringAsciiCase(e, extension); });
    };
    const LocalFolder listing = fileSystem_->ReadFolder(folder, options);
    if (listing.openError != 0) {
        LOG_TRACE("Folder Not Readable. Skip:" + folder +
                  " errno:" + IntToString(listing.openError));
        return;
    }
    if (listing.readError != 0)
        LOG_TRACE("Folder Read Broke Off:" + folder + " errno:" + IntToString(listing.readError));

    int retryCount = 0;
    for (const LocalEntry& entry : listing.entries) {
        if (IsStopRequested()) {
            // The queued copies stop on the same flag; the ones that arrived whole are still
            // recorded, so the last file list announces them.
            TakePendingCopies(folder, retryCount);
            throw StopRequested{};
        }
        if (entry.isFolder) {
            const std::string path = JoinLocalPath(folder, entry.name);
            if (IsWalkedFolder(path)) {
                // Outcomes are handled in the walk's order: this folder's first.
                TakePendingCopies(folder, retryCount);
                Scan(path, differential);
            }
            continue;
        }
        // Most files of a drive are no designated ones: they cost a name test, nothing more.
        if (!options.statusFor(entry.name)) continue;
        const std::string path = JoinLocalPath(folder, entry.name);
        if (entry.statusError != 0) {
            LOG_TRACE("File Status Not Readable. Skip:" + path +
                      " errno:" + IntToString(entry.statusError));
            continue;
        }
        if (!IsEnableForwardFile(entry, path)) continue;
        if (!IsUsableLocalPath(path)) {
            LOG_ERROR("Unusable File Path. Skip:" + path);
            continue;
        }
        switch (HandleFile(path, entry, differential)) {
            case Handled::kFailed:
                TakePendingCopies(folder, retryCount);
                CountFailure(folder, retryCount);
                break;
            case Handled::kSettled:
                if (pending_.empty())
                    retryCount = 0;
                else if (pending_.back().isCopy)
                    pending_.emplace_back().isCopy = false;
                break;
            case Handled::kQueued:
                while (queuedCopies_ >= kCopiesAhead) TakePendingCopy(folder, retryCount);
                break;
        }
    }
    TakePendingCopies(folder, retryCount);
}

void CDetectFileExecute::CountFailure(const std::string& folder, int& retryCount) {
    ++failedFiles_;
    // The last entry of a folder counts like any other.
    if (retryCount < kRetryLimit) {
        ++retryCount;
        LOG_TRACE("Retry Forward Count:" + IntToString(retryCount));
        return;
    }
    throw ScanFailure{"Forward Failed " + IntToString(kRetryLimit + 1) +
                      " Times In A Row. Folder:" + folder};
}

void CDetectFileExecute::TakePendingCopies(const std::string& folder, int& retryCount) {
    while (!pending_.empty()) TakePendingCopy(folder, retryCount);
}

void CDetectFileExecute::TakePendingCopy(const std::string& folder, int& retryCount) {
    const PendingCopy copy = std::move(pending_.front());
    pending_.pop_front();
    if (!copy.isCopy) {
        retryCount = 0;
        return;
    }
    --queuedCopies_;
    if (const IoStatus copied = share_->TakeCopyResult(copy.ticket); !copied) {
        // The claim goes with the copy; a claim that stays keeps its name from this run.
        if (const IoStatus removed = share_->DeleteFile(ImportFolder() + copy.serverName);
            removed || removed.error == ENOENT)
            namesThisRun_.erase(copy.serverName);
        if (copied.error == ECANCELED && IsStopRequested()) {
            LOG_TRACE("Copy Stopped:" + copy.path);
            return;
        }
        LOG_ERROR_CODE(copied.error, "File Copy Error. file:" + copy.path);
        // Sent again in every run and refused every time: a failure like any other.
        if (IsNameRefused(copied.error))
            LOG_ERROR("File Name Refused By The Device. file:" + copy.path +
                      " name:" + copy.serverName);
        CountFailure(folder, retryCount);
        return;
    }
    ++forwardedCount_;
    ++totalForwarded_;
    if (!RecordCopy(copy)) {
        CountFailure(folder, retryCount);
        return;
    }
    retryCount = 0;
    if (forwardedCount_ >= kFileListBatch && !SendFileList(false)) CountFailure(folder, retryCount);
}

bool CDetectFileExecute::RecordCopy(const PendingCopy& copy) {
    if (copy.isNew) {
        if (fileList_.AddDetectFileInformation(copy.path, copy.name, copy.serverName,
                                               copy.lastWriteTime, copy.processingTime) != 0) {
            LOG_ERROR("Add Detect File Information Error " + copy.path);
            return false;
        }
    } else if (fileList_.UpdateDetectFileInformation(copy.path, copy.serverName, copy.lastWriteTime,
                                                     copy.processingTime) != 0) {
        LOG_ERROR("Update Detect File Information Error " + copy.path);
        return false;
    }
    return true;
}

void CDetectFileExecute::DropPendingCopies() {
    if (share_) share_->DropQueuedCopies();
    for (const PendingCopy& copy : pending_)
        if (copy.isCopy) namesThisRun_.erase(copy.serverName);
    pending_.clear();
    queuedCopies_ = 0;
}

const std::atomic<int>* CDetectFileExecute::CancelFlag() const {
    const ThreadControlBlock* block = GetControlBlock();
    return block != nullptr ? block->stopRequested : nullptr;
}

bool CDetectFileExecute::IsEnableForwardFile(const LocalEntry& entry,
                                             const std::string& fullPath) const {
    LOG_TRACE("Check:" + fullPath);
    if (entry.size / kMebibyte > setting_.maximumSize) {
        LOG_TRACE("Over File Size...Skip");
        return false;
    }
    std::string_view base;
    std::string_view extension;
    if (!SplitExtension(entry.name, base, extension)) return false;
    return std::any_of(setting_.extensions.begin(), setting_.extensions.end(),
                       [&](const std::string& e) { return EqualsIgnoringAsciiCase(e, extension); });
}

CDetectFileExecute::Handled CDetectFileExecute::HandleFile(const std::string& path,
                                                           const LocalEntry& entry,
                                                           bool differential) {
    enum class Action { kAdd, kUpdate, kSettle };
    Action action = Action::kAdd;
    if (differential) {
        const auto found = states_.find(path);
        if (found != states_.end()) {
            const DetectFileState& state = found->second;
            const bool unannounced = state.status == CDetectFileSQLUtility::kStatusAdd ||
                                     state.status == CDetectFileSQLUtility::kStatusUpdate;
            action = (!SameTimeStamp(state.lastUpdate, entry.lastWriteTime) || unannounced)
                         ? Action::kUpdate
                         : Action::kSettle;
        } else {
            // Not read in one go: a new file, or a row whose time could not be read.
            const int known = fileList_.GetDetectFileInformation(path, nullptr, nullptr);
            if (known < 0) {
                LOG_ERROR("Get DetectFile Information Error.");
                return Handled::kFailed;
            }
            action = known == 0 ? Action::kUpdate : Action::kAdd;
        }
    }
    if (action == Action::kSettle) {
        settled_.push_back(path);
        if (settled_.size() >= kStatusBatch && !FlushSettledStatus()) return Handled::kFailed;
        return Handled::kSettled;
    }

    PendingCopy copy;
    copy.path = path;
    copy.name = entry.name;
    copy.lastWriteTime = entry.lastWriteTime;
    copy.isNew = action == Action::kAdd;
    // Recorded and claimed before the copy starts: whatever becomes of the run, the copy (or
    // its temporary file, or the claim) is provably this program's, and no other user of this
    // PC copies to the same name.
    const Claim claim = ClaimWithRetries(
        [&] { return CreateServerFileName(entry.name); },
        [this](const std::string& name) { return ClaimServerName(name); }, copy.serverName);
    if (claim == Claim::kNotRecorded) {
        LOG_ERROR("Record Sent Name Error " + path);
        return Handled::kFailed;
    }
    if (claim != Claim::kClaimed) {
        LOG_ERROR("File Copy Error. No device name claimed. file:" + path);
        return Handled::kFailed;
    }
    copy.processingTime = processingTime_;
    LOG_TRACE("Param:" + path + ", " + copy.serverName);
    // The import folder was empty when the walk began and holds only what this run sent
    // since, under names it keeps (namesThisRun_): the share need not look the name up.
    copy.ticket = share_->QueueCopyToShare(
        CopyRequest{path, ImportFolder() + copy.serverName, importFolderEmpty_}, CancelFlag());
    // Taken now so that no later file of the run is given the same name.
    namesThisRun_.insert(copy.serverName);
    pending_.push_back(std::move(copy));
    ++queuedCopies_;
    return Handled::kQueued;
}

bool CDetectFileExecute::FlushSettledStatus() {
    if (settled_.empty()) return true;
    std::vector<std::string> failed;
    {
        // One transaction for the lot: a status write each would cost a commit per file.
        auto batch = fileList_.BeginBatch();
        for (const std::string& path : settled_) {
            if (fileList_.UpdateDetectFileStatus(path) != 0) failed.push_back(path);
        }
        if (batch.BeginCode() != kSqlOk || batch.Commit() != kSqlOk) {
            LOG_ERROR("Update Detect File Status Error. Commit. Files:" +
                      IntToString(static_cast<int>(settled_.size())));
            settled_.clear();
            return false;
        }
    }
    settled_.clear();
    for (const std::string& path : failed) LOG_ERROR("Update Detect File Status Error " + path);
    return failed.empty();
}

std::string CDetectFileExecute::CreateServerFileName(const std::string& fileName) {
    std::string_view baseView;
    std::string_view extensionView;
    if (!SplitExtension(fileName, baseView, extensionView)) {
        baseView = fileName;
        extensionView = {};
    }
    std::string base;
    std::string extension;
    for (char c : baseView) base.push_back(ShareSafe(c));
    for (char c : extensionView) extension.push_back(ShareSafe(c));
    std::vector<std::string_view> characters;
    std::vector<std::string_view> extensionCharacters;
    std::vector<std::string_view> computerCharacters;
    SplitCharacters(base, characters);
    SplitCharacters(extension, extensionCharacters);
    SplitCharacters(computerName_, computerCharacters);
    const long available =
        kServerNameLimit - (static_cast<long>(computerCharacters.size()) +
                            static_cast<long>(extensionCharacters.size()) + 3 + 14);
    std::size_t kept = characters.size();
    bool cut = false;
    if (available <= static_cast<long>(characters.size())) {
        cut = true;
        kept = available > 0 ? static_cast<std::size_t>(available) : 0;
    }
    // The share also limits a name to 255 bytes: characters outside ASCII take two to four, so a
    // name within the character limit can still be too long. Cut further until it fits.
    const auto nameBytes = [&](std::size_t baseBytes, bool isCut) {
        return computerName_.size() + 1 + baseBytes + (isCut ? 4 : 1) + 14 + 1 + extension.size();
    };
    std::size_t keptBytes = 0;
    for (std::size_t i = 0; i < kept; ++i) keptBytes += characters[i].size();
    while (kept > 0 && nameBytes(keptBytes, cut) > kServerNameByteLimit) {
        cut = true;
        --kept;
        keptBytes -= characters[kept].size();
    }
    std::string shownBase;
    for (std::size_t i = 0; i < kept; ++i) shownBase += characters[i];
    processingTime_ = clock_.Now();
    for (;;) {
        const std::string name = computerName_ + "_" + shownBase + (cut ? "..._" : "_") +
                                 ToTimeStamp(processingTime_) + "." + extension;
        if (namesThisRun_.count(name) == 0 && !fileList_.IsExistServerFileName(name)) return name;
        ++processingTime_;
    }
}

bool CDetectFileExecute::SendFileList(bool endOfRun) {
    LOG_METHOD();
    const bool settled = FlushSettledStatus();
    // A list whose publishing this run could not settle may be out: a new one would announce
    // its rows again. (Settled as out, its rows are announced, and there may be none left.)
    bool sent = SettlePublishingFileList() != Publishing::kUnknown;
    if (sent && CreateFileList() > 0) {
        sent = ForwardFileList() == 0;
        if (sent)
            fileList_.UpdateForwardStatusAndSentNames(lastFileListName_,
                                                      StagedFileListName(lastFileListName_));
    }
    if (!sent) {
        LOG_ERROR("Create FileList Error");
        if (endOfRun) throw CDetectFileExecuteException(kForwardFileListError);
        throw ScanFailure{"FileList Copy Error"};
    }
    forwardedCount_ = 0;
    return settled;
}

int CDetectFileExecute::CreateFileList() {
    LOG_METHOD();
    try {
        CDetectFileXMLUtility writer(detectFileFolderPath_);
        writer.OpenFileList(computerName_);
        fileList_.BindDetectFileForFileListStatement();
        std::string path, name, serverName;
        std::time_t lastUpdate = 0, processed = 0;
        int rows = 0;
        while (fileList_.GetDetectFileInformationForFileList(&path, &name, &serverName, &lastUpdate,
                                                             &processed) == 0) {
            LOG_TRACE("file path:" + path);
            writer.WriteFileData(path, name, serverName, lastUpdate);
            ++rows;
        }
        writer.CloseFileList();
        return rows;
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        fileList_.EndFileListListing();
        throw CDetectFileExecuteException(kCreateFileListError);
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        fileList_.EndFileListListing();
        throw CDetectFileExecuteException(kCreateFileListError);
    }
}

std::string CDetectFileExecute::NextFileListName() {
    // Two lists made within one second would share a name and the second would replace the
    // first on the device: each list takes a second of its own, past names the device holds.
    std::time_t when = std::max(clock_.Now(), lastFileListTime_ + 1);
    for (int tries = 0;; ++tries, ++when) {
        const std::string name = computerName_ + "_" + kFileListBase + "_" + ToTimeStamp(when) +
                                 "." + kFileListExtension;
        if (tries >= kFileListNameTries) return name;
        if (namesThisRun_.count(name) != 0 || fileList_.IsExistServerFileName(name)) continue;
        const IoStatus exists = share_->Exists(ImportFolder() + name);
        if (exists) continue;
        lastFileListTime_ = when;
        processingTime_ = when;
        return name;
    }
}

CDetectFileExecute::Claim CDetectFileExecute::ClaimWithRetries(
    const std::function<std::string()>& nextName,
    const std::function<Claim(const std::string&)>& claimOne, std::string& name) {
    for (int tries = 0;; ++tries) {
        name = nextName();
        const Claim claim = claimOne(name);
        if (claim == Claim::kClaimed || claim == Claim::kNotRecorded) return claim;
        if (claim == Claim::kFailed || tries + 1 >= kClaimTries) return Claim::kFailed;
    }
}

CDetectFileExecute::Claim CDetectFileExecute::ReleaseTakenName(
    const std::string& name, std::initializer_list<std::string> recorded) {
    LOG_NOTICE("Device Name Held By Another Sender:" + name);
    namesThisRun_.insert(name);
    // Left recorded, the other sender's file (or list, or staging copy) would be taken for ours
    // and removed.
    for (const std::string& sentName : recorded) {
        if (fileList_.DeleteSentName(sentName) != 0) {
            LOG_ERROR("Delete Sent Name Error. name:" + name);
            return Claim::kFailed;
        }
    }
    return Claim::kTaken;
}

CDetectFileExecute::Claim CDetectFileExecute::ClaimServerName(const std::string& name) {
    if (fileList_.AddSentName(name) != 0) return Claim::kNotRecorded;
    const IoStatus claimed = share_->ReserveName(ImportFolder() + name);
    if (claimed || claimed.error == ENOSYS) return Claim::kClaimed;
    if (claimed.error != EEXIST) {
        // The claim may have been made all the same: the record stays, so it is ours to remove.
        LOG_ERROR_CODE(claimed.error, "Device Name Claim Error. name:" + name);
        return Claim::kFailed;
    }
    return ReleaseTakenName(name, {name});
}

int CDetectFileExecute::ForwardFileList() {
    LOG_METHOD();
    // The device reads a list the moment it appears: a list is copied whole under its staging
    // name and then renamed. Every user of this PC names its lists alike; the staging name is
    // what they claim, and a list name whose staging name another holds is passed over.
    CDetectFileXMLUtility writer(detectFileFolderPath_);
    std::string name;
    const Claim claim =
        ClaimWithRetries([this] { return NextFileListName(); },
                         [this](const std::string& next) {
                             return ClaimFileListName(next, StagedFileListName(next));
                         },
                         name);
    if (claim == Claim::kNotRecorded) {
        LOG_ERROR("FileList Copy Error. Name not recorded. file:" + name);
        return 1;
    }
    if (claim != Claim::kClaimed) {
        LOG_ERROR("FileList Copy Error. No device name claimed. file:" + name);
        return 1;
    }
    if (PublishFileList(writer.GetFileListPath(), name, StagedFileListName(name)) != 0) {
        LOG_ERROR("FileList Copy Error. file:" + name);
        return 1;
    }
    lastFileListName_ = name;
    namesThisRun_.insert(name);
    ++forwardedCount_;
    return 0;
}

CDetectFileExecute::Claim CDetectFileExecute::ClaimFileListName(const std::string& name,
                                                                const std::string& staged) {
    // Recorded first: whatever becomes of the run, the claim and the staging copy are provably
    // this program's.
    if (fileList_.AddSentName(name) != 0 || fileList_.AddSentName(staged) != 0)
        return Claim::kNotRecorded;
    const std::string folder = ImportFolder();
    const IoStatus claimed = share_->ReserveName(folder + staged);
    if (claimed || claimed.error == ENOSYS) {
        // Held until the rename: another user gets this staging name only once the list is out,
        // and then finds the list. One that went out between the look and the claim shows now.
        const IoStatus listed = share_->Exists(folder + name);
        if (!listed && IsAbsent(listed.error)) return Claim::kClaimed;
        if (!listed) {
            LOG_ERROR_CODE(listed.error, "FileList Check Error. file:" + name);
            // Left, the next run removes it: it is recorded.
            if (claimed) {
                if (const IoStatus removed = share_->DeleteFile(folder + staged); !removed)
                    LOG_TRACE("Staged FileList Left:" + staged);
            }
            return Claim::kFailed;
        }
        if (claimed) {
            if (const IoStatus removed = share_->DeleteFile(folder + staged);
                !removed && !IsAbsent(removed.error)) {
                // Recorded, so the next run removes it.
                LOG_ERROR_CODE(removed.error, "Delete Staged FileList Error. file:" + staged);
                namesThisRun_.insert(name);
                return Claim::kTaken;
            }
        }
    } else if (claimed.error != EEXIST) {
        // The claim may have been made all the same: the record stays, so it is ours to remove.
        LOG_ERROR_CODE(claimed.error, "Device Name Claim Error. name:" + name);
        return Claim::kFailed;
    }
    return ReleaseTakenName(name, {name, staged});
}

int CDetectFileExecute::PublishFileList(const std::string& localPath, const std::string& name,
                                        const std::string& staged) {
    LOG_TRACE("Param:" + localPath + ", " + name);
    const std::string folder = ImportFolder();
    // The copy replaces the empty claim.
    if (const IoStatus copied = share_->CopyToShare(localPath, folder + staged, nullptr); !copied) {
        LOG_ERROR_CODE(copied.error, "File Copy Error. file:" + localPath);
        // Left, the next run removes it: it is recorded.
        if (const IoStatus removed = share_->DeleteFile(folder + staged); !removed)
            LOG_TRACE("Staged FileList Left:" + staged);
        return 1;
    }
    // From here the list may go out at any moment: the mark tells the next run to look.
    if (fileList_.SetPublishingFileList(name) != 0) {
        if (const IoStatus removed = share_->DeleteFile(folder + staged); !removed)
            LOG_TRACE("Staged FileList Left:" + staged);
        return 1;
    }
    if (const IoStatus renamed = share_->Rename(folder + staged, folder + name); !renamed) {
        LOG_ERROR_CODE(renamed.error, "FileList Rename Error. file:" + name);
        // Refused outright (no staging copy, the name taken): the list did not go out.
        if (renamed.error == ENOENT || renamed.error == EEXIST) {
            if (const IoStatus removed = share_->DeleteFile(folder + staged); !removed)
                LOG_TRACE("Staged FileList Left:" + staged);
            fileList_.ClearPublishingFileList();
            return 1;
        }
        // A rename whose answer was lost may have been made: the folder tells.
        return SettlePublishingFileList() == Publishing::kPublished ? 0 : 1;
    }
    return 0;
}

CDetectFileExecute::Publishing CDetectFileExecute::SettlePublishingFileList() {
    std::string name;
    if (fileList_.GetPublishingFileList(name) == 0) return Publishing::kNone;
    const std::string folder = ImportFolder();
    const std::string staged = StagedFileListName(name);
    const IoStatus present = share_->Exists(folder + staged);
    if (present) {
        // The rename was not made: the list never went out, its rows wait for the next list.
        LOG_NOTICE("File List Not Published:" + name);
        if (const IoStatus removed = share_->DeleteFile(folder + staged);
            !removed && !IsAbsent(removed.error)) {
            LOG_ERROR_CODE(removed.error, "Delete Staged FileList Error. file:" + staged);
            return Publishing::kUnknown;
        }
        fileList_.ClearPublishingFileList();
        return Publishing::kNotPublished;
    }
    if (!IsAbsent(present.error)) {
        LOG_ERROR_CODE(present.error, "Staged FileList Check Error. file:" + staged);
        return Publishing::kUnknown;
    }
    // The rename was made: the device has the list, or has taken it in already.
    LOG_NOTICE("File List Published:" + name);
    fileList_.UpdateForwardStatusAndSentNames(name, staged);
    return Publishing::kPublished;
}

}  // namespace tessarine
