// The program's version, shown by --version and the About box.
#pragma once

namespace tessarine {

inline constexpr char kVersionText[] = "1.0.0";

}  // namespace tessarine
