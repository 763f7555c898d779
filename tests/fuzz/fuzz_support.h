// Shared by the fuzz targets: readers that take a file path get the input through one file in a
// private folder of the fuzzing process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessarine::fuzz {

// Writes the bytes to the process's input file and returns its path; aborts when it cannot.
const std::string& WriteInputFile(const std::uint8_t* data, std::size_t size);
// The private folder (with a trailing '/'), made on first use and removed at exit.
const std::string& WorkFolder();

}  // namespace tessarine::fuzz
