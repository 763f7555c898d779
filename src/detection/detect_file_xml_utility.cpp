#include "detection/detect_file_xml_utility.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "base/app_log.h"
#include "base/operation_failure.h"
#include "base/string_utility.h"
#include "base/time_utility.h"
#include "detection/detect_file_exceptions.h"
#include "platform/app_paths.h"

namespace tessarine {

namespace {

constexpr char kDetectFileFolderName[] = "detectfile/";

// The detection setting.
constexpr char kEnableElement[] = "enable";
constexpr char kEnableOnText[] = "on";
constexpr char kTimestampElement[] = "timestamp";
constexpr char kDataElement[] = "data";
constexpr char kMaxFileSizeElement[] = "maxfilesize";
// A detection result.
constexpr char kFileElement[] = "file";
constexpr char kPathElement[] = "path";
constexpr char kNameElement[] = "name";
constexpr char kCountElement[] = "count";
constexpr char kTextElement[] = "text";
// The file list.
constexpr char kFileListElement[] = "filelist";
constexpr char kComputerElement[] = "pc";
constexpr char kTransferNameElement[] = "transfername";

// The file list names the user's files: it is kept private like the database.
constexpr unsigned kFileListMode = 0600;

// A device that sends a flood of unknown elements must not flood the log with them.
constexpr int kMaxUnexpectedElementLines = 100;

std::string WithTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// The detection folder is made again when it went missing after start-up.
void EnsureFolder(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0) return;
    const int savedErrno = errno;
    if (::mkdir(folder.c_str(), 0755) == 0) return;
    errno = savedErrno;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The number a device text stands for, read the way the device's documents have always been
// read: base 10 after leading blanks and an optional sign, up to the first character that is
// not a digit; 0 without digits; a value beyond the range of a 32-bit long is clamped to it.
std::int32_t ToLong(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    std::int64_t magnitude = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[pos] - '0'), kLimit);
    }
    if (negative) return static_cast<std::int32_t>(-magnitude);
    return static_cast<std::int32_t>(std::min<std::int64_t>(magnitude, INT32_MAX));
}

// True for a C0 or C1 control character or DEL starting at text[pos] (UTF-8).
bool IsControlAt(std::string_view text, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x20 || byte == 0x7F) return true;
    return byte == 0xC2 && pos + 1 < text.size() &&
           static_cast<unsigned char>(text[pos + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[pos + 1]) <= 0x9F;
}

// Why an extension from the device cannot be used; nullptr when it can.
const char* ExtensionFault(std::string_view extension) {
    if (extension.empty()) return "empty";
    for (std::size_t pos = 0; pos < extension.size(); ++pos) {
        if (extension[pos] == '/' || extension[pos] == '\\') return "path separator";
        if (IsControlAt(extension, pos)) return "control character";
    }
    return nullptr;
}

// The text with control characters shown as \xNN, for a log line.
std::string Printable(std::string_view text) {
    std::string shown;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (IsControlAt(text, pos)) {
            shown += Format("\\x%02X", static_cast<unsigned char>(text[pos]));
        } else {
            shown += text[pos];
        }
    }
    return shown;
}

// A failed step of an operation: its error line, then CDetectFileXMLException(code).
[[noreturn]] void Fail(std::string_view message, int code,
                       const SourceLocation& where = SourceLocation::current()) {
    FailOperation<CDetectFileXMLException>(message, code, where);
}

}  // namespace

std::string DefaultDetectFileFolderPath() {
    const std::string dataFolder = GetDataFolderPath();
    if (dataFolder.empty()) return std::string();
    return WithTrailingSlash(dataFolder) + kDetectFileFolderName;
}

CDetectFileXMLUtility::CDetectFileXMLUtility()
    : CDetectFileXMLUtility(DefaultDetectFileFolderPath()) {}

CDetectFileXMLUtility::CDetectFileXMLUtility(std::string detectFileFolderPath)
    : detectFileFolderPath_(WithTrailingSlash(std::move(detectFileFolderPath))) {}

std::string CDetectFileXMLUtility::GetFileListPath() const {
    if (detectFileFolderPath_.empty()) return std::string();
    return detectFileFolderPath_ + kFileListName;
}

int CDetectFileXMLUtility::ReadDetectFileServerSetting(const std::string& filePath,
                                                       CDetectFileServerSetting* setting) {
    LOG_METHOD();
    LOG_TRACE("Param:" + filePath);
    constexpr int kCode = kReadServerSettingError;
    try {
        Release();
        if (setting == nullptr) Fail("Invalid Parameter", kCode);
        if (!SetupReadFromFile(filePath)) {
            Fail("Detect File Server Setting Read Error", kCode);
        }
        if (!SkipElements(1)) Fail("Skip <setting> element Error", kCode);

        std::string name;
        std::string value;
        if (!ReadNextElement(&name, &value) || name != kEnableElement) {
            Fail("Read <enable> element Error. Element:" + name, kCode);
        }
        setting->enabled = value == kEnableOnText ? 1 : 0;
        name.clear();
        if (!ReadNextElement(&name, &value) || name != kTimestampElement) {
            Fail("Read <timestamp> element Error. Element:" + name, kCode);
        }
        setting->timestamp = value;
        SkipElements(1);  // the container of the extensions, whatever its name

        std::vector<std::string> extensions;
        int unexpectedLines = 0;
        for (;;) {
            name.clear();
            // The end of the document before maxfilesize: ReadNextElement logged it.
            if (!ReadNextElement(&name, &value)) throw CDetectFileXMLException(kCode);
            if (name == kDataElement) {
                if (const char* fault = ExtensionFault(value)) {
                    LOG_NOTICE(Format("Extension Ignored (%s):", fault) + Printable(value));
                } else {
                    extensions.push_back(value);
                }
            } else if (name == kMaxFileSizeElement) {
                setting->maximumSize = static_cast<std::uint32_t>(ToLong(value));
                setting->extensions = std::move(extensions);
                LOG_TRACE(Format("Enabled:%d MaxFileSize:%u Extensions:%zu", setting->enabled,
                                 setting->maximumSize, setting->extensions.size()));
                return 0;
            } else if (++unexpectedLines <= kMaxUnexpectedElementLines) {
                LOG_ERROR("UnExpected Element:" + name);
            } else if (unexpectedLines == kMaxUnexpectedElementLines + 1) {
                LOG_ERROR("More unexpected elements follow; they are not logged");
            }
        }
    } catch (...) {
        RethrowAsOperationFailure<CDetectFileXMLException>(kCode);
    }
}

