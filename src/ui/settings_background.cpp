#include "ui/settings_background.h"

namespace tessarine::ui {

std::atomic<int>& AbandonedBackgroundCalls() {
    static std::atomic<int> count{0};
    return count;
}

}  // namespace tessarine::ui
