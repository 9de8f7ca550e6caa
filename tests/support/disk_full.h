#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>

// While it lives, the disk looks full to this process once a file passes `bytes` (RLIM_INFINITY:
// no change).
struct DiskFullBeyond {
  explicit DiskFullBeyond(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full{std::min(bytes, old.rlim_cur), old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &full);
  }
  ~DiskFullBeyond() { setrlimit(RLIMIT_FSIZE, &old); }
  rlimit old{};
};
