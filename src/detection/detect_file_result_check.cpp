#include "detection/detect_file_result_check.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <utility>

#include "base/app_log.h"
#include "base/string_utility.h"
#include "core/event_names.h"
#include "detection/detect_file_exceptions.h"
#include "detection/detect_file_xml_utility.h"
#include "detection/owner_only.h"
#include "infra/xml_parse.h"
#include "platform/worker_events.h"

namespace tessarine {

namespace {

// The events of the wait, in the order of the wait result.
constexpr std::array<std::string_view, 3> kCheckEvents = {
    kEventDetectFileSettingChanged, kEventDetectFileResultShutDown, kEventDetectFileResultNow};

constexpr char kDeviceResultFolder[] = "\\zereda\\import\\result\\";
constexpr char kResultExtension[] = ".xml";
// Characters a result name may hold between the underscore and ".xml".
constexpr std::size_t kMaxResultNameCharacters = 14;
constexpr std::uint32_t kMaxWaitMs = kInfinite - 1;

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

// Characters of UTF-8 text (bytes that do not continue a sequence).
std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

bool IsUnsafeInName(std::string_view name) {
    if (name.find("..") != std::string_view::npos) return true;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return true;
    }
    return false;
}

std::string Describe(const CAppException& e) {
    return e.GetErrorMessage() + " Code:" + IntToString(e.GetErrorCode());
}

}  // namespace

ResultFileName CheckResultFileName(std::string_view computerName, std::string_view name) {
    const std::size_t prefixSize = computerName.size() + 1;
    const std::size_t suffixSize = sizeof(kResultExtension) - 1;
    if (computerName.empty() || name.size() < prefixSize + suffixSize)
        return ResultFileName::kNotForThisPc;
    if (!EqualsIgnoringCase(name.substr(0, computerName.size()), computerName) ||
        name[computerName.size()] != '_' ||
        !EqualsIgnoringCase(name.substr(name.size() - suffixSize), kResultExtension))
        return ResultFileName::kNotForThisPc;
    const std::string_view middle = name.substr(prefixSize, name.size() - prefixSize - suffixSize);
    if (CharacterCount(middle) > kMaxResultNameCharacters) return ResultFileName::kNotForThisPc;
    if (IsUnsafeInName(name)) return ResultFileName::kRefused;
    return ResultFileName::kAccepted;
}

CDetectFileResultCheck::CDetectFileResultCheck(Dependencies dependencies)
    : shareFactory_(std::move(dependencies.shareFactory)),
      results_(dependencies.results),
      messageSink_(dependencies.messageSink),
      namedEvents_(dependencies.namedEvents),
      clock_(dependencies.clock),
      resultFolderPath_(std::move(dependencies.resultFolderPath)),
      systemInfo_(dependencies.systemInfo),
      loadCommonSetting_(std::move(dependencies.loadCommonSetting)),
      loadDetectFileSetting_(std::move(dependencies.loadDetectFileSetting)),
      profileStore_(dependencies.profileStore) {
    if (!loadCommonSetting_)
        loadCommonSetting_ = [](CCommonSetting& record) { return record.Load(); };
    if (!loadDetectFileSetting_)
        loadDetectFileSetting_ = [](CDetectFileSetting& record) { return record.Load(); };
    eventWaiter_ = [this](const std::vector<EventHandle>& handles, std::uint32_t timeoutMs) {
        return namedEvents_.WaitAny(handles, timeoutMs);
    };
}

std::uint32_t CDetectFileResultCheck::CalculateTimeout(int intervalMinutes) const {
    LOG_METHOD();
    const std::int64_t minutes = intervalMinutes < 1 ? 1 : intervalMinutes;
    const std::int64_t milliseconds = minutes * 60000;
    const std::uint32_t wait =
        milliseconds > kMaxWaitMs ? kMaxWaitMs : static_cast<std::uint32_t>(milliseconds);
    LOG_TRACE(" Wait(ms):" + ULongToString(wait));
    return wait;
}

void CDetectFileResultCheck::OpenEvents(std::vector<EventHandle>& handles,
                                        bool reportMissing) const {
    OpenWorkerEvents(namedEvents_, kCheckEvents, handles, reportMissing);
}