int CDetectFileXMLUtility::ReadDetectFileResult(const std::string& filePath,
                                                CDetectFileResult* result) {
    LOG_METHOD();
    LOG_TRACE("Param:" + filePath);
    constexpr int kCode = kReadResultError;
    try {
        Release();
        if (result == nullptr) Fail("Invalid Parameter", kCode);
        if (!SetupReadFromFile(filePath)) Fail("Detect File Result Read Error", kCode);
        if (!SkipElements(1)) Fail("Skip <detectresult> element Error", kCode);

        std::string name;
        std::string value;
        // The next element, which must be `element`; its text, or a failure with the error line.
        const auto readRequired = [&](const char* element) -> const std::string& {
            name.clear();
            if (!ReadNextElement(&name, &value) || name != element) {
                Fail(Format("Read <%s> element Error. Element:", element) + name, kCode);
            }
            return value;
        };
        result->fileName = readRequired(kFileElement);
        result->filePath = readRequired(kPathElement);
        result->detectedTime = readRequired(kTimestampElement);
        SkipElements(1);  // the container of the groups

        std::vector<DetectFileResultDetailData> details;
        for (;;) {
            if (!SkipElements(1)) {
                // No further group. A document that breaks off is not a complete result: it
                // stays on the device to be read again rather than being stored in part.
                if (!IsEndOfDocument()) {
                    Fail("Detect File Result Read Error. Document is malformed", kCode);
                }
                result->details = std::move(details);
                LOG_TRACE(Format("Details:%zu", result->details.size()));
                return 0;
            }
            const std::string category = readRequired(kNameElement);
            const std::int32_t count = ToLong(readRequired(kCountElement));
            SkipElements(1);  // the container of the hits, there even when count is 0
            for (std::int32_t i = 0; i < count; ++i) {
                details.push_back({category, readRequired(kTextElement)});
            }
        }
    } catch (...) {
        RethrowAsOperationFailure<CDetectFileXMLException>(kCode);
    }
}

int CDetectFileXMLUtility::OpenFileList(const std::string& computerName) {
    LOG_METHOD();
    constexpr int kCode = kOpenFileListError;
    try {
        Release();
        const std::string path = GetFileListPath();
        if (path.empty()) Fail("Get Folder Path Error.", kCode);
        EnsureFolder(detectFileFolderPath_);
        if (!SetupWriteToFile(path, kFileListMode)) {
            Fail("Setup Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteStartElement(kFileListElement)) {
            Fail("Write First Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kComputerElement, computerName)) {
            Fail("Write PC Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteStartElement(kFileElement)) {
            Fail("Write Second Element Error. code:" + IntToString(GetLastError()), kCode);
        }
    } catch (...) {
        RethrowAsOperationFailure<CDetectFileXMLException>(kCode);
    }
    return 0;
}

int CDetectFileXMLUtility::WriteFileData(const std::string& filePath, const std::string& fileName,
                                         const std::string& transferName,
                                         std::time_t lastWriteTime) {
    LOG_METHOD();
    const std::string timestamp = ToTimeStamp(lastWriteTime);
    LOG_TRACE("Param:" + filePath + ", " + fileName + ", " + transferName + ", " + timestamp);
    constexpr int kCode = kWriteFileDataError;
    try {
        if (!WriteStartElement(kDataElement)) {
            Fail("Write Data Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kNameElement, fileName)) {
            Fail("Write Name Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kTransferNameElement, transferName)) {
            Fail("Write TransferName Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kPathElement, filePath)) {
            Fail("Write Path Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteElementAndText(kTimestampElement, timestamp)) {
            Fail("Write TimeStamp Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteEndElement()) {
            Fail("Write End Element Error. code:" + IntToString(GetLastError()), kCode);
        }
    } catch (...) {
        RethrowAsOperationFailure<CDetectFileXMLException>(kCode);
    }
    return 0;
}

int CDetectFileXMLUtility::CloseFileList() {
    LOG_METHOD();
    constexpr int kCode = kCloseFileListError;
    try {
        if (!WriteEndElement()) {
            Fail("Write File End Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!WriteEndElement()) {
            Fail("Write FileList End Element Error. code:" + IntToString(GetLastError()), kCode);
        }
        if (!Flush()) Fail("Flush Error. code:" + IntToString(GetLastError()), kCode);
    } catch (...) {
        RethrowAsOperationFailure<CDetectFileXMLException>(kCode);
    }
    return 0;
}

}  // namespace tessarine
