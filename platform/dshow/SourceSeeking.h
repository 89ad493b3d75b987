// CSeekingSourceStream: a push source stream that can seek (IMediaSeeking on
// the output pin), the way a splitter's output pin does.
//
// The derived class reads frames in media time (0 = the first frame of the
// media); this class turns them into a segment:
//  - A seek (SetPositions) flushes downstream, stops the thread, asks the
//    derived class to go to the last key frame at or before the target
//    (SeekTo), ends the flush and starts the thread again, which sends
//    NewSegment(segment start, stop, rate) before the first sample.
//  - With AM_SEEKING_SeekToKeyFrame the segment starts at the key frame
//    reached; without it, at the target: the frames that end before it go
//    out as preroll (negative times, preroll flag) so a decoder can build its
//    picture, and renderers never show them.
//  - Sample times are (media time - segment start) / rate; the media times
//    stay on the sample (GetMediaTime). The first sample after a restart is
//    a discontinuity. A frame at or past the stop position ends the stream.
// Only TIME_FORMAT_MEDIA_TIME is supported.
//
// Threads: IMediaSeeking: UI thread (it takes the filter's state lock).
// FillFrame: the stream's thread. SeekTo: UI thread, with no streaming thread
// running. A seek must not be made while the streaming thread waits for the
// seeking thread: seek through the graph, which closes its SendGate around
// seeks for that (and resumes a stopped graph where it stopped unless it
// was itself told to seek).
#pragma once

#include "platform/dshow/MediaTimeSeeking.h"
#include "platform/dshow/Source.h"

class CSeekingSourceStream : public CSourceStream, public CMediaTimeSeeking, public ISeekingAtRate {
public:
    CSeekingSourceStream(CSource *pFilter, LPCWSTR pName);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD *pCapabilities) override;
    HRESULT GetDuration(LONGLONG *pDuration) override;
    HRESULT GetStopPosition(LONGLONG *pStop) override;
    // The media time of the last frame sent (not preroll), else the
    // segment start.
    HRESULT GetCurrentPosition(LONGLONG *pCurrent) override;
    HRESULT SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                         DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG *pCurrent, LONGLONG *pStop) override;
    HRESULT GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) override;
    // While streaming, restarts exactly at the current position (the graph
    // uses SetRateAt, which restarts where it asks).
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double *pdRate) override;
    HRESULT GetPreroll(LONGLONG *pllPreroll) override;
    HRESULT SetRateAt(double dRate, REFERENCE_TIME position) override;

    // ---- For derived classes ----
    // UI thread, no streaming thread: go to the last key frame at or before
    // `target`; *pKeyFrame gets its media time.
    virtual HRESULT SeekTo(REFERENCE_TIME target, REFERENCE_TIME *pKeyFrame) = 0;
    // Streaming thread: the next frame (data, length, media start/stop with
    // SetTime, sync point). S_FALSE past the last frame.
    virtual HRESULT FillFrame(IMediaSample *pSample) = 0;

    // The segment as it stands (for tests and derived classes).
    REFERENCE_TIME SegmentStart() const { return m_rtSegmentStart; }

protected:
    // UI thread: the media's length (also the default stop position); 0
    // when it is not known.
    void SetDuration(REFERENCE_TIME duration);
    HRESULT Active() override;

private:
    HRESULT FillBuffer(IMediaSample *pSample) final;
    HRESULT OnThreadStartPlay() override;
    HRESULT Reposition(REFERENCE_TIME target, bool toKeyFrame);

    // Written on the UI thread while no streaming thread runs; read by it.
    REFERENCE_TIME m_rtDuration = 0;
    REFERENCE_TIME m_rtRequested = 0;  // the last target, to restart from
    bool m_bToKeyFrame = false;
    REFERENCE_TIME m_rtSegmentStart = 0;
    double m_dRate = 1.0;
    bool m_bDiscontinuity = true;  // streaming thread only, once started

    std::atomic<REFERENCE_TIME> m_rtStop{MAX_TIME};
    std::atomic<REFERENCE_TIME> m_rtLastSent{-1};
};
