// Files: what is written arrives unchanged, and every failure - a full disk
// included - reaches the caller as an IOException with the error number.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cerrno>
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
  // The error number of the IOException that `code` raises; -1 for none.
  static int ErrorOf(const std::function<void()>& code) {
    try {
      code();
    } catch (const fw::IOException& e) {
      return e.ErrorNumber();
    }
    return -1;
  }
  QTemporaryDir dir_;
};

TEST_F(FilesTest, WhatIsWrittenArrivesUnchanged) {
  const auto text = Item("history.csv");
  auto stream = fw::TextOutputStream::Create(text);
  stream->Write("time;value\r\n");
  stream->Write(std::string("1;-0.5\n\0x", 9));
  stream->Close();
  stream->Close();  // a second Close does nothing
  EXPECT_EQ(Contents(text), std::string("time;value\r\n1;-0.5\n\0x", 21));
  stream = fw::TextOutputStream::Create(text);  // starts afresh
  stream->Write("new");
  stream->Close();
  EXPECT_EQ(Contents(text), "new");
  text.Delete();
  EXPECT_FALSE(text.Exists());

  const auto binary = Item("face.bin");
  auto out = fw::BinaryStream::Create(binary, false);
  out->WriteUInt8(0x00);
  out->WriteUInt8(0xFF);
  out->Write("AB");
  out->Close();
  EXPECT_EQ(Contents(binary), (std::string{'\0', '\xFF', 'A', 'B'}));
  out = fw::BinaryStream::Create(binary, true);
  out->WriteUInt8(7);
  out->Close();
  EXPECT_EQ(Contents(binary), "\x07");
}

TEST_F(FilesTest, FailuresRaiseIOExceptionWithTheErrorNumber) {
  const auto existing = Item("face.bin");
  std::ofstream(existing.Path()) << "kept";
  const auto inMissingFolder = Item("no-such-folder/history.csv");
  const fw::FolderItem full(std::filesystem::path("/dev/full"));
  const std::tuple<const char*, std::function<void()>, int> cases[] = {
      {"create without overwrite on an existing file",
       [&] { fw::BinaryStream::Create(existing, false); }, 104},
      {"create in a missing folder", [&] { fw::TextOutputStream::Create(inMissingFolder); },
       ENOENT},
      {"delete a missing file", [&] { inMissingFolder.Delete(); }, ENOENT},
      {"full disk, at the latest on Close",
       [&] {
         auto stream = fw::TextOutputStream::Create(full);
         stream->Write("a line that the disk cannot take\n");
         stream->Close();
       },
       ENOSPC},
  };
  for (const auto& [what, code, error] : cases) EXPECT_EQ(ErrorOf(code), error) << what;
  EXPECT_EQ(Contents(existing), "kept") << "a refused create must leave the file alone";
}

}  // namespace
