#include "fakes/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tessarine::testing {

TempDir::TempDir() {
    std::string pattern = "/tmp/tessarine-test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only entries left by a test must not stop the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Sub(const std::string& relative) const { return path_ + "/" + relative; }

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = getenv(name_.c_str())) previous_ = old;
    if (value)
        setenv(name_.c_str(), value->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (previous_)
        setenv(name_.c_str(), previous_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& content) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

std::string Pattern(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 4093 + static_cast<std::size_t>(seed)) % 251);
    return bytes;
}

void SetModifiedTime(const std::string& path, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    EXPECT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0)) << path;
}

std::time_t ModifiedTime(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return -1;
    return status.st_mtim.tv_sec;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         it != std::filesystem::directory_iterator(); it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tessarine::testing
