#include "platform/posix/share_copier.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/copier_channel.h"
#include "platform/posix/smb_share.h"

namespace tessarine {

namespace {

using posix::CopierFrame;
using posix::CopierMessage;

bool ToOffset(const std::string& text, std::uint64_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

int ToInt(const std::string& text, int fallback) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

// Between two blocks of a copy: true when the program asked to stop it, or is gone (its end
// of the requests closed; `inputEnded` is then set).
bool StopAsked(int in, bool& inputEnded) {
    if (inputEnded) return true;
    pollfd waiting{in, POLLIN, 0};
    if (::poll(&waiting, 1, 0) <= 0) return false;
    CopierFrame frame;
    if (posix::ReadCopierFrame(in, frame) == 1 && frame.kind == CopierMessage::kCancel) return true;
    // The end of the requests, or something that is not a request: nothing more will come.
    inputEnded = true;
    return true;
}

// A listing's answer; one too large for a frame is answered EMSGSIZE (the program lists it
// itself then).
bool AnswerListing(int out, const IoResult<std::vector<ShareEntry>>& listed) {
    std::vector<std::string> fields{std::to_string(listed.error)};
    std::size_t bytes = 64;
    for (const ShareEntry& entry : listed.value) {
        fields.push_back(entry.name);
        fields.push_back(entry.isFolder ? "1" : "0");
        fields.push_back(std::to_string(entry.size));
        fields.push_back(std::to_string(static_cast<long long>(entry.lastWriteTime)));
        for (std::size_t i = fields.size() - 4; i < fields.size(); ++i)
            bytes += 4 + fields[i].size();
    }
    if (bytes > posix::kMaxCopierFrame) fields = {std::to_string(EMSGSIZE)};
    return posix::WriteCopierFrame(out, CopierMessage::kResult, fields);
}

}  // namespace

int RunShareCopier(int in, int out) {
    // The program decides when copies stop: a Ctrl-C or a SIGTERM meant for it reaches its
    // copiers too, and they end when it closes their requests (or dies: see CopierPool).
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGTERM, SIG_IGN);

    CopierFrame frame;
    if (posix::ReadCopierFrame(in, frame) != 1 || frame.kind != CopierMessage::kConnect ||
        frame.fields.size() < 5 || frame.fields.size() > 7)
        return 2;
    SmbShare share(ToInt(frame.fields[3], SmbShare::kDefaultPort),
                   ToInt(frame.fields[4], SmbShare::kDefaultTimeoutMs));
    if (frame.fields.size() >= 6) share.SetCopySender(frame.fields[5]);
    if (frame.fields.size() >= 7) share.SetLogOnShare(frame.fields[6]);
    const int connected = share.Connect(frame.fields[0], frame.fields[1], frame.fields[2]);
    std::fill(frame.fields[2].begin(), frame.fields[2].end(), '\0');
    if (!posix::WriteCopierFrame(out, CopierMessage::kResult, {std::to_string(connected)}))
        return 1;
    if (connected != kShareConnected && connected != kShareCredentialConflict) return 1;

    std::atomic<int> cancel{0};
    bool inputEnded = false;
    share.SetBlockObserver([&](std::uint64_t) {
        if (StopAsked(in, inputEnded)) cancel.store(1);
    });
    for (;;) {
        const int got = posix::ReadCopierFrame(in, frame);
        if (got == 0) return 0;
        if (got < 0) return 1;
        if (frame.kind == CopierMessage::kCancel) continue;  // its copy had already ended
        IoStatus copied;
        if (frame.kind == CopierMessage::kCopy && frame.fields.size() == 3) {
            cancel.store(0);
            const CopyRequest request{frame.fields[0], frame.fields[1], frame.fields[2] == "1"};
            copied = share.CopyRequestToShare(request, &cancel);
        } else if (frame.kind == CopierMessage::kWriteRange && frame.fields.size() == 4) {
            std::uint64_t offset = 0;
            std::uint64_t length = 0;
            if (!ToOffset(frame.fields[2], offset) || !ToOffset(frame.fields[3], length)) return 1;
            cancel.store(0);
            copied = share.WriteRange(frame.fields[0], frame.fields[1], offset, length, &cancel);
        } else if (frame.kind == CopierMessage::kFetch && frame.fields.size() == 2) {
            cancel.store(0);
            copied = share.CopyFromShare(frame.fields[0], frame.fields[1], &cancel);
        } else if (frame.kind == CopierMessage::kList && frame.fields.size() == 1) {
            if (!AnswerListing(out, share.List(frame.fields[0], "*"))) return 1;
            if (inputEnded) return 0;
            continue;
        } else {
            return 1;
        }
        if (!posix::WriteCopierFrame(out, CopierMessage::kResult, {std::to_string(copied.error)}))
            return 1;
        if (inputEnded) return 0;
    }
}

}  // namespace tessarine
