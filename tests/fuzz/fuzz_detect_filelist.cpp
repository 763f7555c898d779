// The file list announces forwarded files to the device, and its names come from the local disk
// (any bytes). The input is split at NUL bytes into the computer name and (path, name, transfer
// name) triples; whatever is written must read back as a well-formed document, and printable
// ASCII names must come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "detection/detect_file_exceptions.h"
#include "detection/detect_file_xml_utility.h"
#include "fuzz_support.h"
#include "infra/xml_parse.h"

namespace {

std::vector<std::string> SplitAtNul(std::string_view bytes) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nul = bytes.find('\0', start);
        fields.emplace_back(bytes.substr(start, nul - start));
        if (nul == std::string_view::npos) break;
        start = nul + 1;
    }
    return fields;
}

bool IsPlainAscii(const std::string& text) {
    if (text.empty() || text.front() == ' ' || text.back() == ' ') return false;
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tessarine::CDetectFileXMLUtility;
    const std::vector<std::string> fields =
        SplitAtNul(std::string_view(reinterpret_cast<const char*>(data), size));
    if (fields.size() > 64) return 0;
    // The texts in document order: the computer name, then name, transfer name, path and time
    // stamp of each entry (the time stamp is not compared).
    std::vector<std::string> written;
    CDetectFileXMLUtility list(tessarine::fuzz::WorkFolder());
    try {
        list.OpenFileList(fields[0]);
        written.push_back(fields[0]);
        for (std::size_t i = 1; i + 2 < fields.size(); i += 3) {
            list.WriteFileData(fields[i], fields[i + 1], fields[i + 2], 1700000000);
            written.insert(written.end(), {fields[i + 1], fields[i + 2], fields[i], std::string()});
        }
        list.CloseFileList();
    } catch (const tessarine::CDetectFileXMLException&) {
        return 0;
    }

    tessarine::CXMLParse reader;
    if (!reader.SetupReadFromFile(list.GetFileListPath())) std::abort();
    std::vector<std::string> read;
    std::string name;
    std::string value;
    // An element's value is the first text after its start, so an element whose first child
    // is an element hands back that child's text and the child itself is passed over: the
    // values come out one per text, in document order.
    // An empty <file/> (no entries) hands back "".
    while (reader.ReadNextElement(name, value)) {
        if (!value.empty()) read.push_back(value);
    }
    if (!reader.IsEndOfDocument()) std::abort();  // the writer made a malformed document
    // Texts of blanks alone may be taken for layout; every other text comes back.
    bool plain = true;
    for (const std::string& text : written) plain = plain && (text.empty() || IsPlainAscii(text));
    if (plain && read.size() != written.size()) std::abort();
    for (std::size_t i = 0; plain && i < written.size(); ++i) {
        if (!written[i].empty() && read[i] != written[i]) std::abort();
    }
    return 0;
}
