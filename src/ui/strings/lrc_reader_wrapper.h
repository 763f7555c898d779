// The text lookup every window uses: a scope object that loads the string container beside the
// executable ("TessarineTool.lrc") when it is made, so a replaced file takes effect at the next
// lookup. Each wrapper owns the container it loaded, so wrappers on different threads never
// share one.
//
//   CLrcReaderWrapper strings;
//   setWindowTitle(QString::fromStdString(strings.Text(kStrSettingTitle)));      // "設定"
//   box->setText(QString::fromStdString(strings.Caption(kDlgCommonSetting, 1007)));
#pragma once

#include <string>

#include "ui/strings/lrc_reader.h"

namespace tessarine::ui {

class CLrcReaderWrapper {
public:
    // The container beside the running executable, checked against the desktop's fonts.
    CLrcReaderWrapper();
    // The container at `path`; `hasFont` decides whether its character set can be shown.
    explicit CLrcReaderWrapper(const std::string& path, CharsetFontCheck hasFont);
    ~CLrcReaderWrapper();
    CLrcReaderWrapper(const CLrcReaderWrapper&) = delete;
    CLrcReaderWrapper& operator=(const CLrcReaderWrapper&) = delete;

    // The container's display text of `id`, else the string table's text, else "".
    std::string Text(unsigned id) const;
    // The caption of a control (or a dialog's title or tab title when `control` is the dialog
    // id): the container's text of `control`, else the string table's, else the dialog's
    // built-in caption, else "". A missing container never empties a caption.
    std::string Caption(unsigned dialog, unsigned control) const;

    bool HasContainer() const { return reader_.IsLoaded(); }
    LrcError LoadResult() const { return loadResult_; }

    // "<executable folder>/<executable title>.lrc"; empty when the executable is unknown.
    static std::string ContainerPath();

private:
    void Load(const std::string& path);

    CLrcReader reader_;
    LrcError loadResult_ = LrcError::kMissing;
};

// One lookup with a wrapper of its own (reads the container once per call).
std::string LoadText(unsigned id);

}  // namespace tessarine::ui
