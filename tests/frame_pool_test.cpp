// The shared frame pool: frames come back to their producer, the pool stays bounded, and a frame
// held after its producer has ended stays valid.
#include "acquisition/frame_pool.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

LidarData frameOf(size_t points, float value) {
  LidarData f;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    f.distance[ch].assign(points, value + float(ch));
    f.intensity[ch].assign(points, ch);
    f.azimuth[ch].assign(points, 1.5f);
    f.adjustedTime[ch].assign(points, uint64_t(ch));
  }
  return f;
}

TEST(SharedFramePool, ReleasedFramesComeBackWithTheirListsAndTheirHandlesAreReused) {
  const auto pool = tovik::SharedFramePool::create();
  tovik::SharedFrame handle = pool->share(frameOf(100, 7.0f));
  const float* lists = handle->distance[3].data();
  EXPECT_EQ(handle->distance[3][99], 10.0f);
  tovik::SharedFrame copy = handle;
  handle.reset();
  EXPECT_FALSE(pool->hasReturned());  // a copy still holds it
  EXPECT_EQ(copy->distance[15].size(), 100u);
  const LidarData* node = copy.get();
  copy.reset();
  ASSERT_TRUE(pool->hasReturned());

  LidarData back;
  ASSERT_TRUE(pool->takeReturned(&back));
  EXPECT_EQ(back.distance[3].data(), lists);  // the same lists, not a copy
  EXPECT_EQ(back.distance[3][99], 10.0f);
  EXPECT_FALSE(pool->takeReturned(&back));

  // The emptied frame carries the next revolution.
  const tovik::SharedFrame next = pool->share(std::move(back));
  EXPECT_EQ(next.get(), node);
  EXPECT_EQ(next->distance[3].data(), lists);
}

TEST(SharedFramePool, KeepsAtMostItsLimitAndDrainsIntoTheProducer) {
  const auto pool = tovik::SharedFramePool::create(3);
  std::vector<tovik::SharedFrame> held;
  for (int i = 0; i < 5; ++i) held.push_back(pool->share(frameOf(10, float(i))));
  held.clear();
  EXPECT_EQ(pool->returnedCount(), 3u);

  std::vector<float> recycled;
  pool->drainInto([&](LidarData&& f) { recycled.push_back(f.distance[0].at(0)); });
  EXPECT_EQ(recycled.size(), 3u);
  EXPECT_FALSE(pool->hasReturned());
  // Frames taken out leave their empty shells counted: the pool never holds more than 3.
  for (int i = 0; i < 5; ++i) held.push_back(pool->share(frameOf(10, float(i))));
  held.clear();
  EXPECT_EQ(pool->returnedCount(), 3u);
}

TEST(SharedFramePool, AFrameOutlivesTheProducerThatMadeIt) {
  tovik::SharedFrame kept;
  std::thread producer([&] {
    // The producer's pool dies with this thread; only the handle is left.
    const auto pool = tovik::SharedFramePool::create();
    for (int i = 0; i < 4; ++i) kept = pool->share(frameOf(500, float(i)));
  });
  producer.join();
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->distance[2].size(), 500u);
  EXPECT_EQ(kept->distance[2][499], 5.0f);
  kept.reset();  // returns to a pool nobody else holds; it is freed with it
}

}  // namespace
