#include "KWPack/uFramesNotifier.h"

#include "KWPack/uNotifier.h"

#include <chrono>
#include <cmath>
#include <thread>

TFramesNotifier::TFramesNotifier()
    : CTransInPlaceFilter(L"Vostrel's FramesNotifier", CLSID_VostrelFramesNotifier, false)
{
}

HRESULT TFramesNotifier::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IPictureGate)
        return GetInterface(static_cast<IPictureGate *>(this), ppv);
    return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

void TFramesNotifier::SetTarget(int slot, REFERENCE_TIME t)
{
    if (slot < 0 || slot > 1)
        return;
    FTargets[size_t(slot)] = t;
    FArmed[size_t(slot)] = true;
}

void TFramesNotifier::SetTargetWindow(int slot, HWND wnd)
{
    if (slot >= 0 && slot <= 1)
        FTargetWindows[size_t(slot)] = wnd;
}

bool TFramesNotifier::TargetArmed(int slot) const
{
    return slot >= 0 && slot <= 1 && FArmed[size_t(slot)];
}

void TFramesNotifier::RefreshInput()
{
    InputPin()->BeginFlush();
    InputPin()->EndFlush();
}

TVideoData TFramesNotifier::VideoFormat() const
{
    std::lock_guard lock(FFormatLock);
    return Unshared(FVideoFormat);
}

HRESULT TFramesNotifier::SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt)
{
    const HRESULT hr = CTransInPlaceFilter::SetMediaType(direction, pmt);
    if (direction != PINDIR_INPUT)
        return hr;
    TVideoData format = VideoDataFromMediaType(*pmt);
    if (format.FrameDuration == 0)
        format.FrameDuration = kUndeclaredFrameDuration;
    const REFERENCE_TIME duration = format.FrameDuration;
    {
        std::lock_guard lock(FFormatLock);
        FVideoFormat = std::move(format);
    }
    if (const HWND nav = NavWindow)
        SendGraphMessage(nav, WM_NAV_FRAMEDURATION, WPARAM(uint32_t(duration)), 0);
    return hr;
}

HRESULT TFramesNotifier::StartStreaming()
{
    const HRESULT hr = CTransInPlaceFilter::StartStreaming();
    FResync = true;
    FLastTimeText.clear();
    return hr;
}

HRESULT TFramesNotifier::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    const HRESULT hr = CTransInPlaceFilter::NewSegment(tStart, tStop, dRate);
    CAutoLock lock(m_csReceive);
    FSegmentStart = tStart;
    FRate = dRate > 0 ? dRate : 1.0;
    if (tStart == 0) {
        FResync = true;
    } else if (FResync) {
        // Streaming starts inside the file: no picture has set a base, and
        // the segment's times count from its start. Taking the first
        // picture as the start would be a picture off wherever the first one
        // shown is not the first one sent (leading pictures of an open group
        // dropped after a key-frame seek).
        FTimeBase = 0;
        FResync = false;
    }
    return hr;
}

HRESULT TFramesNotifier::BeginFlush()
{
    ++Flushes;
    return CTransInPlaceFilter::BeginFlush();
}

HRESULT TFramesNotifier::Stop()
{
    FStopping = true;  // before the base class waits for the streaming thread
    const bool notify = NotifyOn.exchange(false);
    const HRESULT hr = CTransInPlaceFilter::Stop();
    NotifyOn = notify;
    FStopping = false;
    return hr;
}

// ---- Per picture ------------------------------------------------------------------

HRESULT TFramesNotifier::Transform(IMediaSample *pSample)
{
    const REFERENCE_TIME now = MediaTimeOf(pSample);
    CurrentTime = now;
    // Unwritten: the decoder was told it would be swallowed. Were a target
    // moved under it meanwhile, the next picture reaches it instead.
    const bool unwritten = pSample->IsPreroll() == S_OK && pSample->GetActualDataLength() == 0;
    if (!unwritten)
        CheckTargets(now);
    ReportTime(now);
    FResync = false;
    return PassFrames && !unwritten ? S_OK : S_FALSE;
}

