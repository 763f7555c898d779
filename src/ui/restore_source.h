// What the restore window works with: the device copies of the backup pairs, listed one folder
// at a time, and the restore itself. The real one goes through the same share access and
// restore engine as the command line; tests use a fake.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backup/restore_engine.h"
#include "backup/restore_marks.h"
#include "platform/device_share.h"
#include "platform/io_result.h"
#include "settings/setting_records.h"

namespace tessarine::ui {

class RestoreSource {
public:
    virtual ~RestoreSource() = default;
    // The copies in the device folder `names` below pair `pair`'s destination (empty: the
    // destination itself): folders first, then files, each by name; names that cannot be one
    // local name and the program's own temporary copies are left out. Called off the UI thread.
    virtual IoResult<std::vector<ShareEntry>> List(int pair,
                                                   const std::vector<std::string>& names) = 0;
    // Runs the restore (CRestoreEngine::Run). Called off the UI thread, never beside List.
    virtual RestoreSummary Restore(const RestoreRequest& request, const std::atomic<int>* cancel,
                                   const CRestoreEngine::ProgressObserver& observer) = 0;
};

// Sorts a listing as RestoreSource::List gives it and leaves out what it leaves out.
std::vector<ShareEntry> RestoreListing(std::vector<ShareEntry> listed);

// Through a DeviceShare, connecting with the given credentials before the first call (and
// again after a lost connection); `databasePath` (may be empty or missing) is the file list
// that gives the names as they were backed up; `marksPath` the restore marks (RestoreMarks).
class DeviceRestoreSource : public RestoreSource {
public:
    DeviceRestoreSource(std::unique_ptr<DeviceShare> share, std::string host, std::string user,
                        std::string password, BackupFolderPairs pairs, std::string databasePath,
                        std::string marksPath = {});
    ~DeviceRestoreSource() override;
    IoResult<std::vector<ShareEntry>> List(int pair,
                                           const std::vector<std::string>& names) override;
    RestoreSummary Restore(const RestoreRequest& request, const std::atomic<int>* cancel,
                           const CRestoreEngine::ProgressObserver& observer) override;

private:
    int Connect();

    std::mutex mutex_;
    std::unique_ptr<DeviceShare> share_;
    std::string host_;
    std::string user_;
    std::string password_;
    BackupFolderPairs pairs_;
    std::string databasePath_;
    RestoreMarks marks_;
    bool connected_ = false;
};

}  // namespace tessarine::ui
