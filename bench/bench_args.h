// The command line of the benchmark runners (backup_run_bench, restore_run_bench): options
// that take a value ("--port 445") and bare flags ("--mirror"), plus the copier mode both start
// themselves in (their copies go through copier processes as the program's do).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/device_share_factory.h"
#include "platform/posix/share_copier.h"

namespace tessarine::bench {

struct BenchArgs {
    std::map<std::string, std::string> values;  // by option name, "--" included
    std::set<std::string> flags;
    std::string unknown;  // the first argument that is neither; empty when none

    std::string Value(const std::string& name, const std::string& fallback = {}) const {
        const auto found = values.find(name);
        return found == values.end() ? fallback : found->second;
    }
    bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
};

inline BenchArgs ParseBenchArgs(int argc, char** argv, const std::set<std::string>& valued,
                                const std::set<std::string>& flags = {}) {
    BenchArgs args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (valued.count(arg) != 0)
            args.values[arg] = i + 1 < argc ? argv[++i] : std::string();
        else if (flags.count(arg) != 0)
            args.flags.insert(arg);
        else if (args.unknown.empty())
            args.unknown = arg;
    }
    return args;
}

// True (with the copier's exit code in `exitCode`) when started as a copier process.
inline bool RunAsCopier(int argc, char** argv, int& exitCode) {
    if (argc != 2 || std::strcmp(argv[1], kShareCopierOption) != 0) return false;
    exitCode = RunShareCopier(STDIN_FILENO, STDOUT_FILENO);
    return true;
}

// The share options of a runner: the environment's (TESSARINE_SHARE_COPIERS=0 compares with
// one copy at a time), the port asked for, and this program as the copiers.
inline ShareOptions BenchShareOptions(const BenchArgs& args) {
    ShareOptions options = ShareOptionsFromEnvironment();
    options.copierExecutable = "/proc/self/exe";
    options.port = std::stoi(args.Value("--port", "445"));
    options.localRoot = args.Value("--local-root");
    return options;
}

}  // namespace tessarine::bench
