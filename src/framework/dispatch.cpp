#include "framework/dispatch.h"

#include <cxxabi.h>

#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>

#include "framework/coop_internal.h"
#include "framework/desktop.h"
#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "framework/thread.h"

namespace fw {
namespace {

std::atomic<int> g_report_count{0};

std::string TypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> readable(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && readable ? std::string(readable.get()) : std::string(type.name());
}

void ShowReport(const std::string& text) {
  try {
    MsgBox(text);
  } catch (...) {
    // A report that cannot be shown must not start another report.
    std::fputs("maglyx: the report above could not be shown\n", stderr);
  }
}

// Text that the report shows for an exception.
std::string DescribeException(std::exception_ptr error) {
  if (!error) return "Unhandled exception (none recorded)";
  try {
    std::rethrow_exception(error);
  } catch (const IOException& e) {
    return "Unhandled exception " + TypeName(typeid(e)) + ": " + e.what() + " (error number " +
           std::to_string(e.ErrorNumber()) + ")";
  } catch (const std::exception& e) {
    return "Unhandled exception " + TypeName(typeid(e)) + ": " + e.what();
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    return "Unhandled exception of type " + (type ? TypeName(*type) : std::string("unknown"));
  }
}

}  // namespace

void Dispatch(const std::function<void()>& code) {
  try {
    ProgramLockHolder hold;
    code();
  } catch (const coop::ThreadKilled&) {
    // A worker that was killed must keep unwinding to its end.
    throw;
  } catch (...) {
    ReportUnhandledException(std::current_exception());
  }
}

void ReportUnhandledException(std::exception_ptr error) {
  g_report_count.fetch_add(1);
  try {
    const std::string text = DescribeException(error);
    std::fprintf(stderr, "maglyx: %s\n", text.c_str());
    std::fflush(stderr);
    if (IsUserInterfaceThread()) {
      // At once, as the failing handler returns: a failure before the event
      // loop runs must still be seen.
      ShowReport(text);
    } else if (QCoreApplication* app = QCoreApplication::instance()) {
      // A worker cannot open a box; the user-interface thread shows it.
      QMetaObject::invokeMethod(
          app, [text] { ShowReport(text); }, Qt::QueuedConnection);
    }
  } catch (...) {
    std::fputs("maglyx: an unhandled exception could not be reported\n", stderr);
  }
}

int coop::UnhandledExceptionReportCount() { return g_report_count.load(); }

}  // namespace fw
