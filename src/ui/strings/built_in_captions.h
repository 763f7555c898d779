// The built-in captions of every dialog, page, tab and menu item: what each control shows when
// no string container replaces it. A dialog's own id names its title (or its tab title, for a
// page shown in a tab).
#pragma once

#include <span>

namespace tessarine::ui {

struct BuiltInCaption {
    unsigned dialog;   // DialogId of the template (kMenuTray for the tray menu)
    unsigned control;  // control or command id; the dialog id itself for its title
    const char* text;  // UTF-8, access keys marked with "&"
};

// Every caption, grouped by dialog.
std::span<const BuiltInCaption> BuiltInCaptions();
// The caption of `control` in `dialog`; null when the dialog has none for it.
const char* FindBuiltInCaption(unsigned dialog, unsigned control);

}  // namespace tessarine::ui