REFERENCE_TIME TFramesNotifier::MediaTimeOf(IMediaSample *sample)
{
    REFERENCE_TIME start = 0, stop = 0;
    // A picture without a time comes one picture after the last one.
    if (FAILED(sample->GetTime(&start, &stop)))
        return CurrentTime + FrameDuration;
    if (FResync)
        FTimeBase = start;
    return FSegmentStart + std::llround(double(start - FTimeBase) * FRate);
}

// ---- What the decoder may spare ------------------------------------------------------

bool TFramesNotifier::MediaTimeOf(REFERENCE_TIME start, REFERENCE_TIME *media)
{
    if (FResync)
        return false;  // the next picture sets the time base
    *media = FSegmentStart + std::llround(double(start - FTimeBase) * FRate);
    return true;
}

bool TFramesNotifier::SampleTimeOf(REFERENCE_TIME media, REFERENCE_TIME *start)
{
    if (FResync)
        return false;
    *start = FTimeBase + std::llround(double(media - FSegmentStart) / FRate);
    return true;
}

bool TFramesNotifier::AdoptTimeBase(REFERENCE_TIME start)
{
    if (!FResync)
        return false;
    FTimeBase = start;
    FResync = false;
    return true;
}

bool TFramesNotifier::PendingTarget(REFERENCE_TIME *target)
{
    if (PassFrames || !FArmed[0])
        return false;
    *target = FTargets[0];
    return true;
}

// As Transform would decide: no armed target reached, and pictures held back.
bool TFramesNotifier::Swallows(REFERENCE_TIME media)
{
    if (PassFrames || !FArmed[0])
        return false;
    const REFERENCE_TIME half = FrameDuration / 2;
    for (size_t slot = 0; slot < 2; ++slot)
        if (FArmed[slot] && FTargets[slot] - half < media)
            return false;
    return true;
}

void TFramesNotifier::CheckTargets(REFERENCE_TIME now)
{
    const REFERENCE_TIME half = FrameDuration / 2;
    for (size_t slot = 0; slot < 2; ++slot) {
        if (!FArmed[slot] || !(FTargets[slot] - half < now))
            continue;
        FArmed[slot] = false;
        if (const HWND wnd = FTargetWindows[slot]) {
            WaitForOpenGate();
            const LRESULT heard = SendGraphMessage(wnd, WM_NAV_TARGETREACHED, WPARAM(uint32_t(FTargets[slot])),
                                                   LPARAM(uint32_t(now)));
            // Cancelled by a flush or stop under way (a picture of the segment a
            // seek throws away may reach the target first): the target still
            // stands for the pictures that come after.
            if (!heard && m_pSendGate && !m_pSendGate->IsOpen())
                FArmed[slot] = true;
        }
    }
}

// A seek keeps the graph's send gate closed until its sources have started
// streaming again, and a new streaming thread can reach the target before it
// opens. A refused send would lose the target: its picture swallowed and no
// one told. So the report waits for the gate, unless this filter is being
// flushed or stopped, which is what the gate is closed for.
void TFramesNotifier::WaitForOpenGate()
{
    SendGate *const gate = m_pSendGate;
    const int flushes = Flushes;
    while (gate && !gate->IsOpen() && Flushes == flushes && !FStopping)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TFramesNotifier::ReportTime(REFERENCE_TIME now)
{
    FTimeIndex = (FTimeIndex + 1) % kRingSize;
    QString &text = FTimeTexts[size_t(FTimeIndex)];
    text = PositionText(now, FrameDuration);
    if (NotifyOn) {
        if (text != FLastTimeText)
            if (const HWND video = VideoWindow)
                SendGraphMessage(video, WM_VIDEO_FRAMETIME, reinterpret_cast<WPARAM>(&text), 0);
        if (const HWND nav = NavWindow)
            PostMessageCopyW(nav, WM_NAV_FRAMETIME, QString(text.constData(), text.size()), 0);
    }
    FLastTimeText = text;
}
