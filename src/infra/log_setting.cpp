#include "infra/log_setting.h"

#include <algorithm>

#include "infra/app_log.h"
#include "infra/string_utility.h"
#include "infra/xml_parse.h"

namespace tessarine {

namespace {

constexpr char kSettingFileName[] = "setting.xml";
constexpr char kRootElement[] = "log";
constexpr char kDebugElement[] = "debug";
constexpr char kMaxSizeElement[] = "max_size";
constexpr char kDebugOn[] = "TRUE";
constexpr char kDefaultDebug[] = "FALSE";
constexpr char kDefaultMaxSize[] = "10";
constexpr unsigned kSettingFileMode = 0600;

}  // namespace

LogSetting ReadLogSetting(const std::string& settingFilePath) {
    LogSetting setting;
    CXMLParse parse;
    if (!parse.SetupReadFromFile(settingFilePath)) return setting;
    // Steps over the root element's start.
    if (!parse.SkipElements(1)) return setting;

    std::string name;
    std::string value;
    if (!parse.ReadNextElement(&name, &value)) return setting;
    setting.debug = name == kDebugElement && value == kDebugOn;

    // The second element is the size limit in MiB, whatever its name.
    if (!parse.ReadNextElement(&name, &value)) return setting;
    // A negative size makes no sense as a limit; it counts as no number.
    setting.maxSizeMiB = std::max(StringToInt(value), 0);
    return setting;
}

bool CreateDefaultLogSetting(const std::string& logFolderPath) {
    LOG_METHOD();
    if (logFolderPath.empty()) {
        LOG_ERROR("Log Folder Path is Empty");
        return false;
    }
    std::string path = logFolderPath;
    if (path.back() != '/') path += '/';
    path += kSettingFileName;

    CXMLParse parse;
    const bool written = parse.SetupWriteToFile(path, kSettingFileMode) &&
                         parse.WriteStartElement(kRootElement) &&
                         parse.WriteElementAndText(kDebugElement, kDefaultDebug) &&
                         parse.WriteElementAndText(kMaxSizeElement, kDefaultMaxSize) &&
                         parse.WriteEndElement() && parse.Flush();
    if (!written) {
        LOG_ERROR(Format("Create Log Setting Error. code:%d path:%s", parse.GetLastError(),
                         path.c_str()));
    }
    return written;
}

}  // namespace tessarine
