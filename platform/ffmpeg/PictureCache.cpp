#include "platform/ffmpeg/PictureCache.h"

#include <algorithm>
#include <cstdlib>

void PictureCache::SetCap(int64_t bytes)
{
    m_cap = std::max<int64_t>(bytes, 0);
    Trim();
}

int64_t PictureCache::SizeOf(const AVFrame *frame)
{
    int64_t bytes = 0;
    for (const AVBufferRef *buf : frame->buf)
        if (buf)
            bytes += int64_t(buf->size);
    for (int i = 0; i < frame->nb_extended_buf; ++i)
        bytes += int64_t(frame->extended_buf[i]->size);
    return bytes;
}

int64_t PictureCache::CapacityFor(const AVFrame *frame) const
{
    const int64_t size = SizeOf(frame);
    return size > 0 ? m_cap / size : 0;
}

void PictureCache::Keep(REFERENCE_TIME media, const AVFrame *frame)
{
    const int64_t bytes = SizeOf(frame);
    if (bytes <= 0 || bytes > m_cap)
        return;
    ffmpeg::FramePtr ref = ffmpeg::MakeFrame();
    if (!ref || av_frame_ref(ref.get(), frame) < 0)
        return;  // out of memory: the picture is just not kept
    if (const auto old = m_pictures.find(media); old != m_pictures.end())
        Drop(old);
    m_pictures[media] = {std::move(ref), bytes, ++m_age};
    m_byAge[m_age] = media;
    Bytes += bytes;
    Trim();
    PeakBytes = std::max(PeakBytes.load(), Bytes.load());
}

const AVFrame *PictureCache::Find(REFERENCE_TIME media, REFERENCE_TIME tolerance, REFERENCE_TIME *at) const
{
    const Kept *best = nullptr;
    REFERENCE_TIME bestAt = 0;
    // The neighbours on either side of `media`: the nearest is one of them.
    auto it = m_pictures.lower_bound(media);
    for (auto candidate : {it, it == m_pictures.begin() ? m_pictures.end() : std::prev(it)}) {
        if (candidate == m_pictures.end() || std::llabs(candidate->first - media) >= tolerance)
            continue;
        if (!best || std::llabs(candidate->first - media) < std::llabs(bestAt - media)) {
            best = &candidate->second;
            bestAt = candidate->first;
        }
    }
    if (best && at)
        *at = bestAt;
    return best ? best->frame.get() : nullptr;
}

void PictureCache::Clear()
{
    m_pictures.clear();
    m_byAge.clear();
    Bytes = 0;
}

void PictureCache::Drop(Pictures::iterator it)
{
    Bytes -= it->second.bytes;
    m_byAge.erase(it->second.age);
    m_pictures.erase(it);
}

void PictureCache::Trim()
{
    while (Bytes > m_cap && !m_byAge.empty())
        Drop(m_pictures.find(m_byAge.begin()->second));
}
