#pragma once
// The boundary between the event loop and program code.

#include <exception>
#include <functional>

namespace fw {

// Runs one piece of program code from an event: takes the program lock (or
// nests inside it when this thread already holds it), runs `code`, and hands
// any exception that escapes to ReportUnhandledException. Never throws, except
// that the unwinding of a killed worker passes through.
void Dispatch(const std::function<void()>& code);

// The framework's handling of an exception that no program code caught: writes
// it to stderr and shows it in a message box, then the program carries on. On
// the user-interface thread the box shows before this returns; from a worker
// it is posted to the user-interface thread. Safe to call from any thread.
void ReportUnhandledException(std::exception_ptr error);

}  // namespace fw
