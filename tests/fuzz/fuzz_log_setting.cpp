// The log's switch file setting.xml: whatever it holds, the size limit stays usable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "infra/log_setting.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tessarine::LogSetting setting =
        tessarine::ReadLogSetting(tessarine::fuzz::WriteInputFile(data, size));
    if (setting.maxSizeMiB <= 0) std::abort();
    if (setting.problem.empty() == false &&
        setting.maxSizeMiB != tessarine::kDefaultLogMaxSizeMiB) {
        std::abort();
    }
    return 0;
}
