// Small fixtures shared by the test suites: temporary folders and environment overrides.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace tessarine::testing {

// A fresh folder under /tmp, removed with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder path without a trailing slash.
    const std::string& Path() const { return path_; }
    // Path() + "/" + relative.
    std::string Sub(const std::string& relative) const;

private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable and restores it on destruction.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// `size` bytes that differ from block to block and from seed to seed: a part written at the
// wrong place, or another file's bytes, do not go unnoticed.
std::string Pattern(std::size_t size, int seed);

// Whole file as bytes; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Writes bytes, creating parent folders; true on success.
bool WriteFile(const std::string& path, const std::string& content);

// Sets a file's modification (and access) time to whole seconds; a failure fails the test.
void SetModifiedTime(const std::string& path, std::time_t when);
// A file's modification time in seconds; -1 when it cannot be read.
std::time_t ModifiedTime(const std::string& path);
// The names in a folder (hidden temporary copies included), sorted; empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder);

}  // namespace tessarine::testing
