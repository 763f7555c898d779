// Starting from a desktop: whether tray mode has a display to run on, and the menu entry's
// window actions, which start the program when it is not running yet.
#pragma once

#include <string>

namespace tessarine {

// Empty when tray mode can reach a display; otherwise what is wrong, in a few words for the
// user. Only the local X display is tried (its socket); Wayland and other platforms Qt is told
// to use are taken as they are.
std::string DisplayProblem();

// Starts this program in tray mode, detached from the caller (own session, no terminal), and
// waits until it takes the control request `event`: the ControlClient code of the last try
// (kControlDelivered on success), kControlNoInstance when the program ended or did not come up.
int StartInstanceAndSignal(const std::string& event);

}  // namespace tessarine
