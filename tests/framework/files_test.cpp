// Files: what is written arrives unchanged, and every failure - a full disk
// included - reaches the caller as an IOException with the error number.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>

#include "framework/exceptions.h"
#include "framework/files.h"

namespace {

class FilesTest : public testing::Test {
 protected:
  fw::FolderItem Item(const std::string& name) const {
    return fw::FolderItem(std::filesystem::path(dir_.path().toStdString()) / name);
  }
  static std::string Contents(const fw::FolderItem& item) {
    std::ifstream in(item.Path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  QTemporaryDir dir_;
};

TEST_F(FilesTest, WhatIsWrittenArrivesUnchanged) {
  const auto file = Item("history.csv");
  const std::string text("time;value\r\n1;-0.5\n\0x", 21);
  std::ofstream(file.Path()) << "an older, longer file than the text";
  auto stream = fw::TextOutputStream::Create(file);  // starts afresh
  stream->Write(text);
  stream->Close();
  stream->Close();  // a second Close does nothing
  EXPECT_EQ(Contents(file), text);
  auto out = fw::BinaryStream::Create(file, true);
  out->WriteUInt8(0x00);
  out->WriteUInt8(0xFF);
  out->Close();
  EXPECT_EQ(Contents(file), (std::string{'\0', '\xFF'}));
  file.Delete();
  EXPECT_FALSE(file.Exists());
}

TEST_F(FilesTest, FailuresRaiseIOExceptionWithTheErrorNumber) {
  const auto existing = Item("face.bin"), inMissingFolder = Item("no-such-folder/history.csv");
  std::ofstream(existing.Path()) << "kept";
  const fw::FolderItem device(std::filesystem::path("/dev/full"));
  const auto folder = Item("a-folder"), fifo = Item("a-fifo");
  std::filesystem::create_directory(folder.Path());
  ASSERT_EQ(::mkfifo(fifo.Path().c_str(), 0600), 0);
  const std::tuple<const char*, std::function<void()>, int> cases[] = {
      {"create without overwrite on an existing file",
       [&] { fw::BinaryStream::Create(existing, false); }, 104},
      {"create in a missing folder", [&] { fw::TextOutputStream::Create(inMissingFolder); },
       ENOENT},
      {"delete a missing file", [&] { inMissingFolder.Delete(); }, ENOENT},
      {"a full disk, at the latest on Close",
       [&] {
         auto stream = fw::TextOutputStream::Create(Item("big.csv"));
         stream->Write(std::string(8192, 'x'));
         stream->Close();
       },
       EFBIG},
      // Saving never truncates, opens or unlinks what is not a regular file.
      {"create on a device", [&] { fw::TextOutputStream::Create(device); }, EPERM},
      {"create on a FIFO (would block)", [&] { fw::BinaryStream::Create(fifo, true); }, EPERM},
      {"delete a device", [&] { device.Delete(); }, EPERM},
      {"delete a folder", [&] { folder.Delete(); }, EPERM},
  };
  // The disk is "full" past 4 KB for this process while the cases run.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  for (const auto& [what, code, error] : cases) {
    int raised = -1;  // none
    try {
      code();
    } catch (const fw::IOException& e) {
      raised = e.ErrorNumber();
    }
    EXPECT_EQ(raised, error) << what;
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(Contents(existing), "kept") << "a refused create must leave the file alone";
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path()));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo.Path()));
  EXPECT_TRUE(Item("new.csv").IsRegularOrAbsent());
  EXPECT_TRUE(existing.IsRegularOrAbsent());
}

}  // namespace
