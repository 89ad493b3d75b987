// The decoded-picture cache: its cap in bytes, which picture goes first, and
// finding a picture near a time.
#include "platform/ffmpeg/PictureCache.h"

#include <gtest/gtest.h>

namespace {

constexpr REFERENCE_TIME kFrame = 400000;

// A 64 x 36 picture whose first byte says which one it is.
ffmpeg::FramePtr Picture(int mark)
{
    ffmpeg::FramePtr f = ffmpeg::MakeFrame();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = 64;
    f->height = 36;
    if (av_frame_get_buffer(f.get(), 0) < 0)
        return nullptr;
    f->data[0][0] = uint8_t(mark);
    return f;
}

int Mark(const AVFrame *f) { return f ? f->data[0][0] : -1; }

TEST(PictureCache, KeepsWithinItsCapDroppingTheOldestFirst)
{
    PictureCache cache;
    const ffmpeg::FramePtr one = Picture(0);
    const int64_t size = PictureCache::SizeOf(one.get());
    ASSERT_GT(size, 64 * 36);
    cache.SetCap(3 * size + size / 2);
    EXPECT_EQ(cache.CapacityFor(one.get()), 3);
    for (int i = 0; i < 5; ++i)
        cache.Keep(i * kFrame, Picture(i).get());
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_EQ(cache.Bytes, 3 * size);
    EXPECT_EQ(cache.PeakBytes, 3 * size);
    EXPECT_EQ(cache.Find(1 * kFrame, kFrame / 2, nullptr), nullptr);
    EXPECT_EQ(Mark(cache.Find(2 * kFrame, kFrame / 2, nullptr)), 2);
    // Kept again: the newest, so the next to go is 3.
    cache.Keep(2 * kFrame, Picture(22).get());
    cache.Keep(5 * kFrame, Picture(5).get());
    EXPECT_EQ(Mark(cache.Find(2 * kFrame, kFrame / 2, nullptr)), 22);
    EXPECT_EQ(cache.Find(3 * kFrame, kFrame / 2, nullptr), nullptr);
    EXPECT_EQ(cache.Bytes, 3 * size);
    // A lower cap drops at once; none at all keeps nothing.
    cache.SetCap(size);
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_EQ(Mark(cache.Find(5 * kFrame, kFrame / 2, nullptr)), 5);
    cache.SetCap(0);
    EXPECT_FALSE(cache.Enabled());
    cache.Keep(0, Picture(0).get());
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(cache.Bytes, 0);
}

TEST(PictureCache, FindsTheNearestWithinTheTolerance)
{
    PictureCache cache;
    cache.SetCap(int64_t(1) << 30);
    for (int i : {0, 1, 3})
        cache.Keep(i * kFrame, Picture(i).get());
    REFERENCE_TIME at = -1;
    EXPECT_EQ(Mark(cache.Find(kFrame + kFrame / 3, kFrame / 2, &at)), 1);
    EXPECT_EQ(at, kFrame);
    EXPECT_EQ(Mark(cache.Find(3 * kFrame - kFrame / 3, kFrame / 2, &at)), 3);
    EXPECT_EQ(at, 3 * kFrame);
    EXPECT_EQ(cache.Find(2 * kFrame, kFrame / 2, nullptr), nullptr);  // nothing kept there
    EXPECT_EQ(cache.Find(-kFrame, kFrame / 2, nullptr), nullptr);
    EXPECT_EQ(cache.Find(9 * kFrame, kFrame / 2, nullptr), nullptr);
    // A kept picture holds its buffer: the caller's may go.
    ffmpeg::FramePtr p = Picture(7);
    cache.Keep(7 * kFrame, p.get());
    p.reset();
    EXPECT_EQ(Mark(cache.Find(7 * kFrame, 1, nullptr)), 7);
    cache.Clear();
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(cache.Bytes, 0);
}

} // namespace
