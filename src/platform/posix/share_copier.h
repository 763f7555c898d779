// The program's hidden copier mode: a process of its own that copies files to the device share
// (and, for a restore, from it) over its own SMB connection, so that several copies are in flight
// at once (the SMB library serves one request at a time per process). Started by CopierPool with
// kShareCopierOption as its only argument; requests come on standard input and answers go to
// standard output (see copier_channel.h). The password comes over the pipe, never on the command
// line or in the environment.
#pragma once

namespace tessarine {

inline constexpr char kShareCopierOption[] = "--share-copier";

// Serves copy requests from `in`, answering on `out`, until `in` ends. Returns the process's
// exit code: 0 when the program closed the requests, 1 when the log-on or the pipe failed, 2
// when the first message was not a log-on.
int RunShareCopier(int in, int out);

}  // namespace tessarine
