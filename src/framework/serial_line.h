#pragma once

#include <string>

namespace fw {

// What the transfers need of a serial line; the real Serial and the tests' scripted lines
// implement it.
class SerialLine {
 public:
  virtual ~SerialLine() = default;
  virtual void Write(const std::string& bytes) = 0;  // every byte, unchanged
  virtual std::string
  ReadAll() = 0;  // at once: every byte received and not yet read, possibly none
};

}  // namespace fw
