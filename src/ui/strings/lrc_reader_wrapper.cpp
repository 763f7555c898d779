#include "ui/strings/lrc_reader_wrapper.h"

#include "base/app_log.h"
#include "base/string_utility.h"
#include "platform/app_paths.h"
#include "ui/strings/built_in_captions.h"
#include "ui/strings/display_font.h"
#include "ui/strings/string_table.h"

namespace tessarine::ui {

CLrcReaderWrapper::CLrcReaderWrapper() : reader_(HasDisplayFontForCharset) {
    Load(ContainerPath());
}

CLrcReaderWrapper::CLrcReaderWrapper(const std::string& path, CharsetFontCheck hasFont)
    : reader_(std::move(hasFont)) {
    Load(path);
}

CLrcReaderWrapper::~CLrcReaderWrapper() = default;

void CLrcReaderWrapper::Load(const std::string& path) {
    if (path.empty()) {
        loadResult_ = LrcError::kMissing;
        return;
    }
    loadResult_ = reader_.Load(path);
    if (loadResult_ == LrcError::kMissing) {
        LOG_TRACE("No string container: " + path);
    } else if (loadResult_ != LrcError::kNone) {
        // The built-in texts stand in; the user is not told, the log says why.
        LOG_NOTICE("String container ignored (" + std::string(DescribeLrcError(loadResult_)) +
                   "): " + path);
    }
}

std::string CLrcReaderWrapper::Text(unsigned id) const {
    if (const LrcEntry* entry = reader_.Find(id)) return WideToUtf8(MakeDisplayText(*entry));
    const char* text = FindStringTableText(id);
    return text ? text : "";
}

std::string CLrcReaderWrapper::Caption(unsigned dialog, unsigned control) const {
    if (const LrcEntry* entry = reader_.Find(control)) {
        return WideToUtf8(MakeDisplayText(*entry));
    }
    if (const char* text = FindStringTableText(control)) return text;
    const char* caption = FindBuiltInCaption(dialog, control);
    return caption ? caption : "";
}

std::string CLrcReaderWrapper::ContainerPath() {
    const std::string executable = GetExecutablePath();
    const std::string title = GetExecutableTitle();
    if (executable.empty() || title.empty()) return "";
    const std::size_t slash = executable.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : executable.substr(0, slash);
    return folder + "/" + title + ".lrc";
}

std::string LoadText(unsigned id) { return CLrcReaderWrapper().Text(id); }

}  // namespace tessarine::ui
