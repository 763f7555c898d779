// Small text conversions used everywhere: numbers and flags to text, UTF-8/UTF-16, Base64,
// code page 932 and printf-style formatting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessarine {

std::string BoolToString(int flag);              // "TRUE" for non-zero, "FALSE" for 0
std::string IntToString(int value);              // "%d"
std::string ULongToString(std::uint32_t value);  // "%lu"
// Leading decimal digits with optional sign after optional blanks; 0 when there are none.
int StringToInt(std::string_view text);
// True when every character is one of "0123456789"; true for "".
bool IsDigitsOnly(std::string_view text);

// Decodes the UTF-8 sequence at text[pos] into `code`: its length in bytes, or 0 when the bytes
// there are not a valid sequence (overlong, surrogate, beyond U+10FFFF, cut off).
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& code);
// Appends `code` (a valid code point) as UTF-8.
void AppendUtf8(char32_t code, std::string& out);

// The text for a terminal when it comes from outside: each C0 and C1 control character, DEL,
// each character that reorders or hides text (bidirectional overrides, embeddings and isolates,
// direction marks, line and paragraph separators) and each byte that is not part of well-formed
// UTF-8 (a lone 0x9B is CSI to an 8-bit terminal) becomes '?'. The rest is kept.
std::string TerminalSafeText(std::string_view text);

std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);

// UTF-8 to code page 932 and back; a character without a form in the target, and each byte
// that is not part of a well-formed character, becomes '?'. The rest is kept.
std::string Utf8ToCp932(std::string_view text);
std::string Cp932ToUtf8(std::string_view text);

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

class CStringUtility {
public:
    // Base64 (standard alphabet, '=' padding, no line breaks) of the text's UTF-8 bytes.
    static std::string EncodeBase64(std::string_view text);
    // The text a Base64 input encodes; "" (and an error line) when the input is not Base64.
    static std::string DecodeBase64(std::string_view base64);
};

}  // namespace tessarine
