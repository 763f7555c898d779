// Device paths: "\\host\share\a\b" (UNC form, as kept in settings, XML and logs) and
// "smb://host[:port]/share/a/b" (as a user may type it), taken apart and put together again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessarine {

struct DevicePath {
    std::string host;                // "192.168.1.10"; never empty after a successful parse
    int port = 0;                    // from "smb://host:port/"; 0 when not given
    std::string share;               // "zereda"; empty for a bare "\\host"
    std::vector<std::string> parts;  // components below the share, "." dropped, never ".."

    // The components below the share joined with '/' ("import/data"); "" for the share root.
    std::string Below() const;
};

// True when the text starts like a device path ("\\" or "smb://", the scheme in any case).
bool IsDevicePath(std::string_view text);

// Takes a device path apart. Below the host, '\' and '/' both separate components and repeated
// or trailing separators are ignored; in the smb:// form %XX escapes are decoded. Fails (false,
// `out` untouched) on an empty or foreign text, an empty or malformed host, a bad port or
// escape, a ".." component, and control characters or an escaped separator inside a name.
bool ParseDevicePath(std::string_view text, DevicePath& out);

// "\\host\share\a\b" (no trailing separator; "\\host\share" for the share root).
std::string ToUncPath(const DevicePath& path);

// "smb://host[:port]/share/a/b" for libsmbclient, every name percent-encoded except unreserved
// characters, so that '%', '#', ' ' and non-ASCII names survive. The path's own port wins
// over `port`; no port is written when both are 0.
std::string ToSmbUrl(const DevicePath& path, int port = 0);

// Appends a relative part to a device folder: '/' in the part becomes '\' and exactly one '\'
// separates the two ("\\h\zereda\backup\" + "a/b.txt" -> "\\h\zereda\backup\a\b.txt").
std::string JoinDevicePath(std::string_view folder, std::string_view relative);

}  // namespace tessarine
