#include "backup/backup_execute.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "backup/backup_xml_utility.h"
#include "core/event_names.h"
#include "core/progress_counters.h"
#include "infra/app_exception.h"
#include "infra/app_log.h"
#include "infra/string_utility.h"

namespace tessarine {

std::atomic<int> ShutdownAfterBackup{1};

namespace {

constexpr char kShareBackupFolder[] = "\\zereda\\backup\\";

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

// One entry of a local folder as the backup sees it.
struct LocalEntry {
    std::string name;
    bool isFolder = false;
    std::time_t lastWriteTime = 0;
};

// Reads a local folder entry by entry: readdir plus fstatat relative to the folder's descriptor.
// Regular files (also through a link) and folders (never through a link, so a link cannot make
// the walk loop) are delivered; other kinds of entry and entries that vanished are passed over.
class LocalFolderReader {
public:
    enum class Result { kEntry, kEnd, kEntryError, kReadError };

    // `followLink`: the folder may be reached through a link (a configured source folder);
    // folders found by the walk itself are opened only as what they were found to be.
    LocalFolderReader(const std::string& path, bool followLink) {
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
        const int fd = open(path.c_str(), flags);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        dir_ = fdopendir(fd);
        if (dir_ == nullptr) {
            error_ = errno;
            close(fd);
        }
    }
    ~LocalFolderReader() {
        if (dir_ != nullptr) closedir(dir_);
    }
    LocalFolderReader(const LocalFolderReader&) = delete;
    LocalFolderReader& operator=(const LocalFolderReader&) = delete;

    bool IsOpen() const { return dir_ != nullptr; }
    // errno of the failed open, read or status query.
    int Error() const { return error_; }

