// Puts the captions of a dialog on its widgets: every control whose object name is "ctl<id>"
// gets the caption of its id, and every window and control an accessible name from its caption
// (without the access-key marks), so screen readers and tests find it by what it says.
#pragma once

#include <QString>

class QWidget;

namespace tessarine::ui {

class CLrcReaderWrapper;

// "ctl1007" for control 1007: the object name a control of the dialogs carries.
QString ControlObjectName(unsigned controlId);
// The control id in an object name "ctl<id>"; 0 when the name has another form.
unsigned ControlIdOf(const QString& objectName);

// A caption as a screen reader should say it: "(&E)" and "（&E）" dropped, "&&" read as "&",
// other "&" marks removed, blanks around the result trimmed.
QString AccessibleNameOf(const QString& caption);

// Sets the text (buttons, labels) or title (group boxes) of every "ctl<id>" descendant of
// `root` to its caption in `dialog`, and its accessible name; a label's buddy without an
// accessible name of its own takes the label's. Controls without a known caption keep their
// text.
void ApplyCaptions(QWidget& root, unsigned dialog, const CLrcReaderWrapper& strings);

}  // namespace tessarine::ui
