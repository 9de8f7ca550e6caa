#pragma once

#include <cstdint>
#include <string>

namespace fw {

// What the transfers need of a serial line; the real Serial and the tests' scripted lines
// implement it.
class SerialLine {
 public:
  virtual ~SerialLine() = default;
  // Every byte, unchanged.
  virtual void Write(const std::string& bytes) = 0;
  // At once: every byte received and not yet read, possibly none.
  virtual std::string ReadAll() = 0;
  // Which opening of the line this is: a new number at every Open, 0 while the line is closed or
  // once its device has gone away. Work begun on one connection must not go on on another, even
  // on the same port.
  virtual std::uint64_t Connection() const = 0;
};

}  // namespace fw
