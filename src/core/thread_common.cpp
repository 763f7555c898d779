#include "core/thread_common.h"

#include <system_error>

#include "base/app_log.h"

namespace tessarine {

CThreadCommon::~CThreadCommon() { StopThread(); }

bool CThreadCommon::StartThread() {
    if (thread_.joinable()) thread_.join();
    threadRunning_.store(true);
    try {
        thread_ = std::thread([this] {
            ThreadCore();
            threadRunning_.store(false);  // the last touch of this object
        });
    } catch (const std::system_error& error) {
        threadRunning_.store(false);
        LOG_ERROR(std::string("Begin Thread Error! ") + error.what());
        return false;
    }
    return true;
}

bool CThreadCommon::StopThread() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    return true;
}

void CThreadCommon::DetachThread() {
    if (thread_.joinable()) thread_.detach();
}

void WorkerDeleter::operator()(CThreadCommon* worker) const {
    if (worker == nullptr) return;
    worker->StopThread();
    delete worker;
}

}  // namespace tessarine
