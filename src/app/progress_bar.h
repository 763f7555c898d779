// Progress of a command-line run on stdout: on a terminal one bar redrawn in place (at most ten
// times a second, and always at the end), otherwise nothing here: the caller prints plain lines.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace tessarine {

class ProgressBar {
public:
    // Draws only when stdout is a terminal.
    ProgressBar();
    // Draws on `out` when `terminal`.
    ProgressBar(bool terminal, std::FILE* out) : terminal_(terminal), out_(out) {}

    bool IsTerminal() const { return terminal_; }
    // Redraws "[####......]  NN%  <text>" for `part` (0 to 1); `last` draws whatever the pace.
    void Draw(double part, const std::string& text, bool last);
    // Ends the bar's line before other output.
    void Finish();

private:
    bool terminal_;
    std::FILE* out_ = stdout;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace tessarine