int CDetectFileResultCheck::ThreadCore() {
    LOG_BANNER("DetectFileResultCheck Start up");
    ThreadControlBlock* block = GetControlBlock();
    if (block == nullptr || block->stopRequested == nullptr || block->threadRunning == nullptr) {
        LOG_ERROR("Thread control block is not set.");
        LOG_BANNER("DetectFileResultCheck Finish");
        return 0;
    }
    block->threadRunning->store(1);

    std::vector<EventHandle> handles;
    OpenEvents(handles, true);

    std::uint32_t lastResult = kWaitSettingChanged;
    CEventWaitFailures waitFailures;
    for (;;) {
        if (IsStopRequested()) break;

        CDetectFileSetting detectSetting(profileStore_);
        if (loadDetectFileSetting_(detectSetting) != 0) {
            LOG_ERROR("Can't load DetectFileSetting. Interval:" +
                      IntToString(kDefaultIntervalMinutes));
            detectSetting.resultWatchInterval = kDefaultIntervalMinutes;
        }
        if (detectSetting.resultWatchInterval < 1) {
            if (!shortIntervalReported_) {
                LOG_ERROR("Invalid ResultWatchInterval:" +
                          IntToString(detectSetting.resultWatchInterval) + " Use: 1");
                shortIntervalReported_ = true;
            }
        } else {
            shortIntervalReported_ = false;
        }
        const std::uint32_t wait = CalculateTimeout(detectSetting.resultWatchInterval);

        if (lastResult == kWaitTimeout || lastResult == kWaitCheckNow) {
            CCommonSetting common(profileStore_);
            const int ret = loadCommonSetting_(common);
            if (ret != 0 || common.userName.empty()) {
                LOG_ERROR("CommonSetting Error. ret:" + IntToString(ret) +
                          " User:" + common.userName + " Password:" + kMaskedPassword);
            } else {
                const int checked =
                    GetDetectFileResult(common.ipv4Address, common.userName, common.userPassword);
                NotifyResult(checked, detectSetting.isNotifyDetectFileComplete,
                             common.popupTimeout);
            }
            if (IsStopRequested()) break;
        }

        lastResult = eventWaiter_(handles, wait);
        LOG_TRACE("Event:" + ULongToString(lastResult));
        if (waitFailures.Failed(lastResult, clock_)) OpenEvents(handles, false);
    }

    handles.clear();
    block->threadRunning->store(0);
    LOG_BANNER("DetectFileResultCheck Finish");
    return 0;
}

int CDetectFileResultCheck::GetDetectFileResult(const std::string& address, const std::string& user,
                                                const std::string& password) {
    LOG_METHOD();
    storedCount_ = 0;
    const int result = CheckDevice(address, user, password);
    // Always written: the end of every look shows in a log without debug lines.
    LOG_NOTICE("Detect File Result Check End. Result:" + IntToString(result) +
               " Stored:" + IntToString(storedCount_));
    return result;
}

int CDetectFileResultCheck::CheckDevice(const std::string& address, const std::string& user,
                                        const std::string& password) {
    std::unique_ptr<DeviceShare> share = shareFactory_ ? shareFactory_() : nullptr;
    if (!share) {
        LOG_ERROR("No Device Share");
        return -1;
    }
    const int connected = share->Connect(address, user, password);
    if (connected != kShareConnected && connected != kShareCredentialConflict) {
        LOG_ERROR_CODE(connected, "Connection Error. Address:" + address);
        return -1;
    }
    // The connection is this check's own and is dropped at its end, whatever happens.
    struct Disconnect {
        DeviceShare& share;
        const std::string& host;
        ~Disconnect() { share.Cancel(host); }
    } disconnect{*share, address};

    const std::string computerName = systemInfo_.ComputerName();
    if (computerName.empty()) {
        LOG_ERROR("Get Computer Name Error.");
        return -1;
    }
    const std::string deviceFolder = "\\\\" + address + kDeviceResultFolder;
    LOG_TRACE("Check:" + deviceFolder);
    const IoResult<std::vector<ShareEntry>> listed = share->List(deviceFolder, "*");
    if (!listed) {
        if (listed.error == ENOENT || listed.error == ENOTDIR) {
            LOG_TRACE("No result folder on the device.");
            return 0;
        }
        LOG_ERROR_CODE(listed.error, "Result Folder List Error. folder:" + deviceFolder);
        return -1;
    }

    bool stored = false;
    bool failed = false;
    for (const ShareEntry& entry : listed.value) {
        if (entry.isFolder) continue;
        switch (CheckResultFileName(computerName, entry.name)) {
            case ResultFileName::kNotForThisPc:
                continue;
            case ResultFileName::kRefused:
                if (FirstReport("refused:" + entry.name))
                    LOG_ERROR("Result File Name Refused. file:" + entry.name);
                continue;
            case ResultFileName::kAccepted:
                break;
        }
        if (IsStopRequested()) break;
        HandleResultFile(*share, deviceFolder, entry, stored, failed);
    }
    if (stored) return 1;
    return failed ? -1 : 0;
}

