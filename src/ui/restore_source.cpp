#include "ui/restore_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "backup/backup_sql_utility.h"
#include "base/app_log.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"

namespace tessarine::ui {

std::vector<ShareEntry> RestoreListing(std::vector<ShareEntry> listed) {
    std::erase_if(listed, [](const ShareEntry& entry) {
        return IsTemporaryCopyName(entry.name) || !IsRestorableName(entry.name);
    });
    std::sort(listed.begin(), listed.end(), [](const ShareEntry& a, const ShareEntry& b) {
        if (a.isFolder != b.isFolder) return a.isFolder;
        return a.name < b.name;
    });
    return listed;
}

DeviceRestoreSource::DeviceRestoreSource(std::unique_ptr<DeviceShare> share, std::string host,
                                         std::string user, std::string password,
                                         BackupFolderPairs pairs, std::string databasePath,
                                         std::string marksPath)
    : share_(std::move(share)),
      host_(std::move(host)),
      user_(std::move(user)),
      password_(std::move(password)),
      pairs_(std::move(pairs)),
      databasePath_(std::move(databasePath)),
      marks_(std::move(marksPath)) {}

DeviceRestoreSource::~DeviceRestoreSource() {
    if (connected_) share_->Cancel(host_);
}

int DeviceRestoreSource::Connect() {
    if (connected_) return 0;
    const int connect = share_->Connect(host_, user_, password_);
    if (connect != kShareConnected && connect != kShareCredentialConflict) {
        LOG_ERROR_CODE(connect, "Restore Window Connect Error. host=" + host_);
        return connect == 0 ? EIO : connect;
    }
    connected_ = true;
    return 0;
}

IoResult<std::vector<ShareEntry>> DeviceRestoreSource::List(int pair,
                                                            const std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    IoResult<std::vector<ShareEntry>> result;
    if (pair < 0 || pair >= static_cast<int>(pairs_.size()) || pairs_[pair].destination.empty()) {
        result.error = EINVAL;
        return result;
    }
    if (const int error = Connect(); error != 0) {
        result.error = error;
        return result;
    }
    std::string folder = pairs_[pair].destination;
    for (const std::string& name : names) folder = JoinDevicePath(folder, name);
    auto listed = share_->List(folder, "*");
    if (!listed) {
        LOG_ERROR_CODE(listed.error, "Restore Window List Error. folder=" + folder);
        if (IsConnectionLoss(listed.error)) connected_ = false;
        result.error = listed.error;
        return result;
    }
    result.value = RestoreListing(std::move(listed.value));
    return result;
}

RestoreSummary DeviceRestoreSource::Restore(const RestoreRequest& request,
                                            const std::atomic<int>* cancel,
                                            const CRestoreEngine::ProgressObserver& observer) {
    std::lock_guard lock(mutex_);
    if (const int error = Connect(); error != 0) {
        RestoreSummary summary;
        summary.deviceLost = true;
        summary.deviceError = error;
        return summary;
    }
    // The names as they were backed up; without the file list, as the device has them.
    std::unique_ptr<CBackupSQLUtility> fileList;
    if (!databasePath_.empty() && access(databasePath_.c_str(), F_OK) == 0) {
        fileList = std::make_unique<CBackupSQLUtility>(databasePath_, SqlOpenMode::kReadOnly);
        if (fileList->Initialize() != 0) {
            LOG_ERROR("Restore File List Not Opened. Names As On The Device.");
            fileList.reset();
        }
    }
    CRestoreEngine engine(*share_, fileList.get(), pairs_);
    engine.SetMarks(&marks_);
    RestoreSummary summary = engine.Run(request, cancel, observer);
    if (summary.deviceLost) connected_ = false;
    return summary;
}

}  // namespace tessarine::ui
