#include "framework/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "framework/exceptions.h"

namespace fw {
namespace {

[[noreturn]] void Fail(int error, const std::string& what, const std::filesystem::path& path) {
  if (error == 0) error = EIO;  // a failure the C library did not explain
  throw IOException(error, what + " \"" + path.string() + "\": " + std::strerror(error));
}

// A write past the process's file-size limit (ulimit -f) is answered by the
// kernel with SIGXFSZ, whose default ends the process: no message, and a file
// cut at the limit left under the chosen name. Ignored, the same write fails
// with EFBIG like a full disk, and the saves' ordinary error path removes the
// file and says why. Done here, before the first file is made, rather than at
// start-up: this layer makes every file the program writes, so the promise
// that a failed write is an IOException holds in any process that uses it.
// A handler that someone else installed is left alone.
void KeepFileSizeLimitAWriteFailure() {
  static const bool done = [] {
    struct sigaction current {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      ::sigaction(SIGXFSZ, &ignore, nullptr);
    }
    return true;
  }();
  (void)done;
}

// Refuses a folder, device node, FIFO, socket or a link that leads nowhere:
// opening a FIFO for writing would block, and truncating or unlinking a device
// is never a save.
void RequireRegularOrAbsent(const FolderItem& item, const char* what) {
  if (!item.IsRegularOrAbsent())
    throw IOException(EPERM, std::string(what) + " \"" + item.Path().string() + "\": it is " +
                                 item.Kind() + ", not a regular file");
}

// Creates the file new. O_EXCL never opens what is already at the name, so
// nothing put there after the caller's checks (a link to a file elsewhere, a
// FIFO) is written through or truncated: the creation fails instead.
std::FILE* OpenNew(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) {
      std::error_code ec;
      const bool link = std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec));
      throw IOException(kFileAlreadyExistsError,
                        "Cannot create \"" + path.string() +
                            "\": " + (link ? "a link is in its place" : "the file exists already"));
    }
    Fail(error, "Cannot create", path);
  }
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    const int error = errno;
    ::close(fd);
    Fail(error, "Cannot create", path);
  }
  return file;
}

// Makes way for a replacing create: a regular file of that name goes. Looked
// at without following links, so a link stays, and OpenNew then refuses it.
void RemoveRegularFile(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail(errno, "Cannot replace", path);
}

// What every create does first.
std::FILE* MakeFile(const FolderItem& item, bool replace) {
  KeepFileSizeLimitAWriteFailure();
  RequireRegularOrAbsent(item, "Cannot create");
  if (replace) RemoveRegularFile(item.Path());
  return OpenNew(item.Path());
}

void WriteBytes(std::FILE* file, const std::filesystem::path& path, const void* data,
                std::size_t size) {
  if (file == nullptr) Fail(EBADF, "Cannot write to the closed file", path);
  if (size == 0) return;
  errno = 0;
  if (std::fwrite(data, 1, size, file) != size) Fail(errno, "Cannot write", path);
}

// Flushes and closes; the stream is closed afterwards whatever happened. A
// write that failed earlier, or data the disk could not take, fails here.
void CloseFile(std::FILE*& file, const std::filesystem::path& path) {
  if (file == nullptr) return;
  std::FILE* closing = file;
  file = nullptr;
  int error = 0;
  errno = 0;
  if (std::fflush(closing) != 0) error = errno != 0 ? errno : EIO;
  if (error == 0 && std::ferror(closing)) error = EIO;
  errno = 0;
  if (std::fclose(closing) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (error != 0) Fail(error, "Cannot write", path);
}

}  // namespace

bool FolderItem::Exists() const {
  std::error_code ec;
  return std::filesystem::exists(path_, ec);
}

bool FolderItem::IsRegularOrAbsent() const {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path_, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    // A dangling link is no file of ours either; plain absence is fine.
    return !std::filesystem::is_symlink(std::filesystem::symlink_status(path_, ec));
  }
  return !ec && std::filesystem::is_regular_file(status);
}

std::string FolderItem::Kind() const {
  namespace fs = std::filesystem;
  std::error_code ec;
  switch (fs::status(path_, ec).type()) {
    case fs::file_type::regular:
      return "a file";
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    default:
      // Not found, or not reached (a loop of links, a folder that may not be read).
      if (fs::is_symlink(fs::symlink_status(path_, ec))) return "a link that leads nowhere";
      return ec && ec != std::errc::no_such_file_or_directory ? "unreadable" : "nothing";
  }
}

void FolderItem::Delete() const {
  RequireRegularOrAbsent(*this, "Cannot delete");
  std::error_code ec;
  const bool removed = std::filesystem::remove(path_, ec);
  if (ec)
    throw IOException(ec.value(), "Cannot delete \"" + path_.string() + "\": " + ec.message());
  if (!removed) Fail(ENOENT, "Cannot delete", path_);
}

OutputFile::OutputFile(const FolderItem& file, bool replace)
    : file_(MakeFile(file, replace)), path_(file.Path()) {}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void OutputFile::Write(std::string_view bytes) {
  WriteBytes(file_, path_, bytes.data(), bytes.size());
}

void OutputFile::Close() { CloseFile(file_, path_); }

std::unique_ptr<TextOutputStream> TextOutputStream::Create(const FolderItem& file) {
  return std::unique_ptr<TextOutputStream>(new TextOutputStream(file));
}

std::unique_ptr<BinaryStream> BinaryStream::Create(const FolderItem& file, bool overwrite) {
  return std::unique_ptr<BinaryStream>(new BinaryStream(file, overwrite));
}

}  // namespace fw
