#include "detection/detect_file_schedule.h"

#include <array>
#include <exception>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "base/app_exception.h"
#include "base/app_log.h"
#include "base/string_utility.h"
#include "core/deadline_wait.h"
#include "core/event_names.h"
#include "platform/worker_events.h"

namespace tessarine {

namespace {

constexpr std::array<std::string_view, 2> kScheduleEvents = {kEventDetectFileShutDown,
                                                             kEventDetectFileNow};

int ReadFlag(const std::atomic<int>* flag) { return flag != nullptr ? flag->load() : 0; }

}  // namespace

CDetectFileSchedule::CDetectFileSchedule(Clock& clock, NamedEvents& events,
                                         CDetectFileSQLUtility& fileList,
                                         RunnerFactory runnerFactory, RandomSource random)
    : clock_(clock),
      events_(events),
      fileList_(fileList),
      runnerFactory_(std::move(runnerFactory)),
      random_(std::move(random)) {
    if (!random_) {
        std::minstd_rand generator(static_cast<unsigned>(clock_.Now()));
        random_ = [generator]() mutable { return static_cast<int>(generator() & 0x7fffffff); };
    }
}

CDetectFileSchedule::~CDetectFileSchedule() {
    if (runner_ && runner_->IsThreadRunning()) {
        LOG_ERROR("Detect File thread is still running. Its runner is left to the process end.");
        AbandonWorker(std::move(runner_));
        return;
    }
    runner_.reset();
}

void CDetectFileSchedule::OpenEvents(std::vector<EventHandle>& handles, bool reportMissing) const {
    OpenWorkerEvents(events_, kScheduleEvents, handles, reportMissing);
}

void CDetectFileSchedule::StartRun(ThreadControlBlock& block) {
    if (!runner_) {
        LOG_ERROR("No detect file runner. Request dropped.");
        return;
    }
    // Taken in one step, not only by the run: a request arriving before the new thread has set
    // the flag is not a second run, and the settings window, which holds the flag while it
    // saves, never sees a forward start between its check and its save.
    int idle = 0;
    if (!block.executorRunning->compare_exchange_strong(idle, 1)) {
        LOG_TRACE("Detect File is running. Request dropped.");
        return;
    }
    if (!runner_->StartThread()) {
        block.executorRunning->store(0);
        return;
    }
    clock_.Sleep(kStartPause);
}

int CDetectFileSchedule::ThreadCore() {
    LOG_BANNER("DetectFileSchedule Start up");
    ThreadControlBlock* block = GetControlBlock();
    if (block == nullptr || block->stopRequested == nullptr || block->threadRunning == nullptr ||
        block->executorRunning == nullptr) {
        LOG_ERROR("Thread control block is not set.");
        LOG_BANNER("DetectFileSchedule Finish");
        return 0;
    }
    block->threadRunning->store(1);
    runner_.reset();
    if (runnerFactory_) runner_ = runnerFactory_();
    if (runner_)
        runner_->SetControlBlock(block);
    else
        LOG_ERROR("Can't create the detect file runner.");
    std::vector<EventHandle> handles;
    OpenEvents(handles, true);
    std::uint32_t lastResult = kWaitShutDown;
    CEventWaitFailures waitFailures;
    while (!IsStopRequested()) {
        if (lastResult == kWaitTimeout || lastResult == kWaitDetectFileNow) StartRun(*block);
        if (IsStopRequested()) break;
        const std::uint32_t wait = timeoutCalculator_ ? timeoutCalculator_() : CalculateTimeout();
        lastResult = events_.WaitAny(handles, wait);
        LOG_TRACE("Event:" + ULongToString(lastResult));
        if (waitFailures.Failed(lastResult, clock_)) OpenEvents(handles, false);
    }
    handles.clear();

    bool runEnded = ReadFlag(block->executorRunning) == 0;
    for (int round = 1; !runEnded && round <= kExitWaitRounds; ++round) {
        LOG_TRACE("Wait Detect File Thread. Count:" + IntToString(round));
        runEnded = WaitUntilDone(clock_, kExitWaitRound, kExitWaitSlice,
                                 [block] { return ReadFlag(block->executorRunning) == 0; });
    }
    if (!runEnded) LOG_ERROR("Detect File thread is still running. The scheduler ends without it.");
    block->threadRunning->store(0);
    if (runEnded) runner_.reset();
    LOG_BANNER("DetectFileSchedule Finish");
    return 0;
}

std::uint32_t CDetectFileSchedule::CalculateTimeout() {
    LOG_METHOD();
    std::uint32_t minutes = kDayMinutes;
    try {
        if (fileList_.IsDetectFileExecuted() != 1)
            minutes = static_cast<std::uint32_t>(random_()) % 60;
    } catch (const CAppException& e) {
        LOG_ERROR(e.GetErrorMessage());
    } catch (const std::exception& e) {
        LOG_ERROR(std::string("Catch Unknown Exception. ") + e.what());
    }
    LOG_TRACE("Timeout(min):" + ULongToString(minutes));
    return minutes * kMinuteMs;
}

}  // namespace tessarine
