// The smbd test server that scripts/smbd-fixture starts, as its TESSARINE_SMB_* variables name
// it: tests against a real server skip when they are not set.
#pragma once

#include <string>

namespace tessarine::testing {

struct SmbFixture {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
    std::string root;  // the local folder whose "zereda" the server shares

    // False when a variable is missing or empty or the port is not a number above 0.
    bool Load();
};

// What a test that needs the server says when it skips.
inline constexpr char kSmbFixtureMissing[] =
    "TESSARINE_SMB_* not set: run scripts/smbd-fixture start <dir> and export the variables of "
    "<dir>/env";

// The program copier processes run: TESSARINE_BINARY, the program itself (a test binary cannot
// be one); empty when it is not set.
std::string CopierProgram();
inline constexpr char kCopierProgramMissing[] =
    "TESSARINE_BINARY not set: the copiers are the program itself";

// A TCP port on 127.0.0.1 where nothing listens.
int ClosedLoopbackPort();

}  // namespace tessarine::testing
