#include "backup/failure_reason_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine {
namespace {

constexpr char kFileName[] = "failure_reasons.xml";
constexpr char kRootElement[] = "failurereasons";
constexpr char kExecuteCountElement[] = "execute_count";
constexpr char kSuccessCountElement[] = "success_count";
constexpr char kPathElement[] = "path";
constexpr char kReasonElement[] = "reason";
constexpr char kDetailElement[] = "detail";

FailureReason ToReason(const std::string& text) {
    const int value = StringToInt(text);
    if (value < 0 || value > kLastFailureReason) return FailureReason::kUnknown;
    return static_cast<FailureReason>(value);
}

}  // namespace

CFailureReasonFile::CFailureReasonFile(std::string backupFolderPath)
    : backupFolderPath_(std::move(backupFolderPath)) {}

std::string CFailureReasonFile::Path() const { return backupFolderPath_ + kFileName; }

bool CFailureReasonFile::Remove() {
    if (backupFolderPath_.empty()) return true;
    if (::unlink(Path().c_str()) == 0 || errno == ENOENT) return true;
    LOG_ERROR("Remove Error. file:" + Path());
    return false;
}

bool CFailureReasonFile::Write(const BackupErrorList& list) {
    LOG_METHOD();
    if (backupFolderPath_.empty()) return false;
    try {
        Release();
        bool ok = SetupWriteToFile(Path()) && WriteStartElement(kRootElement) &&
                  WriteElementAndText(kExecuteCountElement, IntToString(list.executeCount)) &&
                  WriteElementAndText(kSuccessCountElement, IntToString(list.successCount));
        for (const BackupFailure& failure : list.failures) {
            if (!ok) break;
            ok = WriteElementAndText(kPathElement, failure.path) &&
                 WriteElementAndText(kReasonElement,
                                     IntToString(static_cast<int>(failure.reason))) &&
                 (failure.detail.empty() || WriteElementAndText(kDetailElement, failure.detail));
        }
        ok = ok && WriteEndElement() && Flush();
        Release();
        if (!ok) {
            LOG_ERROR("Write Error. code:" + IntToString(GetLastError()) + " file:" + Path());
            Remove();
        }
        return ok;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        Release();
        Remove();
        return false;
    }
}

bool CFailureReasonFile::Read(BackupErrorList& list) {
    LOG_METHOD();
    if (backupFolderPath_.empty()) return false;
    struct stat status {};
    if (::stat(Path().c_str(), &status) != 0) return false;
    try {
        Release();
        if (!SetupReadFromFile(Path()) || !SkipElements(1)) {
            LOG_ERROR("Read Error. code:" + IntToString(GetLastError()) + " file:" + Path());
            return false;
        }
        BackupErrorList read;
        std::string name;
        std::string value;
        bool counted = ReadNextElement(name, value) && name == kExecuteCountElement;
        read.executeCount = StringToInt(value);
        counted = counted && ReadNextElement(name, value) && name == kSuccessCountElement;
        read.successCount = StringToInt(value);
        bool ok = counted;
        while (ok && ReadNextElement(name, value)) {
            if (name == kPathElement) {
                read.failures.push_back(BackupFailure{value, FailureReason::kUnknown, {}});
            } else if (read.failures.empty()) {
                ok = false;
            } else if (name == kReasonElement) {
                read.failures.back().reason = ToReason(value);
            } else if (name == kDetailElement) {
                read.failures.back().detail = value;
            }  // an element a later version adds is passed over
        }
        // A cut or damaged file must not pass for a complete one.
        ok = ok && IsEndOfDocument();
        Release();
        if (!ok) {
            LOG_ERROR("Broken File. code:" + IntToString(GetLastError()) + " file:" + Path());
            return false;
        }
        list.executeCount = read.executeCount;
        list.successCount = read.successCount;
        list.failures = std::move(read.failures);
        return true;
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
        Release();
        return false;
    }
}

}  // namespace tessarine
