// Where the program keeps its files: the data folder and the executable title that every
// file name is formed from.
#pragma once

#include <string>

namespace tessarine {

// "$ALLUSERSPROFILE/corvane/Tessarine Tool/" (with the trailing slash) when ALLUSERSPROFILE is
// set, else "${XDG_DATA_HOME:-~/.local/share}/corvane/Tessarine Tool/". Empty when neither a
// profile folder nor a home folder can be found.
std::string GetDataFolderPath();

// The parent of the data folder ("…/corvane/"), with the trailing slash; empty as above.
std::string GetDataParentFolderPath();

// File name of the running executable without folder and extension ("TessarineTool").
// Empty when /proc/self/exe cannot be read.
std::string GetExecutableTitle();

// Full path of the running executable; empty when it cannot be read.
std::string GetExecutablePath();

// Value of an environment variable; false (value untouched) when it is not set.
bool GetEnvironmentValue(const char* name, std::string& value);

}  // namespace tessarine