    // kEntryError: `entry.name` holds the entry whose status cannot be read.
    Result Next(LocalEntry& entry) {
        for (;;) {
            errno = 0;
            const dirent* item = readdir(dir_);
            if (item == nullptr) {
                if (errno == 0) return Result::kEnd;
                error_ = errno;
                return Result::kReadError;
            }
            const std::string_view name(item->d_name);
            if (name == "." || name == "..") continue;
            // Pipes, sockets and devices are no files to back up (reading a pipe would block).
            if (item->d_type == DT_FIFO || item->d_type == DT_SOCK || item->d_type == DT_CHR ||
                item->d_type == DT_BLK)
                continue;
            entry.name = name;

            struct stat status {};
            if (fstatat(dirfd(dir_), item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;  // gone since it was listed
                error_ = errno;
                return Result::kEntryError;
            }
            if (S_ISLNK(status.st_mode)) {
                if (fstatat(dirfd(dir_), item->d_name, &status, 0) != 0) {
                    if (errno == ENOENT) continue;  // a dangling link
                    error_ = errno;
                    return Result::kEntryError;
                }
                if (!S_ISREG(status.st_mode)) continue;  // a link to a folder is not followed
            }
            if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) continue;
            entry.isFolder = S_ISDIR(status.st_mode);
            entry.lastWriteTime = status.st_mtime;
            return Result::kEntry;
        }
    }

private:
    DIR* dir_ = nullptr;
    int error_ = 0;
};

// A name that cannot be reproduced on the share: '\' separates folders there.
bool IsRepresentableOnShare(const std::string& name) {
    return name.find('\\') == std::string::npos;
}

// Reads an entry's status again by path, as the folder reader would: false when it is gone or
// is no longer the kind of entry it was (it is then left to the next run).
bool RefreshEntry(const std::string& path, LocalEntry& entry) {
    struct stat status {};
    if (fstatat(AT_FDCWD, path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno != ENOENT;  // another failure is reported by the copy itself
    if (S_ISLNK(status.st_mode) && stat(path.c_str(), &status) != 0) return errno != ENOENT;
    if (entry.isFolder ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) return false;
    entry.lastWriteTime = status.st_mtime;
    return true;
}

}  // namespace

struct BackupWalkRecord {
    struct Item {
        LocalEntry entry;
        int statusError = 0;                       // errno when the status could not be read
        std::unique_ptr<BackupWalkRecord> folder;  // contents of a folder the walk went into
    };
    int openError = 0;  // errno when the folder could not be opened (no items then)
    int readError = 0;  // errno when reading broke off after `items`
    std::vector<Item> items;
};

namespace {

// The entries of one folder for the differential pass: read from the folder, or replayed from
// what the counting walk recorded. Gives the same results as LocalFolderReader.
class DiffFolderSource {
public:
    using Result = LocalFolderReader::Result;

    DiffFolderSource(const std::string& path, bool followLink, const BackupWalkRecord* recorded)
        : recorded_(recorded) {
        if (recorded_ == nullptr) reader_.emplace(path, followLink);
    }

    bool IsReplay() const { return recorded_ != nullptr; }
    bool IsOpen() const { return IsReplay() ? recorded_->openError == 0 : reader_->IsOpen(); }
    int Error() const { return IsReplay() ? error_ : reader_->Error(); }

    Result Next(LocalEntry& entry) {
        if (!IsReplay()) return reader_->Next(entry);
        if (next_ >= recorded_->items.size()) {
            if (recorded_->readError == 0) return Result::kEnd;
            error_ = recorded_->readError;
            return Result::kReadError;
        }
        const BackupWalkRecord::Item& item = recorded_->items[next_++];
        entry = item.entry;
        if (item.statusError != 0) {
            error_ = item.statusError;
            return Result::kEntryError;
        }
        return Result::kEntry;
    }

    // The recorded contents of the folder Next delivered last; null reads it from the disk.
    const BackupWalkRecord* Contents() const {
        return IsReplay() && next_ > 0 ? recorded_->items[next_ - 1].folder.get() : nullptr;
    }

private:
    const BackupWalkRecord* recorded_;
    std::optional<LocalFolderReader> reader_;
    std::size_t next_ = 0;
    int error_ = 0;
};

}  // namespace

CBackupExecute::CBackupExecute(Dependencies dependencies)
    : shareFactory_(std::move(dependencies.shareFactory)),
      fileList_(dependencies.fileList),
      messageSink_(dependencies.messageSink),
      namedEvents_(dependencies.namedEvents),
      clock_(dependencies.clock),
      backupFolderPath_(std::move(dependencies.backupFolderPath)),
      systemInfo_(dependencies.systemInfo),
      loadCommonSetting_(std::move(dependencies.loadCommonSetting)),
      loadBackupSetting_(std::move(dependencies.loadBackupSetting)) {
    if (!loadCommonSetting_)
        loadCommonSetting_ = [](CCommonSetting& record) { return record.Load(); };
    if (!loadBackupSetting_)
        loadBackupSetting_ = [](CBackupSetting& record) { return record.Load(); };

    // The error list's capacity is fixed for the executor's life.
    errorList_.capacity = 10;
    try {
        CBackupSetting setting;
        const int ret = loadBackupSetting_(setting);
        if (ret != 0) {
            LOG_ERROR("Load BackupSetting Error. ret:" + IntToString(ret) +
                      " BackupErrorMaxCount:10");
        } else if (setting.backupErrorMaxCount < 0) {
            LOG_ERROR("Invalid BackupErrorMaxCount:" + IntToString(setting.backupErrorMaxCount) +
                      " Use:10");
        } else {
            errorList_.capacity = setting.backupErrorMaxCount;
        }
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
    }
}

CBackupExecute::~CBackupExecute() { StopThread(); }

int CBackupExecute::ThreadCore() {
    LOG_BANNER("BackupExecute Start up");
    LOG_METHOD();
    LOG_NOTICE("ThreadCore Start");
    SetBackupRunning(1);

    // Signalled and closed at every ending of the run; nothing in the program waits for it.
    EventHandle backupComplete = namedEvents_.Open(std::string(kEventBackupComplete));
    if (!backupComplete) LOG_ERROR("Open Event Error. Name:" + std::string(kEventBackupComplete));

    ShutdownAfterBackup.store(1);
    BackupTotalCount.store(-1);
    BackupDoneCount.store(0);

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
        if (!connectedHost_.empty()) share_->Cancel(connectedHost_);
        share_.reset();
    }
    connectedHost_.clear();
    SetBackupRunning(0);
    if (outcome.reported) {
        NotifyBackupResult(outcome.result, outcome.isNotify, outcome.popupTimeout);
    } else if (GetShutdownMode() == 1) {
        // The tray waits for this to end its backup before shutdown, also when nothing ran.
        messageSink_.Post(WM_SHUTDOWN_BACKUP_COMPLETE);
    }
    SignalBackupComplete(backupComplete);
    LOG_NOTICE("ThreadCore End Execute:" + IntToString(errorList_.executeCount) +
               " Success:" + IntToString(errorList_.successCount));
    LOG_BANNER("BackupExecute Finish");
    if (GetShutdownMode() == 1) CallJudgeShutdown();
    return outcome.result;
}

void CBackupExecute::Run(RunOutcome& outcome) {
    LOG_METHOD();
    errorList_.Clear();
    ClearCandidates();

    CCommonSetting common;
    int ret = loadCommonSetting_(common);
    if (ret != 0 || common.userName.empty()) {
        LOG_ERROR("CommonSetting Error. ret:" + IntToString(ret) + " User:" + common.userName +
                  " Password:" + kMaskedPassword);
        return;
    }
    CBackupSetting backup;
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
    const bool mirroring = backup.isDeletedFileBackup;
    const std::time_t startTime = clock_.Now();

    const int connectResult = ConnectShare(common);
    if (connectResult != kShareConnected && connectResult != kShareCredentialConflict) {
        errno = connectResult;
        LOG_ERROR("SMB Connnection Error. Param:" + common.hostName + ", " + common.userName +
                  ", " + kMaskedPassword);
        WriteResultFiles(startTime, clock_.Now(), 1);
        return;
    }
    if (GetShutdownMode() == 1 && messageBoxForShutdownBackup_) messageBoxForShutdownBackup_();

    int result = 0;
    try {
        BackupTotalCount.store(CountBackupTargets(mirroring));
        BackupDoneCount.store(0);
        LOG_NOTICE("BackupFileCountMax = " + IntToString(BackupTotalCount.load()));

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
                ExecuteFullBackup(i, source);
            } else {
                // Rows are not marked "INIT" before the pass: nothing reads that mark, and
                // marking every row (and again "COMPLETE" after the run) rewrote the whole
                // table twice per run. Rows the pass writes carry "ADD" or "UPDATE" as before.
                LOG_NOTICE("ExecuteDiffBackup Start  SetNo = " + IntToString(i));
                if (mirroring) LoadBackupList(i);
                storedTimes_.reserve(static_cast<std::size_t>(rowCount));
                fileList_.GetBackupTimes(i, storedTimes_);
                ExecuteDiffBackup(i, source, mirroring, recordedTrees_[i].get());
                storedTimes_.clear();
                recordedTrees_[i].reset();
                // A walk cut short by the stop flag has not seen every entry: what it did not
                // reach must not be taken for deleted.
                if (mirroring && !IsStopRequested()) ExecuteDeletedFileBackup(i);
                ClearCandidates();
            }
        }

