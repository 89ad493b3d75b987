// Decoded pictures kept as the decoder gave them (references to its own
// buffers: no copy, no conversion), by media time, up to a cap in bytes. The
// picture kept longest ago goes first; keeping one again at the same time
// makes it the newest.
//
// Not thread-safe: the decoder's streaming thread uses it; the counters are
// atomics that any thread may read.
#pragma once

#include "platform/base/WinTypes.h"
#include "platform/ffmpeg/FFmpegCommon.h"

#include <atomic>
#include <cstdint>
#include <map>

class PictureCache {
public:
    // 0 or less: nothing is kept. A lower cap drops the oldest at once.
    void SetCap(int64_t bytes);
    int64_t Cap() const { return m_cap; }
    bool Enabled() const { return m_cap > 0; }

    // Keeps a new reference to `frame` as the picture at `media`. A picture
    // larger than the whole cap, or one libavcodec cannot reference, is not
    // kept.
    void Keep(REFERENCE_TIME media, const AVFrame *frame);
    // The picture nearest `media` within `tolerance` (exclusive), or null; its
    // time in *at. Valid until the next Keep, SetCap or Clear.
    const AVFrame *Find(REFERENCE_TIME media, REFERENCE_TIME tolerance, REFERENCE_TIME *at) const;
    void Clear();

    // How many pictures like `frame` the cap holds.
    int64_t CapacityFor(const AVFrame *frame) const;
    static int64_t SizeOf(const AVFrame *frame);

    size_t Count() const { return m_pictures.size(); }
    std::atomic<int64_t> Bytes{0};
    std::atomic<int64_t> PeakBytes{0};

private:
    struct Kept {
        ffmpeg::FramePtr frame;
        int64_t bytes = 0;
        uint64_t age = 0;
    };
    using Pictures = std::map<REFERENCE_TIME, Kept>;

    void Drop(Pictures::iterator it);
    void Trim();

    Pictures m_pictures;
    std::map<uint64_t, REFERENCE_TIME> m_byAge;
    uint64_t m_age = 0;
    int64_t m_cap = 0;
};
