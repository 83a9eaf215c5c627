// Revolutions handed from a producer thread (a live receiver, the playback engine) to its
// consumers without a heap allocation per revolution.
//
// The producer moves each closed frame into a SharedFrame handle and emits the handle; copies of
// it cost no more than a reference count. When the last copy is gone, the frame (its lists
// and the handle's bookkeeping) goes back to the producer's pool, which gives it to the producer's
// assembler to build a later revolution in. Every handle keeps the pool alive, so a consumer may
// hold a frame after its producer has ended.
#pragma once

#include <QMetaType>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "acquisition/lidar_data.h"

namespace tovik {

template <typename T>
class PoolAllocator;

// A closed revolution, read-only for every holder.
using SharedFrame = std::shared_ptr<const LidarData>;

class SharedFramePool : public std::enable_shared_from_this<SharedFramePool> {
 public:
  // Frames kept for reuse per producer; a frame returned to a full pool is freed.
  static constexpr size_t kDefaultLimit = 4;
  // Also registers SharedFrame for queued connections.
  static std::shared_ptr<SharedFramePool> create(size_t limit = kDefaultLimit);
  ~SharedFramePool();
  SharedFramePool(const SharedFramePool&) = delete;
  SharedFramePool& operator=(const SharedFramePool&) = delete;

  // Moves frame into a new handle. Allocates only while the pool has no spare handle (the first
  // revolutions, or consumers holding more than the limit). Any thread.
  SharedFrame share(LidarData&& frame);
  // Whether a frame came back since the last takeReturned(); one relaxed load, for every packet.
  bool hasReturned() const { return returned_.load(std::memory_order_relaxed) != 0; }
  // Moves the lists of a returned frame into *frame (whose own lists are dropped); false when
  // none waits. Any thread.
  bool takeReturned(LidarData* frame);
  // Frames waiting to be taken.
  size_t returnedCount() const { return returned_.load(std::memory_order_relaxed); }
  size_t limit() const { return limit_; }

  // Passes every returned frame to sink(LidarData&&), e.g. an assembler's recycle. Producer
  // thread only.
  template <typename Sink>
  void drainInto(Sink&& sink) {
    while (hasReturned() && takeReturned(&spare_)) sink(std::move(spare_));
  }

 private:
  template <typename T>
  friend class PoolAllocator;
  struct GiveBack;

  explicit SharedFramePool(size_t limit);
  void giveBack(LidarData* frame);
  void* allocateBlock(size_t bytes);
  void freeBlock(void* block, size_t bytes);

  const size_t limit_;
  std::mutex mutex_;
  std::vector<LidarData*> full_;     // returned frames that still hold their lists
  std::vector<LidarData*> empty_;    // frames whose lists went back to the producer
  std::vector<void*> blocks_;        // the handles' reference-count blocks, for reuse
  std::atomic<size_t> returned_{0};  // full_.size()
  LidarData spare_;                  // drainInto's transit frame; producer thread only
};

}  // namespace tovik

Q_DECLARE_METATYPE(tovik::SharedFrame)
