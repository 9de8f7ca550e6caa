// The program's own CPU time with the live mirror running: the window
// (offscreen) connected to the meter simulator, paced like the real line and
// run as a separate process so that its work is not counted, then the same
// window disconnected. Target: under 2% of one core while connected.
//
// Usage: mirror_cpu_bench [seconds per phase] [rounds]   (default 20 s, 3 rounds)

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/app.h"
#include "mainwindow/maglyx.h"

extern char** environ;

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU share of one core over `seconds` of the event loop; counts the
// captured frames meanwhile.
double Measure(MAGLYX& window, int seconds, int& frames) {
  frames = 0;
  fw::Picture last = window.ScreenV;
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    QTest::qWait(50);
    if (window.ScreenV != last) ++frames, last = window.ScreenV;
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return 100.0 * (CpuSeconds() - cpu) / wall;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each round as it ends, also into a file

  // The simulator in its own process; its first line is the device.
  int out[2];
  if (pipe(out) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char* simArgs[] = {const_cast<char*>(MAGLYX_METER_SIM), nullptr};
  pid_t sim = 0;
  if (posix_spawn(&sim, MAGLYX_METER_SIM, &actions, nullptr, simArgs, environ) != 0) return 1;
  close(out[1]);
  std::string device;
  char ch = 0;
  while (read(out[0], &ch, 1) == 1 && ch != '\n') device += ch;
  setenv("MAGLYX_EXTRA_PORTS", device.c_str(), 1);

  App app;
  fw::Application::Register(&app);
  fw::SetPortSource(fw::MakeSystemPortSource());
  int status = 0;
  {
    MAGLYX window;
    window.RefreshPorts()->click();
    window.SerialPortsPopupMenu()->setCurrentIndex(window.SerialPortsPopupMenu()->count() - 1);
    std::vector<double> connected, disconnected;
    int frames = 0;
    for (int round = 0; round < rounds; ++round) {
      window.ConnectButton()->click();
      connected.push_back(Measure(window, seconds, frames));
      std::printf("connected:    %5.2f%% of a core, %d frames in %d s\n", connected.back(), frames,
                  seconds);
      if (frames == 0) status = 1;
      window.ConnectButton()->click();
      disconnected.push_back(Measure(window, seconds, frames));
      std::printf("disconnected: %5.2f%% of a core\n", disconnected.back());
    }
    std::printf("median connected: %.2f%% (target: under 2%%), disconnected: %.2f%%\n",
                Median(connected), Median(disconnected));
  }
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  return status;
}
