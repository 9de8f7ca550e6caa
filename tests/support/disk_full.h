#pragma once

#include <sys/resource.h>

#include <algorithm>

// While it lives, the disk looks full to this process once a file passes `bytes` (RLIM_INFINITY:
// no change). The process keeps the system's default for a write past the limit (SIGXFSZ, which
// kills): the program itself must turn it into a failed write.
struct DiskFullBeyond {
  explicit DiskFullBeyond(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full{std::min(bytes, old.rlim_cur), old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &full);
  }
  ~DiskFullBeyond() { setrlimit(RLIMIT_FSIZE, &old); }
  rlimit old{};
};
