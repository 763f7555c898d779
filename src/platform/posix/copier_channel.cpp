#include "platform/posix/copier_channel.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace tessarine::posix {

namespace {

void AppendLength(std::string& buffer, std::uint32_t length) {
    char bytes[4];
    std::memcpy(bytes, &length, sizeof(bytes));
    buffer.append(bytes, sizeof(bytes));
}

std::uint32_t LengthAt(const std::string& buffer, std::size_t offset) {
    std::uint32_t length = 0;
    std::memcpy(&length, buffer.data() + offset, sizeof(length));
    return length;
}

// 1 all read, 0 end of input before the first byte, -1 error (EPROTO: ended inside).
int ReadExactly(int fd, char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) {
            if (done == 0) return 0;
            errno = EPROTO;
            return -1;
        }
        done += static_cast<std::size_t>(got);
    }
    return 1;
}

}  // namespace

bool WriteCopierFrame(int fd, CopierMessage kind, const std::vector<std::string>& fields) {
    std::string buffer;
    std::size_t payload = 1;
    for (const auto& field : fields) payload += 4 + field.size();
    if (payload > kMaxCopierFrame) {
        errno = EMSGSIZE;
        return false;
    }
    buffer.reserve(4 + payload);
    AppendLength(buffer, static_cast<std::uint32_t>(payload));
    buffer.push_back(static_cast<char>(kind));
    for (const auto& field : fields) {
        AppendLength(buffer, static_cast<std::uint32_t>(field.size()));
        buffer += field;
    }
    for (std::size_t sent = 0; sent < buffer.size();) {
        const ssize_t n = ::write(fd, buffer.data() + sent, buffer.size() - sent);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

int ReadCopierFrame(int fd, CopierFrame& frame) {
    char header[4];
    const int began = ReadExactly(fd, header, sizeof(header));
    if (began <= 0) return began;
    std::uint32_t payload = 0;
    std::memcpy(&payload, header, sizeof(payload));
    if (payload < 1 || payload > kMaxCopierFrame) {
        errno = EPROTO;
        return -1;
    }
    std::string buffer(payload, '\0');
    if (ReadExactly(fd, buffer.data(), payload) != 1) {
        if (errno == 0) errno = EPROTO;
        return -1;
    }
    frame.kind = static_cast<CopierMessage>(buffer[0]);
    frame.fields.clear();
    for (std::size_t offset = 1; offset < buffer.size();) {
        if (buffer.size() - offset < 4) {
            errno = EPROTO;
            return -1;
        }
        const std::uint32_t length = LengthAt(buffer, offset);
        offset += 4;
        if (length > buffer.size() - offset) {
            errno = EPROTO;
            return -1;
        }
        frame.fields.emplace_back(buffer, offset, length);
        offset += length;
    }
    return 1;
}

}  // namespace tessarine::posix
