// The INI profile file behind the settings records, with the private-profile rules: section and
// key names match case-insensitively, a write replaces a value in place or appends the key at the
// end of its section, every other line is kept as it is. Lines end in CR LF, LF or CR. A value
// is read with the blanks around it trimmed and then without one pair of enclosing double
// quotes; a write adds that pair where reading would otherwise change the value, so every value
// of up to 4095 characters without a line break reads back exactly as written. Every write
// replaces the file atomically (temp file, fsync, rename; mode 0600); a link in place of the
// file is neither read nor written through.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tessarine {

class CProfileStore {
public:
    // Longer values are read as empty (with an error line) and refused by writes.
    static constexpr std::size_t kMaxValueLength = 4095;

    // `filePath` is the INI file; it need not exist yet (it then reads as empty).
    explicit CProfileStore(std::string filePath);
    CProfileStore(const CProfileStore&) = delete;
    CProfileStore& operator=(const CProfileStore&) = delete;

    const std::string& FilePath() const { return filePath_; }

    // The value (quoting rule above; "" and an error line naming the key when it is longer
    // than kMaxValueLength characters), or `defaultValue` when the section or key is missing. Every
    // read looks at the file as it is now; the calling thread's open batch is seen as if it were
    // already written.
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) const;
    // The value parsed like the private-profile integer read: blanks, an optional sign and the
    // decimal digits that follow (0 when there are none). `defaultValue` when the key is
    // missing or its value is empty, or when the number does not fit an int.
    int GetInt(const std::string& section, const std::string& key, int defaultValue) const;
    bool HasKey(const std::string& section, const std::string& key) const;

    // Writes one value ("%d" for integers). Outside a batch the file is replaced at once;
    // inside the calling thread's batch the write waits for CommitBatch. False when the
    // names or the value cannot be stored (empty name, line breaks, '=' in a key, ']' in a
    // section name, a value longer than kMaxValueLength characters) or when the file cannot be
    // written; the file then stays as it was.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInt(const std::string& section, const std::string& key, int value);

    // Batches collect the writes of the calling thread and store them with one file
    // replacement. Batches nest: only the outermost CommitBatch writes. CommitBatch returns
    // false (and writes nothing) when any write of the batch was refused, when an inner batch
    // was abandoned, or when the file cannot be written. AbortBatch drops the batch's writes.
    void BeginBatch();
    bool CommitBatch();
    void AbortBatch();

    // RAII form of a batch: commits with Commit(), abandons it when destroyed uncommitted.
    class Transaction {
    public:
        explicit Transaction(CProfileStore& store);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        bool Commit();

    private:
        CProfileStore& store_;
        bool done_ = false;
    };

private:
    struct Edit {
        std::string section;
        std::string key;
        std::string value;
    };
    struct Batch {
        int depth = 0;
        bool failed = false;
        std::vector<Edit> edits;
    };
    class Document;

    // Reads and parses the file; false (with an error line) when it exists but cannot be read.
    bool LoadDocument(Document& document) const;
    std::optional<std::string> Lookup(const std::string& section, const std::string& key) const;
    // Applies the edits to the file's current content and replaces the file when it changed.
    bool ApplyEdits(const std::vector<Edit>& edits);
    bool ReplaceFile(const std::string& content);

    const std::string filePath_;
    mutable std::mutex mutex_;  // guards batches_ and orders this process's file replacements
    std::map<std::thread::id, Batch> batches_;
};

}  // namespace tessarine
