#include "acquisition/capture_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tovik::capture {
namespace {

std::string openErrorText(int error) {
  switch (error) {
    case ENOENT:
      return "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "it is a directory";
    default:
      return std::strerror(error);
  }
}

}  // namespace

CaptureFile::~CaptureFile() { close(); }

CaptureFile::CaptureFile(CaptureFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)),
      index_(std::move(other.index_)) {
  other.index_ = Index();
}

CaptureFile& CaptureFile::operator=(CaptureFile&& other) noexcept {
  if (this != &other) {
    close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    index_ = std::move(other.index_);
    other.index_ = Index();
  }
  return *this;
}

void CaptureFile::close() {
  if (data_) munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
  index_ = Index();
}

bool CaptureFile::open(const std::string& path,
                       const std::function<void(size_t, size_t)>& progress) {
  close();
  path_ = path;
  error_.clear();
  auto fail = [this](const std::string& why) {
    error_ = "Cannot open \"" + path_ + "\": " + why;
    return false;
  };

  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is rejected below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(openErrorText(errno));
  struct stat info;
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return fail(openErrorText(error));
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    return fail(openErrorText(EISDIR));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return fail("not a regular file");
  }
  if (info.st_size == 0) {
    ::close(fd);
    return fail("the file is empty");
  }
  const size_t size = size_t(info.st_size);
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  const int mapError = errno;
  ::close(fd);  // the mapping keeps the file
  if (map == MAP_FAILED)
    return fail(std::string("cannot map the file: ") + std::strerror(mapError));

  madvise(map, size, MADV_SEQUENTIAL);
  std::string why;
  std::function<void(size_t)> step;
  if (progress) step = [&progress, size](size_t done) { progress(done, size); };
  const bool ok = indexCapture(static_cast<const uint8_t*>(map), size, &index_, &why, step);
  if (!ok) {
    munmap(map, size);
    index_ = Index();
    return fail(why);
  }
  // Playback walks the packets in both directions: back to the default read-ahead.
  madvise(map, size, MADV_NORMAL);
  data_ = static_cast<const uint8_t*>(map);
  size_ = size;
  return true;
}

std::string CaptureFile::summary() const {
  if (!isOpen()) return error_;
  std::string text = index_.format + ": " + std::to_string(index_.pointPackets.size()) +
                     " point data packets, " + std::to_string(index_.devicePackets.size()) +
                     " device packets, " + std::to_string(index_.skipped) + " other of " +
                     std::to_string(index_.records) + " records";
  if (index_.truncated) text += "; the file ends inside a record";
  if (index_.damaged) text += "; damaged, reading stopped early";
  return text;
}

}  // namespace tovik::capture
