// Frames between the program and its copier processes, over a real pipe.
#include "platform/posix/copier_channel.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace tessarine::posix {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        EXPECT_EQ(0, ::pipe(fds));
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        if (read >= 0) ::close(read);
        CloseWrite();
    }
    void CloseWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
    void Raw(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(write, bytes.data(), bytes.size()));
    }
};

std::string Length(std::uint32_t value) {
    char bytes[4];
    std::memcpy(bytes, &value, sizeof(bytes));
    return std::string(bytes, sizeof(bytes));
}

TEST(CopierChannelTest, FramesArriveWholeWithTheirFields) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {""},
        {"/home/a/報告書.txt", "\\\\10.0.0.1\\zereda\\backup\\x", "1"},
        {std::string("pass\0word", 9), std::string(70'000, 'x')},  // more than a pipe holds
    };
    for (const auto& fields : cases) {
        Pipe pipe;
        std::thread writer(
            [&] { EXPECT_TRUE(WriteCopierFrame(pipe.write, CopierMessage::kCopy, fields)); });
        CopierFrame frame;
        EXPECT_EQ(1, ReadCopierFrame(pipe.read, frame));
        writer.join();
        EXPECT_EQ(CopierMessage::kCopy, frame.kind);
        EXPECT_EQ(fields, frame.fields);
    }
}

TEST(CopierChannelTest, TheEndOfTheStreamBeforeAFrameIsNotAnError) {
    Pipe pipe;
    ASSERT_TRUE(WriteCopierFrame(pipe.write, CopierMessage::kCancel, {}));
    pipe.CloseWrite();
    CopierFrame frame;
    EXPECT_EQ(1, ReadCopierFrame(pipe.read, frame));
    EXPECT_EQ(CopierMessage::kCancel, frame.kind);
    EXPECT_EQ(0, ReadCopierFrame(pipe.read, frame));
}

// What a peer that is not a copier (or one killed mid-write) may leave: refused, never read
// past, never a frame.
TEST(CopierChannelTest, MalformedOrCutFramesAreRefused) {
    const struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty frame", Length(0)},
        {"frame larger than allowed", Length(kMaxCopierFrame + 1) + "R"},
        {"cut inside the length", std::string("\x05\x00", 2)},
        {"cut inside the payload", Length(10) + "R" + Length(1)},
        {"field longer than its frame", Length(6) + "R" + Length(9) + "x"},
        {"field length cut", Length(3) + "R" + std::string("\x01\x00", 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pipe pipe;
        pipe.Raw(c.bytes);
        pipe.CloseWrite();
        CopierFrame frame;
        errno = 0;
        EXPECT_EQ(-1, ReadCopierFrame(pipe.read, frame));
        EXPECT_EQ(EPROTO, errno);
    }
}

}  // namespace
}  // namespace tessarine::posix
