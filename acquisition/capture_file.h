// A capture file opened by name, memory-mapped read-only and indexed once.
//
// The index's packet pointers point into the mapping, so no payload is copied and they stay valid
// while the CaptureFile (or the object it was moved into) lives. Another program may still
// shorten or rewrite the file while it is open: reading a page past its new end raises SIGBUS.
// Readers of an open capture therefore copy packets out with copyFromMapping() and ask
// changedOnDisk() before they use what they copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "acquisition/capture_format.h"

namespace tovik::capture {

// memcpy for a source that may lie in a file mapping whose file another program shortens at any
// moment. Returns false, with dst partly written and nothing else harmed, when a page of src has
// gone (the read raised SIGBUS); true once all n bytes are copied. A SIGBUS outside such a copy
// reaches the handler that was installed before (or ends the process as it always would).
// Safe on any thread. About 40 ns over memcpy per call for a 1206-byte packet (bench_capture),
// where a pread(2) of the same packet costs over a microsecond.
bool copyFromMapping(void* dst, const void* src, size_t n);

class CaptureFile {
 public:
  CaptureFile() = default;
  ~CaptureFile();
  CaptureFile(CaptureFile&& other) noexcept;
  CaptureFile& operator=(CaptureFile&& other) noexcept;
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Opens, maps and indexes path (bytes as given to open(2)). Returns false and sets
  // errorString() when the file cannot be read or is not a capture; the previous file is closed
  // in either case. A capture without point packets opens successfully: check pointCount().
  // progress, when set, receives bytes indexed so far and the file size.
  bool open(const std::string& path,
            const std::function<void(size_t bytesDone, size_t bytesTotal)>& progress = {});
  void close();

  bool isOpen() const { return data_ != nullptr; }
  const std::string& path() const { return path_; }
  const std::string& errorString() const { return error_; }
  size_t fileSize() const { return size_; }
  const Index& index() const { return index_; }
  size_t pointCount() const { return index_.pointPackets.size(); }
  const uint8_t* pointPacket(size_t i) const { return index_.pointPackets[i]; }
  // One line for a status bar: format, counts and whether the file was cut short.
  std::string summary() const;

  // True when the open file's size or modification time differs from what it was when it was
  // opened (it was truncated, rewritten or appended to), or it can no longer be examined. One
  // fstat(2) of the file kept open; false when no file is open.
  bool changedOnDisk() const;
  // True when path names the open file itself (same device and inode, whatever the spelling of
  // the path, through links or not). Writing there would change the capture under playback.
  bool isSameFile(const std::string& path) const;

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  int fd_ = -1;  // kept open for changedOnDisk()
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  int64_t modifiedNs_ = 0;
  std::string path_;
  std::string error_;
  Index index_;
};

}  // namespace tovik::capture
