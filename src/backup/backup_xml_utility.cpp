#include "backup/backup_xml_utility.h"

#include <sys/stat.h>

#include <cerrno>
#include <exception>
#include <string_view>

#include "backup/backup_exceptions.h"
#include "base/app_log.h"
#include "base/operation_failure.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "platform/app_paths.h"

namespace tessarine {

namespace {

constexpr char kBackupFolderName[] = "backup/";
constexpr char kClientResultFileName[] = "result.xml";
constexpr char kDetailResultFileName[] = "deteil_result.xml";
constexpr char kServerResultFileExtension[] = ".xml";

// Exception codes, one per operation.
constexpr int kCreateClientResultError = 0;
constexpr int kReadClientResultError = 1;
constexpr int kCreateServerResultError = 2;
constexpr int kCreateDetailResultError = 3;
constexpr int kReadDetailResultError = 4;

// Elements of the client result file.
constexpr char kClientResultElement[] = "clientresult";
constexpr char kStartDateElement[] = "start_date";
constexpr char kEndDateElement[] = "end_date";
constexpr char kResultElement[] = "result";
// Elements of the detail and server result files.
constexpr char kBackupResultElement[] = "backupresult";
constexpr char kExecuteCountElement[] = "execute_count";
constexpr char kSuccessCountElement[] = "success_count";
constexpr char kDataElement[] = "data";
constexpr char kPathElement[] = "path";
constexpr char kComputerElement[] = "pc";
constexpr char kDateElement[] = "date";
constexpr char kBackupSourceElement[] = "backup_src";
constexpr char kBackupDestinationElement[] = "backup_dst";
constexpr char kFileCountElement[] = "file_count";
constexpr char kServerResultText[] = "1";

std::string WithTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// The backup folder is created when the data folder exists but the folder itself went missing,
// so a run can still leave its result files.
void EnsureFolder(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0) return;
    const int savedErrno = errno;
    if (::mkdir(folder.c_str(), 0755) == 0) return;
    errno = savedErrno;
}

// A name from the system that must not reach into other folders.
bool IsPlainFileNamePart(const std::string& part) {
    return !part.empty() && part.find('/') == std::string::npos && part != "." && part != "..";
}

// A failed step of an operation: its error line, then CBackupXMLException(code).
[[noreturn]] void Fail(std::string_view message, int code,
                       const SourceLocation& where = SourceLocation::current()) {
    FailOperation<CBackupXMLException>(message, code, where);
}

}  // namespace

std::string DefaultBackupFolderPath() {
    const std::string dataFolder = GetDataFolderPath();
    if (dataFolder.empty()) return std::string();
    return Format("%s%s", WithTrailingSlash(dataFolder).c_str(), kBackupFolderName);
}

CBackupXMLUtility::CBackupXMLUtility()
    : CBackupXMLUtility(DefaultBackupFolderPath(), DefaultSystemInfo()) {}

CBackupXMLUtility::CBackupXMLUtility(std::string backupFolderPath, const SystemInfo& systemInfo)
    : backupFolderPath_(WithTrailingSlash(std::move(backupFolderPath))), systemInfo_(systemInfo) {}

