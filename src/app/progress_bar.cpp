#include "app/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace tessarine {

ProgressBar::ProgressBar() : terminal_(isatty(STDOUT_FILENO) == 1) {}

void ProgressBar::Draw(double part, const std::string& text, bool last) {
    if (!terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!last && drawn_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    constexpr int kWidth = 30;
    part = std::clamp(part, 0.0, 1.0);
    const int filled = static_cast<int>(part * kWidth);
    std::fprintf(out_, "\r[%s%s] %3d%%  %s ", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), static_cast<int>(part * 100),
                 text.c_str());
    std::fflush(out_);
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (drawn_) std::fprintf(out_, "\n");
    drawn_ = false;
}

}  // namespace tessarine
