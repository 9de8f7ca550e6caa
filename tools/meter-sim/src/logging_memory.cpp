#include "meter_sim/logging_memory.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>

namespace meter_sim {
namespace {

// Small self-contained generator so the memory image is the same with every
// standard library (the std distributions are not).
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t x = (state_ += 0x9E3779B97F4A7C15ull);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  int Int(int lo, int hi) {  // inclusive
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  double LogUniform(double lo, double hi) { return std::exp(Uniform(std::log(lo), std::log(hi))); }
  double Normal() {
    const double u1 = 1.0 - Uniform();  // (0, 1]
    const double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
  }

 private:
  uint64_t state_;
};

using std::chrono::sys_seconds;

sys_seconds ToSys(const DateTime& d) {
  using namespace std::chrono;
  const sys_days day = year{d.year} / month{static_cast<unsigned>(d.month)} /
                       std::chrono::day{static_cast<unsigned>(d.day)};
  return sys_seconds{day} + hours{d.hour} + minutes{d.minute} + seconds{d.second};
}

DateTime FromSys(sys_seconds t) {
  using namespace std::chrono;
  const sys_days day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> hms{t - day};
  return {static_cast<int>(ymd.year()),
          static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day())),
          static_cast<int>(hms.hours().count()),
          static_cast<int>(hms.minutes().count()),
          static_cast<int>(hms.seconds().count())};
}

void PutFloatLe(uint8_t* out, float v) {
  const uint32_t bits = std::bit_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// A slowly wandering level around a session's base value (log domain).
struct Wander {
  double x = 0;
  double Step(Rng& rng, double keep, double noise) {
    x = keep * x + noise * rng.Normal();
    return x;
  }
};

}  // namespace

std::array<uint8_t, kStampBytes> EncodeTimeStamp(const DateTime& when) {
  return {0x55,
          0xAA,
          static_cast<uint8_t>(when.year % 100),
          static_cast<uint8_t>(when.month),
          static_cast<uint8_t>(when.day),
          static_cast<uint8_t>(when.hour),
          static_cast<uint8_t>(when.minute),
          static_cast<uint8_t>(when.second)};
}

uint16_t EncodeMagnetic(double milligauss) {
  long tenths = std::lround(milligauss * 10.0);
  tenths = std::clamp(tenths, 0L, 4095L * 10 + 9);
  return static_cast<uint16_t>(((tenths / 10) << 4) | (tenths % 10));
}

std::array<uint8_t, kSampleBytes> EncodeSample(double milligauss, float volts_per_metre,
                                               float picowatts_per_cm2) {
  std::array<uint8_t, kSampleBytes> r{};
  r[0] = 0xAA;
  r[1] = 0x55;
  const uint16_t b = EncodeMagnetic(milligauss);
  r[2] = static_cast<uint8_t>(b >> 8);
  r[3] = static_cast<uint8_t>(b);
  PutFloatLe(&r[4], volts_per_metre);
  PutFloatLe(&r[8], picowatts_per_cm2);
  return r;
}

MemoryWriter::MemoryWriter(std::size_t limit)
    : image_(kMemoryBytes, kErased), limit_(std::min(limit, kMemoryBytes) & ~std::size_t{1}) {}

bool MemoryWriter::HitsErasedPageEnd(std::size_t at, std::span<const uint8_t> record) const {
  // Records start at even offsets, so a page's last pair lines up with one of
  // the record's own pairs.
  const std::size_t first_page = at / kPageBytes;
  const std::size_t last_page = (at + record.size() - 1) / kPageBytes;
  for (std::size_t p = first_page; p <= last_page; ++p) {
    const std::size_t pair = p * kPageBytes + kPageBytes - 2;
    if (pair >= at && pair + 1 < at + record.size() && record[pair - at] == 0xFF &&
        record[pair - at + 1] == 0xFF) {
      return true;
    }
  }
  return false;
}