        for (auto& tree : recordedTrees_) tree.reset();
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
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        EndAfterFailure(startTime);
        result = 1;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        EndAfterFailure(startTime);
        result = 1;
    } catch (...) {
        LOG_ERROR("Catch Unknown Exception.");
        EndAfterFailure(startTime);
        result = 1;
    }
    outcome.result = result;
}

void CBackupExecute::EndAfterFailure(std::time_t startTime) {
    ClearCandidates();
    storedTimes_.clear();
    for (auto& tree : recordedTrees_) tree.reset();
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
    struct stat status {};
    if (stat(pair.source.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        if (report) {
            LOG_ERROR("Source Folder Not Exist. Path:" + pair.source);
            errorList_.AddFailure(pair.source);
        }
        return false;
    }
    if (pair.destination.empty()) {
        if (report) {
            LOG_ERROR("Destination Folder Not Set. Source:" + pair.source);
            errorList_.AddFailure(pair.source);
        }
        return false;
    }
    return true;
}

void CBackupExecute::ExecuteFullBackup(int settingNumber, const std::string& folderPath) {
    LOG_METHOD();
    try {
        LocalFolderReader reader(folderPath, folderPath == folderPairs_[settingNumber].source);
        if (!reader.IsOpen()) {
            errno = reader.Error();
            LOG_ERROR("Open Folder Error. folder:" + folderPath);
            errorList_.AddFailure(folderPath);
            return;
        }
        LocalEntry entry;
        for (;;) {
            if (IsStopRequested()) {
                LOG_TRACE("ExecuteFullBackup() Finish App.");
                return;
            }
            const auto next = reader.Next(entry);
            if (next == LocalFolderReader::Result::kEnd) break;
            if (next == LocalFolderReader::Result::kReadError) {
                errno = reader.Error();
                LOG_ERROR("Read Folder Error. folder:" + folderPath);
                errorList_.AddFailure(folderPath);
                break;
            }
            ++BackupDoneCount;
            const std::string path = JoinLocalPath(folderPath, entry.name);
            if (next == LocalFolderReader::Result::kEntryError) {
                errno = reader.Error();
                LOG_ERROR("Get File Status Error. file:" + path);
                errorList_.AddFailure(path);
                continue;
            }
            if (!IsRepresentableOnShare(entry.name)) {
                LOG_ERROR("Invalid File Name. file:" + path);
                errorList_.AddFailure(path);
                continue;
            }
            const std::string destination = MakeDestinationPath(settingNumber, path);
            if (entry.isFolder) {
                if (CreateFolder(settingNumber, path) != 0) {
                    errorList_.AddFailure(path);
                    continue;
                }
                fileList_.AddBackupInformation(settingNumber, path, destination,
                                               entry.lastWriteTime, 1);
                errorList_.AddSuccess();
                ExecuteFullBackup(settingNumber, path);
            } else {
                if (BackupFile(settingNumber, path) != 0) {
                    errorList_.AddFailure(path);
                    continue;
                }
                fileList_.AddBackupInformation(settingNumber, path, destination,
                                               entry.lastWriteTime, 0);
                errorList_.AddSuccess();
            }
        }
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
                                       bool mirroring, const BackupWalkRecord* recorded) {
    LOG_METHOD();
    try {
        DiffFolderSource reader(folderPath, folderPath == folderPairs_[settingNumber].source,
                                recorded);
        if (!reader.IsOpen()) {
            errno = reader.Error();
            LOG_ERROR("Open Folder Error. folder:" + folderPath);
            errorList_.AddFailure(folderPath);
            KeepCandidatesBelow(folderPath);
            return;
        }
        LocalEntry entry;
        for (;;) {
            if (IsStopRequested()) {
                LOG_TRACE("ExecuteDiffBackup() Finish App.");
                return;
            }
            const auto next = reader.Next(entry);
            if (next == DiffFolderSource::Result::kEnd) break;
            if (next == DiffFolderSource::Result::kReadError) {
                errno = reader.Error();
                LOG_ERROR("Read Folder Error. folder:" + folderPath);
                errorList_.AddFailure(folderPath);
                KeepCandidatesBelow(folderPath);
                break;
            }
            ++BackupDoneCount;
            const std::string path = JoinLocalPath(folderPath, entry.name);
            if (next == DiffFolderSource::Result::kEntryError) {
                errno = reader.Error();
                LOG_ERROR("Get File Status Error. file:" + path);
                errorList_.AddFailure(path);
                KeepCandidatesBelow(path);
                continue;
            }
            if (!IsRepresentableOnShare(entry.name)) {
                LOG_ERROR("Invalid File Name. file:" + path);
                errorList_.AddFailure(path);
                continue;
            }
            // The entry still exists, so its copy must not be deleted.
            if (mirroring) RemoveFromBackupList(path, entry.isFolder);

            std::time_t storedTime = 0;
            bool stored = false;
            if (const auto known = storedTimes_.find(path); known != storedTimes_.end()) {
                storedTime = known->second;
                stored = true;
            } else {
                // Not among the pair's rows read before the pass (or its time could not be
                // read there): the file list decides, and reports a row it cannot read.
                stored =
                    fileList_.GetBackupInformation(settingNumber, path, nullptr, &storedTime) == 0;
            }
            // A replayed entry that needs work is looked at once more: it may have changed or
            // gone since the count (an entry that appeared since is found by the next run).
            const bool needsWork =
                !stored || (!entry.isFolder && storedTime != entry.lastWriteTime);
            if (needsWork && reader.IsReplay() && !RefreshEntry(path, entry)) {
                LOG_TRACE("Changed Since Count. file:" + path);
                continue;
            }
            if (!stored) {
                const std::string destination = MakeDestinationPath(settingNumber, path);
                if (entry.isFolder) {
                    if (CreateFolder(settingNumber, path) != 0) {
                        errorList_.AddFailure(path);
                        continue;
                    }
                    // The folder's row follows its contents.
                    ExecuteDiffBackup(settingNumber, path, mirroring, reader.Contents());
                } else if (BackupFile(settingNumber, path) != 0) {
                    errorList_.AddFailure(path);
                    continue;
                }
                fileList_.AddBackupInformation(settingNumber, path, destination,
                                               entry.lastWriteTime, entry.isFolder ? 1 : 0);
                errorList_.AddSuccess();
            } else if (entry.isFolder) {
                ExecuteDiffBackup(settingNumber, path, mirroring, reader.Contents());
            } else if (storedTime != entry.lastWriteTime) {
                if (BackupFileOverwrite(settingNumber, path) != 0) {
                    errorList_.AddFailure(path);
                    continue;
                }
                fileList_.UpdateBackupInformation(settingNumber, path, entry.lastWriteTime);
                errorList_.AddSuccess();
            }
        }
    } catch (const CBackupExecuteException&) {
        throw;  // logged where it was raised
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        throw CBackupExecuteException(1);
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        throw CBackupExecuteException(1);
    }
}

void CBackupExecute::ExecuteDeletedFileBackup(int settingNumber) {
    LOG_METHOD();
    fileList_.BindBackupSettingStatusStatement(settingNumber);

    for (const std::string& source : fileCandidates_) {
        if (IsStopRequested()) {
            LOG_TRACE("ExecuteDeletedFileBackup() Finish App.");
            break;
        }
        DeleteCopy(settingNumber, source, false);
        ++BackupDoneCount;
    }
    // Deeper folders sort after the folders that hold them, so they go first.
    for (auto it = folderCandidates_.rbegin(); it != folderCandidates_.rend(); ++it) {
        if (IsStopRequested()) {
            LOG_TRACE("ExecuteDeletedFileBackup() Finish App.");
            break;
        }
        DeleteCopy(settingNumber, *it, true);
        ++BackupDoneCount;
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
    if (share_->Exists(destination) && share_->IsReadOnly(destination))
        share_->ClearReadOnly(destination);
    const bool removed =
        isFolder ? share_->RemoveFolder(destination) : share_->DeleteFile(destination);
    if (removed) {
        fileList_.DeleteBackupInformation(settingNumber, source);
        errorList_.AddSuccess();
    } else if (isFolder ? share_->IsFolder(destination) : share_->Exists(destination)) {
        errno = share_->LastError();
        LOG_ERROR((isFolder ? "Folder Delete Error. file:" : "File Delete Error. file:") +
                  destination);
        errorList_.AddFailure(source);
    } else {
        // The copy is already gone: only the row is left to drop.
        fileList_.DeleteBackupInformation(settingNumber, source);
    }
}

int CBackupExecute::BackupFile(int settingNumber, const std::string& sourcePath) {
    const std::string destination = MakeDestinationPath(settingNumber, sourcePath);
    if (!share_->CopyToShare(sourcePath, destination, CancelFlag())) {
        errno = share_->LastError();
        LOG_ERROR("File Copy Error. file:" + sourcePath + destination);
        return 1;
    }
    return 0;
}

int CBackupExecute::BackupFileOverwrite(int settingNumber, const std::string& sourcePath) {
    const std::string destination = MakeDestinationPath(settingNumber, sourcePath);
    if (share_->Exists(destination) && share_->IsReadOnly(destination))
        share_->ClearReadOnly(destination);
    return BackupFile(settingNumber, sourcePath);
}

int CBackupExecute::CreateFolder(int settingNumber, const std::string& sourcePath) {
    const std::string destination = MakeDestinationPath(settingNumber, sourcePath);
    if (share_->IsFolder(destination) || share_->CreateFolder(destination)) return 0;
    errno = share_->LastError();
    LOG_ERROR("Create Directory Error. folder:" + destination);
    return 1;
}

int CBackupExecute::GetFileCountForTarget(const std::string& folderPath, int settingNumber,
                                          bool removeFound, BackupWalkRecord* record) {
    LOG_METHOD();
    LOG_TRACE("SetNo = " + IntToString(settingNumber) + " Folder:" + folderPath);
    int count = 0;
    try {
        CountEntries(folderPath, true, removeFound, count, record);
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
        throw CBackupExecuteException(1);
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        throw CBackupExecuteException(1);
    }
    return count;
}

void CBackupExecute::CountEntries(const std::string& folderPath, bool followLink, bool removeFound,
                                  int& count, BackupWalkRecord* record) {
    LocalFolderReader reader(folderPath, followLink);
    if (!reader.IsOpen()) {
        // Reported by the backup pass; here it only must not look like a deletion.
        if (record != nullptr) record->openError = reader.Error() != 0 ? reader.Error() : EIO;
        if (removeFound) KeepCandidatesBelow(folderPath);
        return;
    }
    LocalEntry entry;
    std::string path;
    for (;;) {
        if (IsStopRequested()) return;
        const auto next = reader.Next(entry);
        if (next == LocalFolderReader::Result::kEnd) return;
        if (next == LocalFolderReader::Result::kReadError) {
            if (record != nullptr) record->readError = reader.Error() != 0 ? reader.Error() : EIO;
            if (removeFound) KeepCandidatesBelow(folderPath);
            return;
        }
        ++count;
        BackupWalkRecord::Item* item = nullptr;
        if (record != nullptr) {
            item = &record->items.emplace_back();
            item->entry = entry;
        }
        if (next == LocalFolderReader::Result::kEntryError) {
            if (item != nullptr) item->statusError = reader.Error() != 0 ? reader.Error() : EIO;
            if (removeFound) KeepCandidatesBelow(JoinLocalPath(folderPath, entry.name));
            continue;
        }
        // Paths are needed only to descend and to match deletion candidates.
        if (!removeFound && !entry.isFolder) continue;
        path = JoinLocalPath(folderPath, entry.name);
        if (removeFound) RemoveFromBackupList(path, entry.isFolder);
        if (entry.isFolder) {
            if (item != nullptr) item->folder = std::make_unique<BackupWalkRecord>();
            CountEntries(path, false, removeFound, count, item ? item->folder.get() : nullptr);
        }
    }
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
    if (!share_->CopyToShare(resultFile.GetServerResultFilePath(), target, CancelFlag())) {
        errno = share_->LastError();
        LOG_ERROR("Server Result File Copy Error. file:" + resultFile.GetServerResultFilePath() +
                  " " + target);
        return 1;
    }
    return 0;
}

std::string CBackupExecute::MakeDestinationPath(const BackupFolderPair& pair,
                                                const std::string& sourcePath) {
    const std::string& target = pair.destination;
    const char separator = IsSmbUrl(target) ? '/' : '\\';
    std::string rest = sourcePath.size() > pair.source.size()
                           ? sourcePath.substr(pair.source.size())
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
    LOG_TRACE("Files:" + IntToString(static_cast<int>(fileCandidates_.size())) +
              " Folders:" + IntToString(static_cast<int>(folderCandidates_.size())));
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
        // A pair with rows gets a differential pass, which replays this walk.
        BackupWalkRecord* record = nullptr;
        if (fileList_.GetBackupFileCount(i) >= 1) {
            recordedTrees_[i] = std::make_unique<BackupWalkRecord>();
            record = recordedTrees_[i].get();
        }
        total += GetFileCountForTarget(folderPairs_[i].source, i, mirroring, record);
        if (mirroring) total += static_cast<int>(fileCandidates_.size() + folderCandidates_.size());
        ClearCandidates();
    }
    return total;
}

void CBackupExecute::SetBackupRunning(int state) {
    if (ThreadControlBlock* block = GetControlBlock();
        block != nullptr && block->executorRunning != nullptr)
        block->executorRunning->store(state);
    messageSink_.Post(WM_REFRESH_BACKUP_NOW);
    messageSink_.Post(WM_EXECUTE_STATE_CHANGED);
}

void CBackupExecute::NotifyBackupResult(int result, bool notify, int popupTimeout) {
    LOG_METHOD();
    if (GetShutdownMode() == 1) messageSink_.Post(WM_SHUTDOWN_BACKUP_COMPLETE);
    // A run that did nothing and failed in nothing gives no pop-up.
    if (result == 0 && errorList_.executeCount == 0) return;
    if (!notify) return;
    auto request = std::make_unique<BalloonRequest>();
    request->result = result;
    request->value = popupTimeout;
    messageSink_.Post(WM_REQUEST_BALLOON, kBalloonBackupResult, 0, std::move(request));
}

bool CBackupExecute::WriteResultFiles(std::time_t start, std::time_t end, int resultCode) {
    LOG_METHOD();
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
