// A pass-through stage in front of the video renderer that notes the media
// time of every sample the renderer will present (preroll samples are never
// presented, so they are not noted). The renderer has no hook of its own for
// that, and presents every sample it is given when the graph has no clock.
//
// Threads: Transform and NewSegment on the streaming thread; Times and
// WaitForCount on the tool's main thread. m_lock guards the record.
#pragma once

#include "platform/dshow/TransInPlace.h"
#include "platform/dshow/Uuids.h"

#include <condition_variable>
#include <mutex>
#include <vector>

class CFrameTap final : public CTransInPlaceFilter {
public:
    // `renderer`: the input pin the tap feeds; the tap takes only what it takes.
    explicit CFrameTap(IPin *renderer);

    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT Transform(IMediaSample *pSample) override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // Media times noted so far, in delivery order.
    std::vector<REFERENCE_TIME> Times();
    void Clear();
    // Waits up to `ms` until at least `count` times were noted.
    bool WaitForCount(size_t count, int ms);

private:
    IPin *const m_renderer;  // the renderer outlives the tap's connections
    std::mutex m_lock;
    std::condition_variable m_noted;
    REFERENCE_TIME m_segmentStart = 0;
    std::vector<REFERENCE_TIME> m_times;
};
