// The keyboard on the program's windows: Enter presses the OK of the page shown, whichever
// page it is, and Tab walks each page's controls in the order the page lays them out (rows
// top to bottom, left to right within a row), whatever order they were made in.
#pragma once

class QString;
class QTabWidget;
class QWidget;

namespace tessarine::ui {

// From now on the button named `okName` on the shown page of `tabs` is the window's default
// button (the one Enter presses); done at once for the page shown now.
void FollowPageDefaultButtons(QTabWidget& tabs, const QString& okName);

// Chains the focusable controls below `page` for Tab in the order of its layout.
void TabInLayoutOrder(QWidget& page);

}  // namespace tessarine::ui
