#include "lrc_builder.h"

#include "base/string_utility.h"
#include "test_support.h"

namespace tessarine::testing {
namespace {

void AppendU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
void AppendU16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

std::string EntryBytes(const LrcString& entry) {
    std::string extra;
    AppendU16(extra, entry.accessKey);
    std::u16string units = Utf8ToWide(entry.text);
    if (entry.terminated) units += u'\0';
    units += entry.afterTerminator;
    std::string text;
    for (const char16_t c : units) AppendU16(text, c);
    if (entry.extraLength) extra.resize(*entry.extraLength, '\0');
    if (entry.textLength) text.resize(*entry.textLength, '\0');

    std::string out;
    AppendU32(out, entry.id);
    AppendU16(out, entry.kind);
    AppendU16(out, entry.flags);
    AppendU16(out, static_cast<std::uint16_t>(extra.size()));
    AppendU16(out, static_cast<std::uint16_t>(text.size()));
    return out + extra + text;
}

}  // namespace

void PutU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutU16(std::string& bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>(value >> 8);
}

std::uint32_t GetU32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

LrcBuilder& LrcBuilder::Add(LrcString entry) {
    strings_.push_back(std::move(entry));
    return *this;
}

LrcBuilder& LrcBuilder::Charset(std::uint32_t charset) {
    charset_ = charset;
    return *this;
}

LrcBuilder& LrcBuilder::AddSection(std::uint32_t type, std::vector<char> data,
                                   std::uint32_t headerSize) {
    sections_.push_back({type, headerSize, std::move(data)});
    return *this;
}

LrcBuilder& LrcBuilder::TrailingEntryBytes(std::size_t count) {
    trailing_ = count;
    return *this;
}

std::string LrcBuilder::Build() const {
    std::string body;
    std::uint32_t mask = 0;
    if (!strings_.empty()) {
        std::string entries;
        for (const LrcString& entry : strings_) entries += EntryBytes(entry);
        entries.append(trailing_, '\0');
        AppendU32(body, 1);
        AppendU32(body, 28);
        AppendU32(body, static_cast<std::uint32_t>(entries.size()));
        AppendU32(body, 0);
        AppendU32(body, charset_);
        AppendU32(body, 1);
        AppendU32(body, static_cast<std::uint32_t>(strings_.size()));
        body += entries;
        mask |= 1;
    }
    for (const Section& section : sections_) {
        AppendU32(body, section.type);
        AppendU32(body, section.headerSize);
        AppendU32(body, static_cast<std::uint32_t>(section.data.size()));
        body.append(section.headerSize - 12, '\0');
        body.append(section.data.begin(), section.data.end());
        mask |= section.type;
    }
    std::string header(152, '\0');
    header.replace(0, 4, "LRCF");
    PutU32(header, kLrcFirstOffsetAt, 152);
    PutU32(header, kLrcTotalAt, static_cast<std::uint32_t>(body.size()));
    PutU32(header, kLrcMaskAt, mask);
    return header + body;
}

bool LrcBuilder::WriteTo(const std::string& path) const { return WriteFile(path, Build()); }

}  // namespace tessarine::testing