bool MemoryWriter::Append(std::span<const uint8_t> record) {
  std::size_t at = offset_;
  std::size_t fillers = 0;
  while (at + record.size() <= limit_ && HitsErasedPageEnd(at, record)) {
    at += 2;  // a 00 00 filler goes in front; it can never look erased
    ++fillers;
  }
  if (at + record.size() > limit_) return false;
  std::fill_n(image_.begin() + static_cast<std::ptrdiff_t>(offset_), 2 * fillers, uint8_t{0});
  std::copy(record.begin(), record.end(), image_.begin() + static_cast<std::ptrdiff_t>(at));
  offset_ = at + record.size();
  fillers_ += fillers;
  return true;
}

void MemoryWriter::PadToLimit() {
  while (offset_ + 2 <= limit_) {
    image_[offset_] = 0;
    image_[offset_ + 1] = 0;
    offset_ += 2;
    ++fillers_;
  }
}

std::vector<uint8_t> BuildLoggingMemory(const MemoryOptions& options) {
  const int pages = std::clamp(options.pages, 0, kPageCount);
  if (pages == 0) return std::vector<uint8_t>(kMemoryBytes, kErased);

  Rng rng(options.seed);
  std::size_t limit = kMemoryBytes;
  if (pages < kPageCount) {
    // The data stops somewhere inside the last page in use, always short of
    // its final pair so that the page reads as the end of the log.
    const std::size_t tail = 2 * static_cast<std::size_t>(rng.Int(32, 2000));
    limit = (pages - 1) * kPageBytes + tail;
  }
  MemoryWriter writer(limit);

  const int interval = std::max(1, options.interval_s);
  const int stamp_every = std::max(1, options.stamp_every);
  const int min_len = std::max(1, options.min_session_samples);
  const int max_len = std::max(min_len, options.max_session_samples);
  sys_seconds now = ToSys(options.start);

  bool full = false;
  while (!full) {
    const int length = rng.Int(min_len, max_len);
    // Each session is taken somewhere else: its own typical levels.
    const double mg_base = rng.LogUniform(0.3, 6.0);
    const double vm_base = rng.LogUniform(3.0, 80.0);
    const double rf_base = rng.LogUniform(0.5, 800.0);
    Wander mg_w, vm_w, rf_w;
    for (int i = 0; i < length && !full; ++i) {
      if (i % stamp_every == 0) {
        full = !writer.Append(EncodeTimeStamp(FromSys(now)));
        if (full) break;
      }
      double mg = std::clamp(mg_base * std::exp(mg_w.Step(rng, 0.97, 0.08)), 0.1, 50.0);
      if (rng.Uniform() < 0.01) mg *= rng.Uniform(4.0, 15.0);  // a motor or heater nearby
      mg = std::min(mg, 400.0);
      const double vm = std::clamp(vm_base * std::exp(vm_w.Step(rng, 0.95, 0.06)), 1.0, 300.0);
      double rf = rf_base * std::exp(rf_w.Step(rng, 0.9, 0.25));
      if (rng.Uniform() < 0.005) rf *= rng.Uniform(5.0, 20.0);  // a phone call
      rf = std::clamp(rf, 0.01, 5000.0);
      full = !writer.Append(EncodeSample(mg, static_cast<float>(vm), static_cast<float>(rf)));
      now += std::chrono::seconds(interval);
    }
    // The logger was off for a while before the next session.
    now += std::chrono::seconds(static_cast<int>(rng.Uniform(20 * 60, 30 * 3600)));
  }
  if (pages == kPageCount) writer.PadToLimit();
  return writer.TakeImage();
}

std::vector<uint8_t> LoadLoggingMemory(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open memory file " + path);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read memory file " + path);
  if (data.size() > kMemoryBytes) {
    throw std::runtime_error("memory file " + path + " is larger than 1 MiB");
  }
  data.resize(kMemoryBytes, kErased);
  return data;
}

int PagesInUse(std::span<const uint8_t> memory) {
  const std::size_t pages = std::min(memory.size(), kMemoryBytes) / kPageBytes;
  for (std::size_t p = 0; p < pages; ++p) {
    const std::size_t end = (p + 1) * kPageBytes;
    if (memory[end - 2] == kErased && memory[end - 1] == kErased) {
      const auto page = memory.subspan(p * kPageBytes, kPageBytes);
      const bool blank =
          std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == kErased; });
      return static_cast<int>(blank ? p : p + 1);
    }
  }
  return static_cast<int>(pages);
}

}  // namespace meter_sim
