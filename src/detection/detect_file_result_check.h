// The long-lived worker that collects the device's detection results: every ResultWatchInterval
// minutes it looks in the device's "\zereda\import\result\" for result files of this PC, copies
// each into the local "detectfile/result/" folder, reads it, stores it in the results database,
// deletes it on the device, and asks for one pop-up when something new was stored.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_sink.h"
#include "core/thread_common.h"
#include "detection/detect_file_result_sql_utility.h"
#include "platform/clock.h"
#include "platform/device_share.h"
#include "platform/named_events.h"
#include "platform/system_info.h"
#include "settings/setting_records.h"

namespace tessarine {

// What a name in the device's result folder is to this PC.
enum class ResultFileName {
    kAccepted,      // "<computer>_<up to 14 characters>.xml", letter case aside
    kNotForThisPc,  // another PC's, or not a result file
    kRefused,       // shaped like ours but holding a path separator, "..", or a control
                    // character: it could name a file outside the local result folder
};
ResultFileName CheckResultFileName(std::string_view computerName, std::string_view name);

class CDetectFileResultCheck : public CThreadCommon {
public:
    using ShareFactory = std::function<std::unique_ptr<DeviceShare>()>;
    using CommonSettingLoader = std::function<int(CCommonSetting&)>;
    using DetectFileSettingLoader = std::function<int(CDetectFileSetting&)>;
    // The wait on the events (index of the signalled one, kWaitTimeout or kWaitFailed);
    // tests replace it to run the loop without real waits.
    using EventWaiter =
        std::function<std::uint32_t(const std::vector<EventHandle>&, std::uint32_t timeoutMs)>;

    struct Dependencies {
        ShareFactory shareFactory;  // one share object per check
        CDetectFileResultSQLUtility& results;
        MessageSink& messageSink;
        NamedEvents& namedEvents;
        Clock& clock;
        std::string resultFolderPath;  // local copies go here; ends with '/'; "" unknown
        const SystemInfo& systemInfo;
        // Fill a record made on `profileStore`; 0 on success. Empty: the record's own Load.
        CommonSettingLoader loadCommonSetting;
        DetectFileSettingLoader loadDetectFileSetting;
        CProfileStore* profileStore;
    };

    // Indexes of the wait result: the order in which the events are opened.
    static constexpr std::uint32_t kWaitSettingChanged = 0;
    static constexpr std::uint32_t kWaitShutDown = 1;
    static constexpr std::uint32_t kWaitCheckNow = 2;  // "DetectFileResultNow": check at once
    // The interval when the detection settings cannot be read, in minutes.
    static constexpr int kDefaultIntervalMinutes = 10;

    // What SaveResult did with one local copy.
    enum SaveOutcome : int { kSaveStored = 0, kSaveFailed = 1, kSaveAlreadyStored = 2 };

    explicit CDetectFileResultCheck(Dependencies dependencies);

    void SetEventWaiter(EventWaiter waiter) { eventWaiter_ = std::move(waiter); }

    // The wait of an interval in minutes: interval x 60,000 ms. An interval below one minute
    // waits one minute (a wait of 0 would poll the device without a pause).
    std::uint32_t CalculateTimeout(int intervalMinutes) const;

    // One check of the device: 1 = at least one new result stored; 0 = nothing new and
    // nothing failed; -1 = no connection, the folder could not be read, or files were found
    // and none of them could be stored.
    int GetDetectFileResult(const std::string& address, const std::string& user,
                            const std::string& password);
    // Reads one local copy and stores it.
    SaveOutcome SaveResult(const std::string& localPath);
    // One pop-up request when `checkResult` is positive and `notify` is on.
    void NotifyResult(int checkResult, bool notify, int popupTimeout);

protected:
    int ThreadCore() override;

private:
    void OpenEvents(std::vector<EventHandle>& handles, bool reportMissing) const;
    int CheckDevice(const std::string& address, const std::string& user,
                    const std::string& password);
    // One result file found on the device (as the folder's listing showed it): copy, store,
    // delete. Sets the flags it concerns.
    void HandleResultFile(DeviceShare& share, const std::string& deviceFolder,
                          const ShareEntry& entry, bool& stored, bool& failed);
    // True when the device's file is still as listed before its copy (size and time) and the
    // local copy has that size: else the device was writing it, and it waits for the next look.
    bool IsCopyWhole(DeviceShare& share, const std::string& deviceFolder, const ShareEntry& listed,
                     const std::string& localPath);
    // True the first time `key` is reported: a file left on the device is met at every check,
    // its error line is written once.
    bool FirstReport(const std::string& key);

    ShareFactory shareFactory_;
    CDetectFileResultSQLUtility& results_;
    MessageSink& messageSink_;
    NamedEvents& namedEvents_;
    Clock& clock_;
    std::string resultFolderPath_;
    const SystemInfo& systemInfo_;
    CommonSettingLoader loadCommonSetting_;
    DetectFileSettingLoader loadDetectFileSetting_;
    CProfileStore* profileStore_;
    EventWaiter eventWaiter_;
    // Used by the checker thread only.
    std::set<std::string> reported_;
    bool shortIntervalReported_ = false;
    int storedCount_ = 0;  // new results of the current check
};

}  // namespace tessarine
