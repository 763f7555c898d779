// Base of the settings records: typed access to one section of the profile file, and the
// table-driven reading and writing of all its keys (settings/setting_table.h).
#pragma once

#include <string>

namespace tessarine {

class CProfileStore;

class CSettingCommon {
public:
    // A record without a store (null) holds values only: Load and Save return -1.
    CSettingCommon(CProfileStore* store, std::string section);
    virtual ~CSettingCommon() = default;

    // 0 on success; -1 without a profile store, or (Save) when the file cannot be written.
    virtual int Load() = 0;
    virtual int Save() = 0;
    // Sets every field of the section to its first-run value and writes every key of the
    // section, those Save leaves out included. 0, or -1 (nothing written).
    int WriteDefaults();

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

    // Reads every key of the section into its field, missing keys as their defaults.
    void ReadFields();
    // Writes the fields of the section in one file replacement: the keys Save writes, or
    // (`allKeys`) every key. False when the file could not be written.
    bool WriteFields(bool allKeys);
    // After ReadFields or the first-run values: derives what is not stored as it is used.
    virtual void FieldsRead() {}
    // Before WriteFields: forms the stored values from what the program uses.
    virtual void PrepareWrite() {}

    CProfileStore* store_;
    std::string section_;
};

}  // namespace tessarine
