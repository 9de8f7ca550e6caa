#pragma once
// Files as the program sees them: a chosen file, a text stream and a binary
// stream. Every failure raises IOException with the system's error number.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace fw {

class FolderItem {
 public:
  FolderItem() = default;
  explicit FolderItem(std::filesystem::path path) : path_(std::move(path)) {}
  const std::filesystem::path& Path() const { return path_; }
  std::string Name() const { return path_.filename().string(); }
  bool Exists() const;
  // Removes the file; IOException when it cannot.
  void Delete() const;

 private:
  std::filesystem::path path_;
};

class TextOutputStream {
 public:
  // Creates (or truncates) the file; IOException when it cannot.
  static std::unique_ptr<TextOutputStream> Create(const FolderItem& file);
  ~TextOutputStream();  // closes quietly if still open
  // Writes the text unchanged, adding no line end.
  void Write(std::string_view text);
  // Flushes and closes; IOException when the data could not be written (a
  // full disk shows here at the latest). A second Close does nothing.
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

 private:
  explicit TextOutputStream(std::FILE* file) : file_(file) {}
  std::FILE* file_;
};

class BinaryStream {
 public:
  // Creates the file; without overwrite an existing file is an IOException.
  static std::unique_ptr<BinaryStream> Create(const FolderItem& file, bool overwrite);
  ~BinaryStream();
  void WriteUInt8(std::uint8_t value);
  void Write(std::string_view bytes);
  void Close();

 private:
  explicit BinaryStream(std::FILE* file) : file_(file) {}
  std::FILE* file_;
};

}  // namespace fw
