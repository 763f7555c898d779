// How the program's windows sit on a real desktop, where a window manager adds a frame that is
// known only after the window is shown and panels take part of the screen: every top-level
// window (message boxes and file dialogs included) is moved, and shrunk where it must be, so
// that its frame lies inside its screen's available area.
//
// InstallWindowPlacement watches the whole application, so windows added later need nothing
// of their own; a window that belongs in a corner says so with PlaceInCorner.
#pragma once

class QApplication;
class QDialog;
class QHeaderView;
class QLineEdit;
class QWidget;

namespace tessarine::ui {

// From now on each top-level window of `app` is kept inside the available area when it is
// shown and while the window manager settles its frame. Idempotent.
void InstallWindowPlacement(QApplication& app);

// Moves, and where needed shrinks, `window` so that its frame lies in the available area of
// its screen (bottom-right corner when it was marked with PlaceInCorner). True when it fits.
bool FitIntoAvailableArea(QWidget& window);

// Marks `window` to sit in the bottom-right corner of the available area (notifications, the
// version box) and places it there now.
void PlaceInCorner(QWidget& window);

// A dialog with nothing to gain from another size: its size follows its layout, and the
// window manager offers no maximise.
void MakeFixedSize(QDialog& dialog);

// A field the user reads but does not type into: read-only and drawn on the window's
// background rather than as an input field.
void ShowAsReadOnly(QLineEdit& edit);

// Columns as wide as their contents (header included), with `stretchColumn` taking the
// remaining width; the user can still drag every column.
void SizeColumnsToContents(QHeaderView& header, int stretchColumn);

}  // namespace tessarine::ui
