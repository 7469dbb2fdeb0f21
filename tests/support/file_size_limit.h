#pragma once

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace quenlo::testing {

// A limit on the size of the files this process writes, while it lives (none on Windows).
struct FileSizeLimit {
#ifndef _WIN32
    explicit FileSizeLimit(long bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limit{bytes > 0 ? static_cast<rlim_t>(bytes) : saved.rlim_cur, saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
    }
    rlimit saved{};
#else
    explicit FileSizeLimit(long) {}
#endif
};

}  // namespace quenlo::testing
