// The meter-sim program run as a child process, as run.sh starts it.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "pty_client.h"

namespace sim_test {
namespace {

TEST(Program, PrintsTheSlaveServesItAndCleansUpOnSigterm) {
  const std::filesystem::path link =
      std::filesystem::temp_directory_path() / ("meter_sim_link_" + std::to_string(::getpid()));
  std::filesystem::remove(link);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  struct Child {
    pid_t pid;
    ~Child() {
      if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  } child{fork()};
  if (child.pid == 0) {
    dup2(out[1], 1);
    execl(METER_SIM_EXE, "meter-sim", "--unpaced", "--link", link.c_str(), nullptr);
    _exit(127);
  }
  ASSERT_GT(child.pid, 0);
  close(out[1]);

  std::string slave;
  char c = 0;
  pollfd p{out[0], POLLIN, 0};
  while (poll(&p, 1, 15000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') slave += c;
  close(out[0]);
  std::error_code ec;  // the first line is the device the link points to
  EXPECT_EQ(std::filesystem::read_symlink(link, ec).string(), slave) << ec.message();
  {
    PtyClient client(link.string());
    const std::string version = meter_sim::MeterConfig{}.version;
    client.Write(meter_sim::MakeFrame("GETVER"));
    EXPECT_EQ(client.Read(version.size()), Bytes(version));
  }

  kill(child.pid, SIGTERM);
  int status = 0;
  pid_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + kSafetyTimeout;
  while ((done = waitpid(child.pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(done, child.pid) << "meter-sim did not exit on SIGTERM";
  child.pid = 0;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

}  // namespace
}  // namespace sim_test
