#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tessarine::fuzz {

namespace {

std::string MakeWorkFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessarine-fuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    static const std::string removed = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(removed, ignored);
    });
    return pattern + "/";
}

}  // namespace

const std::string& WorkFolder() {
    static const std::string folder = MakeWorkFolder();
    return folder;
}

const std::string& WriteInputFile(const std::uint8_t* data, std::size_t size) {
    static const std::string path = WorkFolder() + "input";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror("open");
        std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = write(fd, data + done, size - done);
        if (wrote <= 0) {
            std::perror("write");
            std::abort();
        }
        done += static_cast<std::size_t>(wrote);
    }
    close(fd);
    return path;
}

}  // namespace tessarine::fuzz
