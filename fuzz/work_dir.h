// The folder a fuzz target writes its inputs into as files: made once per process, on tmpfs
// where there is one (every save syncs its file).
#pragma once

#include <unistd.h>

#include <string>

namespace ruvalda::fuzz {

inline const std::string& work_dir() {
    static const std::string dir = [] {
        char shm[] = "/dev/shm/ruvalda-fuzz-XXXXXX";
        if (const char* made = ::mkdtemp(shm)) return std::string(made);
        char pattern[] = "/tmp/ruvalda-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

}  // namespace ruvalda::fuzz
