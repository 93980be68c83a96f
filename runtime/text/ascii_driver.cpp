#include "runtime/text/ascii_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "runtime/core/error_state.h"
#include "runtime/files/file.h"

namespace rt {
namespace {

int CodeOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kAccessDenied;
    default: return kBadRequest;
  }
}

class AsciiFile final : public Driver {
 public:
  explicit AsciiFile(File& file) : file_(file), path_(file.Declaration().Path()) {}
  ~AsciiFile() override { Close(); }

  int Create() override {
    if (fd_ >= 0) return Fail(kFileAlreadyOpen, "file is open");
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) return Fail(kBadRequest, "file already exists: " + path_);
      return Fail(CodeOfErrno(errno), "cannot create " + path_);
    }
    ::close(fd);
    return Fail(kNoError, "");
  }
  int Open(int mode) override {
    if (fd_ >= 0) return Fail(kFileAlreadyOpen, "file already open");
    writable_ = (mode & 0x03) != kAccessRead;
    int fd = ::open(path_.c_str(), (writable_ ? O_WRONLY | O_APPEND : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return Fail(CodeOfErrno(errno), "cannot open " + path_);
    fd_ = fd;
    return Fail(kNoError, "");
  }
  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool IsOpen() const override { return fd_ >= 0; }
  int BuildKeys() override { return Fail(kNoError, ""); }
  int Send(std::string_view) override { return Fail(kNoError, ""); }

  int Add() override {
    if (fd_ < 0) return Fail(kBadRequest, "file not open");
    if (!writable_) return Fail(kAccessDenied, "file is open read-only");
    std::string line(reinterpret_cast<const char*>(file_.Buffer()), file_.RecordLength());
    auto end = line.find_last_not_of(std::string(" \0", 2));
    line.resize(end == std::string::npos ? 0 : end + 1);
    line += '\n';
    ssize_t written = ::write(fd_, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size()))
      return Fail(written < 0 ? CodeOfErrno(errno) : kBadRequest, "cannot write to " + path_);
    return Fail(kNoError, "");
  }
  int Bytes(std::int64_t& bytes) override {
    struct stat st {};
    bytes = 0;
    if (::stat(path_.c_str(), &st) != 0) return Fail(kFileNotFound, "no file " + path_);
    bytes = st.st_size;
    return kNoError;
  }

  // Reading, keys and positions are not part of a line file.
  int GetByKey(int) override { return Unsupported(); }
  int GetByPointer(std::int64_t) override { return Unsupported(); }
  std::int64_t Pointer() const override { return 0; }
  int SetKey(int) override { return Unsupported(); }
  int SetKeyValue(int) override { return Unsupported(); }
  int Next() override { return Unsupported(); }
  int Previous() override { return Unsupported(); }
  int Put() override { return Unsupported(); }
  int Delete() override { return Unsupported(); }
  int Duplicate(int, bool& duplicate) override {
    duplicate = false;
    return Unsupported();
  }
  void Watch() override {}
  int Position(int, std::string&) override { return Unsupported(); }
  int Reget(int, std::string_view) override { return Unsupported(); }
  int Reset(int, std::string_view) override { return Unsupported(); }
  std::string SaveCursor() const override { return {}; }
  int RestoreCursor(std::string_view) override { return kNoError; }
  int Records(std::int64_t& count) override {
    count = 0;
    return Unsupported();
  }
  int ReadAhead() const override { return 0; }
  void SetReadAhead(int) override {}

  std::string LastDriverText() const override { return text_; }

 private:
  int Fail(int code, std::string text) {
    text_ = std::move(text);
    return code;
  }
  int Unsupported() { return Fail(kBadRequest, "not supported by the ASCII driver"); }

  File& file_;
  std::string path_;
  int fd_ = -1;
  bool writable_ = false;
  std::string text_;
};

}  // namespace

std::unique_ptr<Driver> MakeAsciiDriver(File& file) { return std::make_unique<AsciiFile>(file); }

}  // namespace rt
