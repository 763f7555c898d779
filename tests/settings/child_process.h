// Runs a piece of a test in a forked child, for faults that must not touch the test process
// (file size limits) or that need permission bits to apply (a root test run drops to "nobody").
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace tessarine::testing {

inline constexpr unsigned kNobodyId = 65534;

// Makes `path` and everything under it owned by "nobody" when running as root, so that a child
// started with dropPrivileges can still reach it. The folder's own parents must be searchable.
inline void HandOverToNobody(const std::string& path) {
    if (geteuid() != 0) return;
    if (lchown(path.c_str(), kNobodyId, kNobodyId) != 0) return;
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (lchown(it->path().c_str(), kNobodyId, kNobodyId) != 0) return;
    }
}

// The child's result (0-255), or -1 when the child did not end normally. With dropPrivileges
// and a root test run, the child becomes "nobody" first.
inline int RunInChild(bool dropPrivileges, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (dropPrivileges && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kNobodyId) != 0 || setuid(kNobodyId) != 0)
                _exit(250);
        }
        _exit(body() & 0xFF);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace tessarine::testing
