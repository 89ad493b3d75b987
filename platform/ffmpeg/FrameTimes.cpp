#include "platform/ffmpeg/FrameTimes.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace {
// Times of pictures the decoder dropped must not pile up.
constexpr size_t kMaxPending = 64;
} // namespace

void FrameTimes::Clear()
{
    m_pending.clear();
    m_any = false;
    m_presentationOrder = false;
}

void FrameTimes::Input(bool timed, REFERENCE_TIME start)
{
    if (!timed) {
        m_presentationOrder = true;
        return;
    }
    if (m_any && start < m_last)
        m_presentationOrder = true;
    m_last = start;
    m_any = true;
    m_pending.insert(start);
    if (m_pending.size() > kMaxPending)
        m_pending.erase(m_pending.begin());
}

bool FrameTimes::Output(int64_t carried, REFERENCE_TIME *start)
{
    if (m_presentationOrder || m_pending.empty()) {
        if (carried == AV_NOPTS_VALUE)
            return false;
        *start = carried;
        m_pending.erase(m_pending.begin(), m_pending.upper_bound(carried));
        return true;
    }
    *start = *m_pending.begin();
    m_pending.erase(m_pending.begin());
    return true;
}
