#pragma once
// Failures of the framework layer. Program handlers let them pass; the dispatch
// boundary reports them and the program keeps running.

#include <stdexcept>
#include <string>

namespace fw {

class RuntimeException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failed file or device operation, with the system's error number.
class IOException : public RuntimeException {
 public:
  IOException(int errorNumber, const std::string& message)
      : RuntimeException(message), error_number_(errorNumber) {}
  int ErrorNumber() const { return error_number_; }

 private:
  int error_number_;
};

class NilObjectException : public RuntimeException {
 public:
  using RuntimeException::RuntimeException;
};

class OutOfBoundsException : public RuntimeException {
 public:
  using RuntimeException::RuntimeException;
};

// A visual control was touched from a worker thread.
class ThreadAccessingUIException : public RuntimeException {
 public:
  using RuntimeException::RuntimeException;
};

}  // namespace fw