void CDetectFileResultCheck::HandleResultFile(DeviceShare& share, const std::string& deviceFolder,
                                              const ShareEntry& entry, bool& stored, bool& failed) {
    const std::string& name = entry.name;
    const std::string devicePath = deviceFolder + name;
    if (resultFolderPath_.empty()) {
        LOG_ERROR("File Copy Error. No local result folder. file:" + name);
        failed = true;
        return;
    }
    // The reader refuses a larger document anyway: it is not fetched at all.
    if (entry.size > CXMLParse::kMaxDocumentSize) {
        if (FirstReport("size:" + name))
            LOG_ERROR("Result File Too Large. file:" + name +
                      " size:" + std::to_string(entry.size) +
                      " limit:" + std::to_string(CXMLParse::kMaxDocumentSize));
        failed = true;
        return;
    }
    // The copies hold paths and detected text: the folder and each copy are the user's alone.
    if (const int error = MakeOwnerOnly(resultFolderPath_, true);
        error != 0 && FirstReport("folder mode"))
        LOG_ERROR_CODE(error, "Result Folder Mode Error. folder:" + resultFolderPath_);
    const std::string localPath = resultFolderPath_ + name;
    const ThreadControlBlock* block = GetControlBlock();
    const std::atomic<int>* cancel = block != nullptr ? block->stopRequested : nullptr;
    if (const IoStatus copied = share.CopyFromShare(devicePath, localPath, cancel); !copied) {
        LOG_ERROR_CODE(copied.error, "File Copy Error. file:" + name);
        failed = true;
        return;
    }
    if (const int error = MakeOwnerOnly(localPath, false); error != 0)
        LOG_ERROR_CODE(error, "Result Copy Mode Error. file:" + localPath);
    if (!IsCopyWhole(share, deviceFolder, entry, localPath)) return;
    const SaveOutcome saved = SaveResult(localPath);
    if (saved == kSaveFailed) {
        if (FirstReport("save:" + name)) {
            LOG_ERROR("Save Reusult Error. file:" + localPath);
        } else {
            LOG_TRACE("Save Reusult Error again. file:" + localPath);
        }
        failed = true;
        return;
    }
    if (const IoStatus deleted = share.DeleteFile(devicePath); !deleted) {
        LOG_ERROR_CODE(deleted.error, "File Delete Error. file:" + name);
    }
    if (saved == kSaveStored) {
        stored = true;
        ++storedCount_;
    } else {
        LOG_NOTICE("Result Already Stored. Deleted on the device. file:" + name);
    }
}

bool CDetectFileResultCheck::IsCopyWhole(DeviceShare& share, const std::string& deviceFolder,
                                         const ShareEntry& listed, const std::string& localPath) {
    const IoResult<std::vector<ShareEntry>> now = share.List(deviceFolder, listed.name);
    const auto same = std::find_if(now.value.begin(), now.value.end(), [&](const ShareEntry& e) {
        return e.name == listed.name && !e.isFolder;
    });
    std::error_code error;
    const std::uintmax_t localSize = std::filesystem::file_size(localPath, error);
    if (now && same != now.value.end() && same->size == listed.size &&
        same->lastWriteTime == listed.lastWriteTime && !error && localSize == listed.size)
        return true;
    LOG_NOTICE("Result File Changed While Copied. Left for the next check. file:" + listed.name);
    return false;
}

bool CDetectFileResultCheck::FirstReport(const std::string& key) {
    return reported_.insert(key).second;
}

CDetectFileResultCheck::SaveOutcome CDetectFileResultCheck::SaveResult(
    const std::string& localPath) {
    LOG_METHOD();
    try {
        CDetectFileResult record;
        CDetectFileXMLUtility reader;
        reader.ReadDetectFileResult(localPath, &record);
        switch (results_.StoreDetectFileResult(record)) {
            case CDetectFileResultSQLUtility::StoreOutcome::kStored:
                return kSaveStored;
            case CDetectFileResultSQLUtility::StoreOutcome::kAlreadyStored:
                return kSaveAlreadyStored;
            case CDetectFileResultSQLUtility::StoreOutcome::kConflict:
                if (FirstReport("conflict:" + localPath))
                    LOG_ERROR(
                        "Another Result Is Stored Under The Same Id. Id:" +
                        CDetectFileResultSQLUtility::MakeId(record.detectedTime, record.filePath));
                return kSaveFailed;
        }
    } catch (const CAppException& e) {
        LOG_ERROR(Describe(e));
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Exception ") + e.what());
    }
    return kSaveFailed;
}

void CDetectFileResultCheck::NotifyResult(int checkResult, bool notify, int popupTimeout) {
    LOG_METHOD();
    if (checkResult <= 0 || !notify) return;
    messageSink_.Post(BalloonRequest{kBalloonDetectFileResult, 0, popupTimeout});
}

}  // namespace tessarine
