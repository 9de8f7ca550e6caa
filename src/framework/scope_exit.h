#pragma once
// Runs a piece of code when a scope ends, however it ends: a return, an
// exception, or a killed worker unwinding. The code must not throw.

#include <utility>

namespace fw {

template <class Code>
class ScopeExit {
 public:
  explicit ScopeExit(Code code) : code_(std::move(code)) {}
  ~ScopeExit() { code_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Code code_;
};

}  // namespace fw
