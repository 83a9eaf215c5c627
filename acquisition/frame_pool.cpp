#include "acquisition/frame_pool.h"

#include <new>
#include <utility>

namespace tovik {

namespace {
// Room for a handle's reference-count block (the counts, the frame pointer, the deleter and this
// allocator: about 64 bytes with libstdc++).
constexpr size_t kBlockBytes = 128;
}  // namespace

// Allocates the reference-count blocks of the pool's handles from the pool. It holds the pool, so
// the pool outlives the block that is freed last.
template <typename T>
class PoolAllocator {
 public:
  using value_type = T;
  explicit PoolAllocator(std::shared_ptr<SharedFramePool> pool) : pool_(std::move(pool)) {}
  template <typename U>
  PoolAllocator(const PoolAllocator<U>& other) : pool_(other.pool_) {}  // NOLINT: rebinding

  T* allocate(size_t n) { return static_cast<T*>(pool_->allocateBlock(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { pool_->freeBlock(p, n * sizeof(T)); }

  template <typename U>
  bool operator==(const PoolAllocator<U>& other) const {
    return pool_ == other.pool_;
  }
  template <typename U>
  bool operator!=(const PoolAllocator<U>& other) const {
    return pool_ != other.pool_;
  }

 private:
  template <typename U>
  friend class PoolAllocator;
  std::shared_ptr<SharedFramePool> pool_;
};

// Runs when the last handle of a frame is gone, on the thread that dropped it.
struct SharedFramePool::GiveBack {
  std::shared_ptr<SharedFramePool> pool;
  void operator()(const LidarData* frame) const { pool->giveBack(const_cast<LidarData*>(frame)); }
};

std::shared_ptr<SharedFramePool> SharedFramePool::create(size_t limit) {
  // Queued connections carry the handle; every producer makes its pool before it emits.
  static const int kType = qRegisterMetaType<SharedFrame>("tovik::SharedFrame");
  (void)kType;
  return std::shared_ptr<SharedFramePool>(new SharedFramePool(limit));
}

SharedFramePool::SharedFramePool(size_t limit) : limit_(limit) {
  full_.reserve(limit);
  empty_.reserve(limit);
  blocks_.reserve(2 * limit);
}

SharedFramePool::~SharedFramePool() {
  for (LidarData* f : full_) delete f;
  for (LidarData* f : empty_) delete f;
  for (void* b : blocks_) ::operator delete(b);
}

SharedFrame SharedFramePool::share(LidarData&& frame) {
  LidarData* node = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!empty_.empty()) {
      node = empty_.back();
      empty_.pop_back();
    }
  }
  if (node == nullptr) node = new LidarData;
  // The node's lists were moved out before it became empty: nothing is freed here.
  *node = std::move(frame);
  std::shared_ptr<SharedFramePool> self = shared_from_this();
  return SharedFrame(node, GiveBack{self}, PoolAllocator<LidarData>(self));
}

void SharedFramePool::giveBack(LidarData* frame) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (full_.size() + empty_.size() < limit_) {
      full_.push_back(frame);
      returned_.store(full_.size(), std::memory_order_relaxed);
      return;
    }
  }
  delete frame;
}

bool SharedFramePool::takeReturned(LidarData* frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (full_.empty()) return false;
  LidarData* node = full_.back();
  full_.pop_back();
  returned_.store(full_.size(), std::memory_order_relaxed);
  // Moving swaps list pointers only; the node stays counted, so the pool keeps its bound.
  *frame = std::move(*node);
  empty_.push_back(node);
  return true;
}

void* SharedFramePool::allocateBlock(size_t bytes) {
  if (bytes <= kBlockBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!blocks_.empty()) {
      void* b = blocks_.back();
      blocks_.pop_back();
      return b;
    }
  }
  return ::operator new(bytes < kBlockBytes ? kBlockBytes : bytes);
}

void SharedFramePool::freeBlock(void* block, size_t bytes) {
  if (bytes <= kBlockBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (blocks_.size() < blocks_.capacity()) {
      blocks_.push_back(block);
      return;
    }
  }
  ::operator delete(block);
}

}  // namespace tovik
