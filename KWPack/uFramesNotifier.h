// TFramesNotifier: the frame notifier. An in-place stage between the video
// decoder and the renderer that lets every decoded picture pass unchanged but
// gives each one its media time, reports that time as "h:mm:ss:ff" to the
// navigation manager and the video manager, and for precise navigation
// swallows pictures until an armed target is reached.
//
// Time: the first picture after streaming starts (or after a new segment
// starting at 0) is the time base; a picture's media time is the segment
// start plus its own stream time past the time base, scaled by the
// segment's rate (stream times run rate times faster than media times).
//
// The target report is sent: the streaming thread waits while the receiver
// handles it, and the receiver sets PassFrames again there, so the target
// picture itself is the first one the renderer gets. Frame-time reports to
// the navigation window are posted, each carrying its own copy of the text;
// those to the video window are sent and point into the filter's ring.
//
// Our decoders ask it (IPictureGate) which pictures it will swallow and send
// those unwritten: such a picture counts for the time and its reports but
// never reaches a target and never passes, whatever the switches say by then.
//
// Threads and locks: the switches, targets, windows, CurrentTime and
// FrameDuration are atomics shared by the UI thread and the streaming thread.
// The time base, the segment and the ring belong to the streaming thread
// (StartStreaming writes them on the UI thread while no stream runs).
#pragma once

#include "KWPack/uMediaFormats.h"

#include "platform/base/MessageWindow.h"
#include "platform/dshow/PictureGate.h"
#include "platform/dshow/TransInPlace.h"

#include <QString>

#include <array>
#include <atomic>
#include <mutex>

// {5104DD25-61F8-458D-AD1D-FCCF8BA18B60}
inline constexpr CLSID CLSID_VostrelFramesNotifier{0x5104DD25, 0x61F8, 0x458D,
                                                   {0xAD, 0x1D, 0xFC, 0xCF, 0x8B, 0xA1, 0x8B, 0x60}};

// Posted to the navigation window for every picture while NotifyOn: wParam
// points to the message's own copy of the "h:mm:ss:ff" text (a QString).
inline constexpr UINT WM_NAV_FRAMETIME = 0x2420;
// Sent to the target window of a slot when its target is reached: wParam the
// low 32 bits of the target, lParam the low 32 bits of the picture's time.
// The receiver answers non-zero; a report cancelled by a seek or stop under
// way re-arms the slot.
inline constexpr UINT WM_NAV_TARGETREACHED = 0x2422;
// Sent to the video window when the frame-time text changed: wParam points to
// the text in the filter's ring (a QString).
inline constexpr UINT WM_VIDEO_FRAMETIME = 0x241A;
// (WM_NAV_FRAMEDURATION 0x2421 is the stream notifier's too: uNotifier.h.)

class TFramesNotifier final : public CTransInPlaceFilter, public IPictureGate {
public:
    static constexpr int kRingSize = 100;
    // The frame duration of a video type that declares none: 100 a second.
    static constexpr REFERENCE_TIME kUndeclaredFrameDuration = 100000;

    // UI thread.
    TFramesNotifier();

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    // ---- Used by the navigation and video managers (UI thread) ----
    void SetNotify(bool on) { NotifyOn = on; }
    // Arms slot 0 or 1 for target t; the report goes to the slot's window.
    void SetTarget(int slot, REFERENCE_TIME t);
    void SetTargetWindow(int slot, HWND wnd);
    bool TargetArmed(int slot) const;
    // The input pin flushes (BeginFlush, EndFlush), so the renderer is given
    // the current picture again.
    void RefreshInput();
    // The parsed input type. Any thread.
    TVideoData VideoFormat() const;

    std::atomic<HWND> NavWindow{0};
    std::atomic<HWND> VideoWindow{0};
    std::atomic<bool> NotifyOn{false};
    std::atomic<bool> PassFrames{true};
    // Written by the navigation manager; read by the streaming thread.
    std::atomic<REFERENCE_TIME> FrameDuration{1};
    // Media time of the last picture seen.
    std::atomic<REFERENCE_TIME> CurrentTime{0};
    // How often the stream was flushed through the filter (a seek, a stop, a
    // refresh): a wait for a picture ends when it moves.
    std::atomic<int> Flushes{0};

    // ---- The filter (called by the graph) ----
    HRESULT CheckInputType(const CMediaType *) override { return S_OK; }
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;
    HRESULT StartStreaming() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    HRESULT BeginFlush() override;
    HRESULT Stop() override;
    // Streaming thread.
    HRESULT Transform(IMediaSample *pSample) override;

    // ---- IPictureGate (the decoder's streaming thread) ----
    bool MediaTimeOf(REFERENCE_TIME start, REFERENCE_TIME *media) override;
    bool SampleTimeOf(REFERENCE_TIME media, REFERENCE_TIME *start) override;
    bool AdoptTimeBase(REFERENCE_TIME start) override;
    bool PendingTarget(REFERENCE_TIME *target) override;
    bool Swallows(REFERENCE_TIME media) override;
    REFERENCE_TIME HalfFrame() override { return FrameDuration / 2; }

private:
    REFERENCE_TIME MediaTimeOf(IMediaSample *sample);
    void CheckTargets(REFERENCE_TIME now);
    void ReportTime(REFERENCE_TIME now);

    std::array<std::atomic<REFERENCE_TIME>, 2> FTargets{};
    std::array<std::atomic<HWND>, 2> FTargetWindows{};
    std::array<std::atomic<bool>, 2> FArmed{};
    std::atomic<bool> FStopping{false};  // Stop has begun

    void WaitForOpenGate();

    // Written while connecting, or by the input pin when a sample brings a
    // new type.
    mutable std::mutex FFormatLock;
    TVideoData FVideoFormat;

    // Streaming thread.
    REFERENCE_TIME FSegmentStart = 0;
    double FRate = 1.0;
    bool FResync = true;
    REFERENCE_TIME FTimeBase = 0;
    std::array<QString, kRingSize> FTimeTexts;
    int FTimeIndex = 0;
    QString FLastTimeText;
};
