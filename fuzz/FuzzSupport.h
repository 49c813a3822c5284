#pragma once

// What every fuzz target needs besides its input: a way to fail loudly when a result breaks what
// callers count on, and a throwaway directory for the files a target writes.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

namespace fuzz {

inline void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

// A new directory named for `name`. Settings are written with fsync: keep them in memory-backed
// storage when the machine has it, else under $TMPDIR, so fuzz/run.sh can clear them after a crash.
inline std::string scratchDirectory(const std::string& name)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string root = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp");
    std::string pattern = root + "/street-fuzz-" + name + "XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("street-fuzz: mkdtemp");
        std::abort();
    }
    return pattern;
}

} // namespace fuzz
