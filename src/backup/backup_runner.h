// What the backup scheduler needs of the worker that performs a run.
#pragma once

#include <atomic>

#include "core/thread_common.h"

namespace tessarine {

class CBackupRunner : public CThreadCommon {
public:
    // 1 when the run is the backup before the PC shuts down; set before StartThread.
    void SetShutdownMode(int mode) { shutdownMode_.store(mode); }
    int GetShutdownMode() const { return shutdownMode_.load(); }

private:
    std::atomic<int> shutdownMode_{0};
};

}  // namespace tessarine
