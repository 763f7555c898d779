#include "infra/log_setting.h"

#include "base/app_log.h"
#include "base/string_utility.h"
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
    // A missing file, a folder, an empty or malformed file all fail in one of these reads.
    std::string name;
    std::string value;
    if (!parse.SetupReadFromFile(settingFilePath) || !parse.SkipElements(1) ||
        !parse.ReadNextElement(&name, &value)) {
        setting.problem = "the file cannot be read";
        return setting;
    }
    setting.debug = name == kDebugElement && value == kDebugOn;

    // The second element is the size limit in MiB, whatever its name.
    if (!parse.ReadNextElement(&name, &value)) {
        setting.problem = "the size limit is missing";
        return setting;
    }
    const int maxSize = StringToInt(value);
    if (maxSize <= 0) {
        setting.problem = "the size limit \"" + value.substr(0, 32) + "\" is not a positive number";
        return setting;
    }
    setting.maxSizeMiB = maxSize;
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

void InitAppLog(const std::string& dataFolderPath, const std::string& executableTitle) {
    const std::string logFolder = dataFolderPath + "log/";
    const LogSetting setting = ReadLogSetting(logFolder + "setting.xml");
    CAppLog::Get().InitWith(logFolder, executableTitle, setting.debug,
                            static_cast<std::int64_t>(setting.maxSizeMiB) << 20);
    if (!setting.problem.empty()) {
        errno = EINVAL;
        LOG_ERROR(Format("Log Setting Unusable, %s. MaxSize:%d MiB Path:", setting.problem.c_str(),
                         setting.maxSizeMiB) +
                  logFolder + "setting.xml");
    }
}

}  // namespace tessarine
