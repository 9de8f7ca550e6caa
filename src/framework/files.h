#pragma once
// Files as the program sees them: a chosen file, a text stream and a binary
// stream. Every failure raises IOException with the system's error number,
// also a write past the process's file-size limit (EFBIG), which would
// otherwise end the process.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace fw {

// IOException::ErrorNumber when a file that must be new exists already.
inline constexpr int kFileAlreadyExistsError = 104;

class FolderItem {
 public:
  FolderItem() = default;
  explicit FolderItem(std::filesystem::path path) : path_(std::move(path)) {}
  const std::filesystem::path& Path() const { return path_; }
  bool Exists() const;
  // True when nothing is there yet or the path names a regular file (also
  // through a link). A folder, device node, FIFO or socket is none of the
  // program's files: saving must neither delete nor overwrite it.
  bool IsRegularOrAbsent() const;
  // What the path names, for messages: "a file", "a folder", "a device",
  // "a FIFO", "a socket", "a link that leads nowhere", "unreadable" or
  // "nothing". Links are followed.
  std::string Kind() const;
  // Removes the file; IOException when it cannot, and when the path is not a
  // regular file (nothing is touched then).
  void Delete() const;

 private:
  std::filesystem::path path_;
};

// A file being written, new: what the text and the binary stream share.
class OutputFile {
 public:
  virtual ~OutputFile();  // closes quietly if still open
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Writes the bytes unchanged, adding no line end.
  void Write(std::string_view bytes);
  // Flushes and closes; IOException when the data could not be written (a
  // full disk shows here at the latest). A second Close does nothing.
  void Close();

 protected:
  // Creates the file (see the streams' Create).
  OutputFile(const FolderItem& file, bool replace);

 private:
  std::FILE* file_;
  std::filesystem::path path_;  // named in error messages
};

class TextOutputStream : public OutputFile {
 public:
  // Creates the file, in place of a regular file of that name; IOException
  // when it cannot, when the path is not a regular file, and when anything
  // else is at the name by the time of the creation (a link put there is
  // never written through).
  static std::unique_ptr<TextOutputStream> Create(const FolderItem& file);

 private:
  explicit TextOutputStream(const FolderItem& file) : OutputFile(file, true) {}
};

class BinaryStream : public OutputFile {
 public:
  // Creates the file; without overwrite an existing file is an IOException
  // with kFileAlreadyExistsError. With overwrite, as TextOutputStream::Create;
  // a path that is not a regular file is refused either way.
  static std::unique_ptr<BinaryStream> Create(const FolderItem& file, bool overwrite);

 private:
  BinaryStream(const FolderItem& file, bool overwrite) : OutputFile(file, overwrite) {}
};

}  // namespace fw
