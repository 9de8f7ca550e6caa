#pragma once
// Pieces of the cooperative layer that its own files share. Program code does
// not use them; the layer's tests do.

namespace fw::coop {

// What a killed worker unwinds with. Deliberately not a std::exception, so
// program code that catches std::exception cannot stop the unwinding.
struct ThreadKilled final {};

// How many threads wait for the program lock at this moment.
int ProgramLockWaiterCount();

// How many unhandled exceptions ReportUnhandledException has reported since
// the process started.
int UnhandledExceptionReportCount();

}  // namespace fw::coop
