// Base of the settings records: typed access to one section of the profile file.
#pragma once

#include <string>

namespace tessarine {

class CProfileStore;

// The profile store records use when constructed without one (set once at start-up, like the
// framework's profile file name). Null until set.
void SetDefaultProfileStore(CProfileStore* store);
CProfileStore* GetDefaultProfileStore();

class CSettingCommon {
public:
    CSettingCommon(CProfileStore* store, std::string section);
    virtual ~CSettingCommon() = default;

    // 0 on success; -1 without a profile store, or (Save) when the file cannot be written.
    virtual int Load() = 0;
    virtual int Save() = 0;

    const std::string& Section() const { return section_; }

protected:
    bool HasStore() const { return store_ != nullptr; }
    std::string GetStringValue(const std::string& key) const;
    void SetStringValue(const std::string& key, const std::string& value);
    bool GetBoolValue(const std::string& key) const;
    void SetBoolValue(const std::string& key, bool value);
    int GetIntValue(const std::string& key, int defaultValue) const;
    void SetIntValue(const std::string& key, int value);
    void EnsureBoolValue(const std::string& key);

    CProfileStore* store_;
    std::string section_;
};

}  // namespace tessarine
