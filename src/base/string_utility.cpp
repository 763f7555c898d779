#include "base/string_utility.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "base/app_log.h"

namespace tessarine {

std::string BoolToString(int flag) { return flag != 0 ? "TRUE" : "FALSE"; }

std::string IntToString(int value) { return std::to_string(value); }

std::string ULongToString(std::uint32_t value) { return std::to_string(value); }

int StringToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0x80000000LL) value = 0x80000000LL;  // saturate instead of overflowing
    }
    if (negative) value = -value;
    if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
    return static_cast<int>(value);
}

bool IsDigitsOnly(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string WideToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Utf8ToWide(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        int length = b0 < 0x80           ? 1
                     : (b0 >> 5) == 0x6  ? 2
                     : (b0 >> 4) == 0xE  ? 3
                     : (b0 >> 3) == 0x1E ? 4
                                         : 0;
        char32_t c = 0xFFFD;
        if (length == 0 || i + length > text.size()) {
            ++i;  // invalid lead byte or truncated sequence
        } else {
            c = length == 1   ? b0
                : length == 2 ? (b0 & 0x1F)
                : length == 3 ? (b0 & 0x0F)
                              : (b0 & 0x07);
            bool valid = true;
            for (int k = 1; k < length; ++k) {
                const auto b = static_cast<unsigned char>(text[i + k]);
                if ((b & 0xC0) != 0x80) valid = false;
                c = (c << 6) | (b & 0x3F);
            }
            if (!valid || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                c = 0xFFFD;
                ++i;
            } else {
                i += length;
            }
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

namespace {

// Length of the well-formed UTF-8 character at the start of `text`, 0 when it is not one.
std::size_t Utf8CharacterLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    if (length == 0 || length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// Length of the CP932 character at the start of `text`: two bytes for a lead byte followed by
// a trail byte, else one.
std::size_t Cp932CharacterLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    if (!isLead || text.size() < 2) return 1;
    const auto trail = static_cast<unsigned char>(text[1]);
    return (trail >= 0x40 && trail <= 0xFC && trail != 0x7F) ? 2 : 1;
}

// Converts with iconv. A character without a form in the target, and each byte that is not
// part of a character of the source encoding, becomes one '?'; everything around it is kept.
std::string Convert(const char* to, const char* from, std::string_view text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    const bool fromUtf8 = std::string_view(from) == "UTF-8";
    std::string out;
    out.resize(text.size() * 2 + 16);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::size_t written = 0;
    while (inLeft > 0) {
        char* outPtr = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        written = out.size() - outLeft;
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL: a valid character without a target form is skipped whole, a
        // broken sequence one byte at a time, so the bytes after it are converted again.
        if (written == out.size()) out.resize(out.size() * 2);
        out[written++] = '?';
        const std::string_view rest(in, inLeft);
        std::size_t skip = 1;
        if (fromUtf8) {
            skip = std::max<std::size_t>(Utf8CharacterLength(rest), 1);
        } else {
            skip = Cp932CharacterLength(rest);
        }
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    }
    iconv_close(cd);
    out.resize(written);
    return out;
}

}  // namespace

std::string Utf8ToCp932(std::string_view text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return std::string(text);
    return Convert("CP932", "UTF-8", text);
}

std::string Cp932ToUtf8(std::string_view text) { return Convert("UTF-8", "CP932", text); }

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return out;
}

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string CStringUtility::EncodeBase64(std::string_view text) {
    std::string out;
    out.reserve((text.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= text.size(); i += 3) {
        const std::uint32_t n = (static_cast<unsigned char>(text[i]) << 16) |
                                (static_cast<unsigned char>(text[i + 1]) << 8) |
                                static_cast<unsigned char>(text[i + 2]);
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += kBase64Alphabet[(n >> 6) & 63];
        out += kBase64Alphabet[n & 63];
    }
    const std::size_t rest = text.size() - i;
    if (rest > 0) {
        std::uint32_t n = static_cast<unsigned char>(text[i]) << 16;
        if (rest == 2) n |= static_cast<unsigned char>(text[i + 1]) << 8;
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += rest == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string CStringUtility::DecodeBase64(std::string_view base64) {
    std::string out;
    std::uint32_t buffer = 0;
    int bits = 0;
    std::size_t padding = 0;
    std::size_t symbols = 0;
    bool valid = true;
    for (char c : base64) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || padding > 0) {
            valid = false;
            break;
        }
        ++symbols;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    if (valid && (padding > 2 || (symbols + padding) % 4 == 1)) valid = false;
    if (!valid) {
        // The shape of the platform's decoder failure: the system error, then "[%d]" of it.
        errno = EINVAL;
        LOG_ERROR(std::to_string(EINVAL));
        return std::string();
    }
    return out;
}

std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(pos + i) & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[length] || code > 0x10FFFF) return 0;  // overlong or out of range
    if (code >= 0xD800 && code <= 0xDFFF) return 0;            // surrogate
    return length;
}

namespace {

bool IsUnsafeOnTerminal(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) ||       // C0, DEL, C1
           code == 0x061C || code == 0x200E || code == 0x200F ||  // direction marks
           (code >= 0x2028 && code <= 0x202E) ||  // separators, embeddings, overrides
           (code >= 0x2066 && code <= 0x2069);    // isolates
}

}  // namespace

std::string TerminalSafeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(text, pos, code);
        if (length == 0 || IsUnsafeOnTerminal(code)) {
            out.push_back('?');
            pos += length == 0 ? 1 : length;
            continue;
        }
        out.append(text.substr(pos, length));
        pos += length;
    }
    return out;
}

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace tessarine
