#include "fakes/smb_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace tessarine::testing {

bool SmbFixture::Load() {
    const char* names[] = {"TESSARINE_SMB_HOST", "TESSARINE_SMB_PORT", "TESSARINE_SMB_USER",
                           "TESSARINE_SMB_PASSWORD", "TESSARINE_SMB_ROOT"};
    std::string values[5];
    for (int i = 0; i < 5; ++i) {
        const char* value = std::getenv(names[i]);
        if (value == nullptr || *value == '\0') return false;
        values[i] = value;
    }
    host = values[0];
    port = std::atoi(values[1].c_str());
    user = values[2];
    password = values[3];
    root = values[4];
    return port > 0;
}

std::string CopierProgram() {
    const char* program = std::getenv("TESSARINE_BINARY");
    return program != nullptr ? program : "";
}

int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace tessarine::testing
