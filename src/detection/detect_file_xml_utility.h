// The XML documents of designated-file detection: the device's detection setting, one detection
// result written by the device, and the file list that announces forwarded files to the device.
// Everything read here comes from the device and is treated as untrusted input.
#pragma once

#include <ctime>
#include <string>

#include "detection/detect_file_result.h"
#include "detection/detect_file_server_setting.h"
#include "infra/xml_parse.h"

namespace tessarine {

// The data folder's "detectfile/" folder; empty when the data folder is unknown.
std::string DefaultDetectFileFolderPath();

class CDetectFileXMLUtility : public CXMLParse {
public:
    // Exception codes, one per operation.
    enum : int {
        kReadServerSettingError = 0,
        kReadResultError = 1,
        kOpenFileListError = 2,
        kWriteFileDataError = 3,
        kCloseFileListError = 4,
    };

    static constexpr char kFileListName[] = "filelist";

    CDetectFileXMLUtility();
    explicit CDetectFileXMLUtility(std::string detectFileFolderPath);

    // Each operation returns 0 and throws CDetectFileXMLException with its code on failure.
    // Use one object per document.

    // Fills the record from the device's setting file. Extensions that name no plain extension
    // (empty, or holding a path separator or a control character) are left out with a log line.
    int ReadDetectFileServerSetting(const std::string& filePath, CDetectFileServerSetting* setting);
    // Fills the record from a local copy of a device result file. The details change only when
    // the whole document was read; a malformed or cut-off document is a failure.
    int ReadDetectFileResult(const std::string& filePath, CDetectFileResult* result);

    // The file list: OpenFileList, WriteFileData per listed file, CloseFileList. Nothing reaches
    // the file before CloseFileList.
    int OpenFileList(const std::string& computerName);
    int WriteFileData(const std::string& filePath, const std::string& fileName,
                      const std::string& transferName, std::time_t lastWriteTime);
    int CloseFileList();

    // "<detection folder>/filelist"; empty when the folder is unknown.
    std::string GetFileListPath() const;

private:
    std::string detectFileFolderPath_;
};

}  // namespace tessarine
