// Files: what is written arrives unchanged, and every failure - a full disk
// included - reaches the caller as an IOException.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "framework/exceptions.h"
#include "framework/files.h"

namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("maglyx-files-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fw::FolderItem Item(const std::string& name) const { return fw::FolderItem(dir_ / name); }

  static std::string Contents(const fw::FolderItem& item) {
    std::ifstream in(item.Path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

// Runs `code`, expecting an IOException; returns it for inspection.
template <typename Code>
fw::IOException ExpectIOException(Code code) {
  try {
    code();
  } catch (const fw::IOException& e) {
    return e;
  }
  ADD_FAILURE() << "no IOException";
  return fw::IOException(0, "");
}

TEST_F(FilesTest, TextStreamWritesExactlyWhatItIsGiven) {
  const auto item = Item("history.csv");
  EXPECT_FALSE(item.Exists());
  auto stream = fw::TextOutputStream::Create(item);
  stream->Write("time;value\r\n");
  stream->Write("");
  stream->Write(std::string("1;-0.5\n\0x", 9));
  stream->Close();
  EXPECT_FALSE(stream->IsOpen());
  stream->Close();  // a second Close does nothing

  EXPECT_TRUE(item.Exists());
  EXPECT_EQ(Contents(item), std::string("time;value\r\n1;-0.5\n\0x", 21));

  // Creating again starts the file afresh.
  auto again = fw::TextOutputStream::Create(item);
  again->Write("new");
  again->Close();
  EXPECT_EQ(Contents(item), "new");

  item.Delete();
  EXPECT_FALSE(item.Exists());
}

TEST_F(FilesTest, WritingAfterCloseFails) {
  auto stream = fw::TextOutputStream::Create(Item("closed.txt"));
  stream->Close();
  ExpectIOException([&] { stream->Write("late"); });
}

TEST_F(FilesTest, FullDiskShowsAtTheLatestAtClose) {
  const fw::FolderItem full(fs::path("/dev/full"));
  if (!full.Exists()) GTEST_SKIP() << "this system has no full device";

  auto text = fw::TextOutputStream::Create(full);
  text->Write("a line that the disk cannot take\n");
  const auto onClose = ExpectIOException([&] { text->Close(); });
  EXPECT_EQ(onClose.ErrorNumber(), ENOSPC);
  EXPECT_NE(std::string(onClose.what()).find("/dev/full"), std::string::npos) << onClose.what();
  EXPECT_FALSE(text->IsOpen());

  // More than a buffer's worth fails already while writing.
  auto binary = fw::BinaryStream::Create(full, true);
  const auto onWrite = ExpectIOException([&] {
    binary->Write(std::string(1 << 20, 'x'));
    binary->Close();
  });
  EXPECT_EQ(onWrite.ErrorNumber(), ENOSPC);
}

TEST_F(FilesTest, BinaryStreamRefusesToOverwriteUnlessAsked) {
  const auto item = Item("face.bin");
  auto first = fw::BinaryStream::Create(item, false);
  first->WriteUInt8(0x00);
  first->WriteUInt8(0xFF);
  first->Write("AB");
  first->Close();
  EXPECT_EQ(Contents(item), std::string("\x00\xFF"
                                        "AB",
                                        4));

  const auto refused = ExpectIOException([&] { fw::BinaryStream::Create(item, false); });
  EXPECT_EQ(refused.ErrorNumber(), fw::kFileAlreadyExistsError);
  EXPECT_EQ(refused.ErrorNumber(), 104);
  EXPECT_NE(std::string(refused.what()).find("face.bin"), std::string::npos) << refused.what();
  EXPECT_EQ(Contents(item).size(), 4u) << "a refused create must leave the file alone";

  auto replaced = fw::BinaryStream::Create(item, true);
  replaced->WriteUInt8(7);
  replaced->Close();
  EXPECT_EQ(Contents(item), "\x07");
}

TEST_F(FilesTest, FailuresNameTheFileAndTheReason) {
  const auto missing = Item("missing.csv");
  const auto onDelete = ExpectIOException([&] { missing.Delete(); });
  EXPECT_EQ(onDelete.ErrorNumber(), ENOENT);
  EXPECT_NE(std::string(onDelete.what()).find("missing.csv"), std::string::npos);

  const fw::FolderItem inMissingFolder(dir_ / "no-such-folder" / "history.csv");
  const auto onCreate = ExpectIOException([&] { fw::TextOutputStream::Create(inMissingFolder); });
  EXPECT_EQ(onCreate.ErrorNumber(), ENOENT);
  EXPECT_NE(std::string(onCreate.what()).find("no-such-folder"), std::string::npos);

  const auto onBinaryCreate =
      ExpectIOException([&] { fw::BinaryStream::Create(inMissingFolder, false); });
  EXPECT_EQ(onBinaryCreate.ErrorNumber(), ENOENT);
}

}  // namespace
