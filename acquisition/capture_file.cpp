#include "acquisition/capture_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>
#include <utility>

namespace tovik::capture {
namespace {

// The guarded copy running on this thread: where to jump back to (null outside one) and the
// source bytes whose loss it survives.
thread_local sigjmp_buf* volatile copyJump = nullptr;
thread_local const char* volatile copyBegin = nullptr;
thread_local const char* volatile copyEnd = nullptr;
struct sigaction previousBusAction;

// Leaves a guarded copy with siglongjmp. The copy is a plain memcpy with no locks, allocations or
// objects to unwind, so jumping out of it is sound; any other SIGBUS goes to the handler that
// was there before.
void onBusError(int signal, siginfo_t* info, void* context) {
  sigjmp_buf* jump = copyJump;
  const char* at = static_cast<const char*>(info->si_addr);
  if (jump != nullptr && info->si_code == BUS_ADRERR && at >= copyBegin && at < copyEnd) {
    copyJump = nullptr;
    // The handler runs with SA_NODEFER, so no signal mask needs restoring.
    siglongjmp(*jump, 1);
  }
  if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction != nullptr) {
    previousBusAction.sa_sigaction(signal, info, context);
    return;
  }
  if (previousBusAction.sa_handler == SIG_DFL || previousBusAction.sa_handler == SIG_IGN) {
    // Put the old disposition back and return: the faulting access runs again and ends the
    // process as it would have without this handler.
    sigaction(SIGBUS, &previousBusAction, nullptr);
    return;
  }
  previousBusAction.sa_handler(signal);
}

void installBusHandler() {
  struct sigaction action {};
  action.sa_sigaction = onBusError;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  sigaction(SIGBUS, &action, &previousBusAction);
}

int64_t modificationNs(const struct stat& info) {
  return int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

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

bool copyFromMapping(void* dst, const void* src, size_t n) {
  static std::once_flag installed;
  std::call_once(installed, installBusHandler);
  sigjmp_buf jump;
  if (sigsetjmp(jump, 0) != 0) return false;  // a page of src was gone
  copyBegin = static_cast<const char*>(src);
  copyEnd = copyBegin + n;
  copyJump = &jump;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(dst, src, n);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  copyJump = nullptr;
  return true;
}

CaptureFile::~CaptureFile() { close(); }

CaptureFile::CaptureFile(CaptureFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      fd_(std::exchange(other.fd_, -1)),
      device_(other.device_),
      inode_(other.inode_),
      modifiedNs_(other.modifiedNs_),
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
    fd_ = std::exchange(other.fd_, -1);
    device_ = other.device_;
    inode_ = other.inode_;
    modifiedNs_ = other.modifiedNs_;
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    index_ = std::move(other.index_);
    other.index_ = Index();
  }
  return *this;
}

void CaptureFile::close() {
  if (data_) munmap(const_cast<uint8_t*>(data_), size_);
  if (fd_ >= 0) ::close(fd_);
  data_ = nullptr;
  size_ = 0;
  fd_ = -1;
  index_ = Index();
}

bool CaptureFile::changedOnDisk() const {
  if (fd_ < 0) return false;
  struct stat info;
  if (fstat(fd_, &info) != 0) return true;
  return size_t(info.st_size) != size_ || modificationNs(info) != modifiedNs_;
}

bool CaptureFile::isSameFile(const std::string& path) const {
  if (!isOpen()) return false;
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && uint64_t(info.st_dev) == device_ &&
         uint64_t(info.st_ino) == inode_;
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
  if (map == MAP_FAILED) {
    ::close(fd);
    return fail(std::string("cannot map the file: ") + std::strerror(mapError));
  }

  madvise(map, size, MADV_SEQUENTIAL);
  std::string why;
  std::function<void(size_t)> step;
  if (progress) step = [&progress, size](size_t done) { progress(done, size); };
  const bool ok = indexCapture(static_cast<const uint8_t*>(map), size, &index_, &why, step);
  if (!ok) {
    munmap(map, size);
    ::close(fd);
    index_ = Index();
    return fail(why);
  }
  // Playback walks the packets in both directions: back to the default read-ahead.
  madvise(map, size, MADV_NORMAL);
  data_ = static_cast<const uint8_t*>(map);
  size_ = size;
  fd_ = fd;
  device_ = uint64_t(info.st_dev);
  inode_ = uint64_t(info.st_ino);
  modifiedNs_ = modificationNs(info);
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
