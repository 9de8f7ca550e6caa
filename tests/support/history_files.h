#pragma once
// What a history download must leave on disk, and what it left.

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "history/history_csv.h"

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The decoder's CSV for the first `readLength` bytes of the meter's memory.
inline std::string ExpectedCsv(const std::vector<std::uint8_t>& memory, std::size_t readLength) {
  std::vector<std::uint8_t> image(memory.begin(), memory.begin() + readLength);
  image.resize(1048576, 0);
  std::string csv;
  WriteHistoryCsv(image, readLength, [&](std::string_view t) { csv += t; }, {});
  return csv;
}

// While it lives, the disk looks full to this process once a file passes `bytes`.
struct DiskFullBeyond {
  explicit DiskFullBeyond(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &full);
  }
  ~DiskFullBeyond() { setrlimit(RLIMIT_FSIZE, &old); }
  rlimit old{};
};
