// Messages between the program and one of its copier processes, over a pair of pipes: a
// 4-byte length, a kind byte, then fields that are each a 4-byte length and their bytes. The
// program sends kConnect once (host, user, password, port, time-out), then one kCopy at a time
// (local path, device path, "1" when the target is absent), kWriteRange (local path, the
// device path of a striped copy's temporary file, offset, length; see
// SmbShare::BeginStripedCopy) or kFetch (device path, local path: a copy from the share, see
// SmbShare::CopyFromShare) or kList (a device folder) and waits for its kResult (the error
// number, "0" for success; for kList then four fields per entry: name, "1" for a folder, size,
// last-write time); a kCancel may follow a request that is still running.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessarine::posix {

enum class CopierMessage : std::uint8_t {
    kConnect = 'C',
    kCopy = 'F',
    kWriteRange = 'W',
    kFetch = 'G',
    kList = 'L',
    kCancel = 'X',
    kResult = 'R',
};

struct CopierFrame {
    CopierMessage kind = CopierMessage::kResult;
    std::vector<std::string> fields;
};

// A frame larger than this is refused by the reader (the peer is not what it should be).
inline constexpr std::uint32_t kMaxCopierFrame = 1 << 20;

// Writes one whole frame; false with errno set when the pipe failed.
bool WriteCopierFrame(int fd, CopierMessage kind, const std::vector<std::string>& fields);

// Reads one whole frame: 1 read, 0 the other end closed before a frame began, -1 an error or
// a malformed frame (errno set, EPROTO for a malformed one).
int ReadCopierFrame(int fd, CopierFrame& frame);

}  // namespace tessarine::posix