int CBackupXMLUtility::CreateClientResultFile(std::time_t start, std::time_t end, int resultCode) {
    LOG_METHOD();
    LOG_TRACE("PARAM:" + ToTimeStamp(start) + ", " + ToTimeStamp(end) + ", " +
              IntToString(resultCode));
    constexpr int kCode = kCreateClientResultError;
    try {
        Release();
        if (backupFolderPath_.empty()) Fail("Get Folder Path Error.", kCode);
        EnsureFolder(backupFolderPath_);
        const std::string path = backupFolderPath_ + kClientResultFileName;
        if (!SetupWriteToFile(path)) {
            Fail("Setup Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteStartElement(kClientResultElement)) {
            Fail("Write First Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kStartDateElement, ToTimeStamp(start))) {
            Fail("Write StartDate Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kEndDateElement, ToTimeStamp(end))) {
            Fail("Write EndDate Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kResultElement, IntToString(resultCode))) {
            Fail("Write Result Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteEndElement()) {
            Fail("Write End Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!Flush()) Fail("Flush Error. code:" + IntToString(GetLastError()), kCode);
    } catch (...) {
        RethrowAsOperationFailure<CBackupXMLException>(kCode);
    }
    return 0;
}

int CBackupXMLUtility::ReadClientResultFile(std::string* start, std::string* end, int* resultCode) {
    LOG_METHOD();
    constexpr int kCode = kReadClientResultError;
    try {
        Release();
        if (start == nullptr || end == nullptr || resultCode == nullptr) {
            Fail("Invalid Parameter", kCode);
        }
        if (backupFolderPath_.empty()) Fail("Get Folder Path Error.", kCode);
        if (!SetupReadFromFile(backupFolderPath_ + kClientResultFileName)) {
            Fail("Setup Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!SkipElements(1)) Fail("Skip <clientresult> element Error", kCode);

        std::string name;
        std::string startText;
        std::string endText;
        std::string resultText;
        if (!ReadNextElement(&name, &startText) || name != kStartDateElement) {
            Fail("Read <start_date> element Error. Element:" + name, kCode);
        }
        name.clear();
        if (!ReadNextElement(&name, &endText) || name != kEndDateElement) {
            Fail("Read <end_date> element Error. Element:" + name, kCode);
        }
        name.clear();
        if (!ReadNextElement(&name, &resultText) || name != kResultElement) {
            Fail("Read <result> element Error. Element:" + name, kCode);
        }
        // The outputs change only when the whole file was read.
        *start = startText;
        *end = endText;
        *resultCode = StringToInt(resultText);
        LOG_TRACE("Start:" + *start + " End:" + *end + " Result:" + IntToString(*resultCode));
    } catch (...) {
        RethrowAsOperationFailure<CBackupXMLException>(kCode);
    }
    return 0;
}

int CBackupXMLUtility::CreateServerResultFile(std::time_t end, const BackupFolderPairs* pairs,
                                              std::uint32_t successCount) {
    LOG_METHOD();
    LOG_TRACE("PARAM:" + ToTimeStamp(end) + ", " + ULongToString(successCount));
    constexpr int kCode = kCreateServerResultError;
    try {
        Release();
        if (pairs == nullptr) Fail("Parameter Error", kCode);
        const std::string computerName = systemInfo_.ComputerName();
        if (!IsPlainFileNamePart(computerName)) Fail("Get Computer Name Error", kCode);
        const std::string userName = systemInfo_.UserName();
        if (!IsPlainFileNamePart(userName)) Fail("Get User Name Error", kCode);
        if (backupFolderPath_.empty()) Fail("Get Folder Path Error.", kCode);
        EnsureFolder(backupFolderPath_);

        serverResultFileName_ =
            Format("%s_%s%s", computerName.c_str(), userName.c_str(), kServerResultFileExtension);
        serverResultFilePath_ = backupFolderPath_ + serverResultFileName_;
        LOG_TRACE("Server Result File:" + serverResultFilePath_);

        if (!SetupWriteToFile(serverResultFilePath_)) {
            Fail("Setup Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteStartElement(kBackupResultElement)) {
            Fail("Write First Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kComputerElement, computerName)) {
            Fail("Write ComputerName Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kDateElement, ToTimeStamp(end))) {
            Fail("Write EndDate Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (WriteBackupFolderPathSetting(*pairs, true) != 0) {
            Fail("Write Backup Source Path Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (WriteBackupFolderPathSetting(*pairs, false) != 0) {
            Fail("Write Backup Destination Path Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kFileCountElement, ULongToString(successCount))) {
            Fail("Write File Count Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kResultElement, kServerResultText)) {
            Fail("Write Result Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteEndElement()) {
            Fail("Write End Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!Flush()) Fail("Flush Error. code:" + IntToString(GetLastError()), kCode);
    } catch (...) {
        RethrowAsOperationFailure<CBackupXMLException>(kCode);
    }
    return 0;
}

int CBackupXMLUtility::WriteBackupFolderPathSetting(const BackupFolderPairs& pairs, bool sources) {
    LOG_METHOD();
    if (!WriteStartElement(sources ? kBackupSourceElement : kBackupDestinationElement)) {
        LOG_ERROR("Write BackupSrc/Dst Error. code:" + IntToString(GetLastError()));
        return -1;
    }
    if (!WriteStartElement(kDataElement)) {
        LOG_ERROR("Write Data Error. code:" + IntToString(GetLastError()));
        return -1;
    }
    for (const BackupFolderPair& pair : pairs) {
        // The configured pairs are the leading ones; an empty source ends them.
        if (pair.source.empty()) break;
        // An empty destination is refused by the writer and fails the whole file.
        if (!WriteElementAndText(kPathElement, sources ? pair.source : pair.destination)) {
            LOG_ERROR("Write Path Error. code:" + IntToString(GetLastError()));
            return -1;
        }
    }
    if (!WriteEndElement() || !WriteEndElement()) {
        LOG_ERROR("Write End Element Error. code:" + IntToString(GetLastError()));
        return -1;
    }
    return 0;
}

int CBackupXMLUtility::CreateDetailResultFile(const BackupErrorList& list) {
    LOG_METHOD();
    LOG_TRACE(Format("PARAM:%d, %d, %zu", list.executeCount, list.successCount, list.paths.size()));
    constexpr int kCode = kCreateDetailResultError;
    try {
        Release();
        // Without the folder the file name alone would land in the working folder.
        if (backupFolderPath_.empty()) Fail("Get Folder Path Error.", kCode);
        EnsureFolder(backupFolderPath_);
        if (!SetupWriteToFile(backupFolderPath_ + kDetailResultFileName)) {
            Fail("Setup Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteStartElement(kBackupResultElement)) {
            Fail("Write Backup Result Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kExecuteCountElement, IntToString(list.executeCount))) {
            Fail("Write Execute Count Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kSuccessCountElement, IntToString(list.successCount))) {
            Fail("Write Success Count Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        for (const std::string& path : list.paths) {
            if (!WriteStartElement(kDataElement)) {
                Fail("Write Data Element Error. code:" + IntToString(GetLastError()), kCode);
            }
            if (!WriteElementAndText(kPathElement, path)) {
                Fail("Write Path Element Error. code:" + IntToString(GetLastError()), kCode);
            }
            if (!WriteEndElement()) {
                Fail("Write Data End Element Error. code:" + IntToString(GetLastError()), kCode);
            }
        }
        if (!WriteEndElement()) {
            Fail("Write Error Info End Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!Flush()) Fail("Flush Error. code:" + IntToString(GetLastError()), kCode);
    } catch (...) {
        RethrowAsOperationFailure<CBackupXMLException>(kCode);
    }
    return 0;
}

int CBackupXMLUtility::ReadDetailResult(BackupErrorList* list) {
    LOG_METHOD();
    constexpr int kCode = kReadDetailResultError;
    try {
        Release();
        if (list == nullptr) Fail("Invalid Parameter", kCode);
        // A broken file shows as an empty result, never as half of one.
        list->Clear();
        if (backupFolderPath_.empty()) Fail("Get Folder Path Error.", kCode);
        const std::string path = backupFolderPath_ + kDetailResultFileName;
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            LOG_TRACE("No Backup Error Info File:" + path);
            return -1;
        }
        if (!SetupReadFromFile(path)) Fail("Backup Error Info File Read Error", kCode);
        if (!SkipElements(1)) Fail("Skip <backupresult> element Error", kCode);

        BackupErrorList read;
        read.capacity = list->capacity;
        std::string name;
        std::string value;
        if (!ReadNextElement(&name, &value) || name != kExecuteCountElement) {
            Fail("Read <execute_count> element Error. Element:" + name, kCode);
        }
        read.executeCount = StringToInt(value);
        name.clear();
        if (!ReadNextElement(&name, &value) || name != kSuccessCountElement) {
            Fail("Read <success_count> element Error. Element:" + name, kCode);
        }
        read.successCount = StringToInt(value);

        // Each further element is a "data" holding one "path"; the list keeps every path read,
        // beyond its capacity too.
        while (SkipElements(1)) {
            name.clear();
            if (!ReadNextElement(&name, &value) || name != kPathElement) {
                Fail("Read <path> element Error. Element:" + name, kCode);
            }
            read.paths.push_back(value);
        }
        if (!IsEndOfDocument()) {
            // A cut or damaged file must not pass for a complete one.
            Fail("Read <data> element Error. code:" + IntToString(GetLastError()), kCode);
        }
        *list = std::move(read);
        LOG_TRACE(Format("Execute:%d Success:%d Paths:%zu", list->executeCount, list->successCount,
                         list->paths.size()));
    } catch (...) {
        RethrowAsOperationFailure<CBackupXMLException>(kCode);
    }
    return 0;
}

}  // namespace tessarine
