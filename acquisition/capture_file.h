// A capture file opened by name, memory-mapped read-only and indexed once.
//
// The index's packet pointers point into the mapping, so no payload is copied and they stay valid
// while the CaptureFile (or the object it was moved into) lives. The file must not be shortened by
// another process while it is open: reading a page past the new end raises SIGBUS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "acquisition/capture_format.h"

namespace tovik::capture {

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

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::string path_;
  std::string error_;
  Index index_;
};

}  // namespace tovik::capture
