// TNotifier: the stream notifier. An in-place filter that lets every sample
// pass unchanged while it reads what the stream says about itself (the video
// format, the audio format, and in DV the camcorder's recording date and time
// code) and reports it, and every change of it, to the managers' windows.
//
// It stands where the stream leaves its device, before any decoder: as "DV
// Notifier" between an interleaved DV pin and the DV splitter, and as "Video
// Source Notifier" / "Audio Source Notifier" on a source's own pin.
//
// States: inert until a switch arms it (samples then pass without analysis);
// armed, it analyses every sample on the streaming thread. StartStreaming
// restarts the frame counter and makes the first sample report everything.
//
// Reports leave the streaming thread only as window messages. A posted report
// carries its own copy of the record (owned by the message, freed after the
// receiver's handler or with the queue), because the streaming thread keeps
// writing the filter's records. A sent report points into the filter: the
// streaming thread waits until it is handled (the graph's SendGate releases it
// when the graph stops or flushes).
//
// Threads and locks: switches, Reset and the snapshot readers: UI thread (the
// readers: any thread). Transform: the streaming thread, streaming lock held.
// The records the UI thread may read (frame data, video data, stored type,
// date format) are guarded by m_dataLock, which is never held while a message
// is sent or posted. Switches and windows are atomics.
#pragma once

#include "KWPack/uMediaFormats.h"

#include "platform/base/DateTimeText.h"
#include "platform/base/MessageWindow.h"
#include "platform/dshow/TransInPlace.h"

#include <QString>

#include <array>
#include <atomic>
#include <mutex>

// {904F906E-CC19-462D-95DF-B61A7082E6AD}
inline constexpr CLSID CLSID_VostrelNotifier{0x904F906E, 0xCC19, 0x462D,
                                             {0x95, 0xDF, 0xB6, 0x1A, 0x70, 0x82, 0xE6, 0xAD}};

// Reports of the stream notifier.
// Video window. wParam 4: sent, lParam points to the filter's TVideoData;
// wParam 2: posted, lParam points to the message's own copy.
inline constexpr UINT WM_VIDEO_FORMAT = 0x2403;
// Audio window, posted. wParam 3, lParam: a copy of the TframeData.
inline constexpr UINT WM_AUDIO_FORMAT = 0x2404;
// Date window / time-code window, posted. wParam 0, lParam: a copy of the
// TframeData.
inline constexpr UINT WM_DV_DATECODE = 0x2409;
inline constexpr UINT WM_DV_TIMECODE = 0x240A;
// Frame-date window, sent for every analysed frame. wParam points to a
// TDVCodesRec of the filter's frame-date ring, lParam 0.
inline constexpr UINT WM_VIDEO_DVCODES = 0x240C;
// Navigation window, posted with every video report while the navigation
// request stands. wParam: the frame duration (low 32 bits), lParam 0.
inline constexpr UINT WM_NAV_FRAMEDURATION = 0x2421;

// One frame's DV date and time code, as the frame-date report hands it out.
struct TDVCodesRec {
    uint8_t DateValid = 0;
    uint8_t TimeCodeValid = 0;
    double Date = 0;  // days since 30 December 1899
    QString TimeCodeText;
    int32_t FrameCounter = -1;  // the analysed frame it belongs to
};

// Kind codes the owners write (the notifier does not read them).
inline constexpr int kNotifierDVDevice = 1;
inline constexpr int kNotifierSource = 2;

class TNotifier final : public CTransInPlaceFilter {
public:
    static constexpr int kRingSize = 24;
    static inline const QString kDefaultDateFormat = QStringLiteral("dddddd - tt");

    // UI thread. Created reset and inert.
    TNotifier();

    // ---- Switches (UI thread); each one also arms reporting ----
    // Where video and audio reports go (the video or audio manager's window).
    void SetVideoWindow(HWND wnd) { FVideoWindow = wnd; }
    void SetAudioWindow(HWND wnd) { FAudioWindow = wnd; }
    HWND VideoWindow() const { return FVideoWindow; }
    HWND AudioWindow() const { return FAudioWindow; }
    void SetVideoReports(bool on);
    void SetAudioReports(bool on);
    // The window comes with the switch; switching off keeps the window.
    void SetDateReports(bool on, HWND wnd);
    void SetTimeCodeReports(bool on, HWND wnd);
    // Switching on sends the current frame's record to wnd at once.
    void SetFrameDateReports(bool on, HWND wnd);
    // The navigation manager asks for frame-duration notices with every
    // video report (wnd 0 withdraws the request).
    void SetNavigationRequest(HWND wnd);
    // Scene detection is never switched on here; the window is only kept.
    void SetSceneWindow(HWND wnd) { FSceneWindow = wnd; }

    bool VideoReports() const { return FVideoReports; }
    bool AudioReports() const { return FAudioReports; }
    bool DateReports() const { return FDateReports; }
    bool TimeCodeReports() const { return FTimeCodeReports; }
    bool FrameDateReports() const { return FFrameDateReports; }
    bool Armed() const { return FArmed; }
    HWND NavigationWindow() const { return FNavWindow; }
    HWND SceneWindow() const { return FSceneWindow; }

    // Date format "dddddd - tt", texts "No Datecode" / "No Timecode", valid
    // flags cleared, audio texts emptied. Switches and windows stay.
    void Reset();
    // FormatDateTime format of the recording-date text.
    void SetDateFormat(const QString &format);
    QString DateFormat() const;

    // Set on a source's own notifier when the source hangs from a DV device.
    void SetBehindDVNotifier(bool on) { FBehindDVNotifier = on; }
    bool BehindDVNotifier() const { return FBehindDVNotifier; }
    // A tag the owners write; the notifier does not read it.
    int KindCode = 0;

    // ---- Snapshots (any thread) ----
    TframeData FrameData() const;
    TVideoData VideoData() const;
    // Major type, subtype and format type the input connected with (GUID_NULL
    // until the first connection).
    CMediaType StoredType() const;
    // The audio description of a connection type: audio type text and label
    // into the frame data (the audio source stores its pin's type this way).
    void StoreAudioDescription(const CMediaType &mt);

    // ---- The filter (called by the graph) ----
    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin *pReceivePin) override;
    HRESULT StartStreaming() override;
    // Streaming thread.
    HRESULT Transform(IMediaSample *pSample) override;

private:
    // All with m_dataLock held.
    void ApplyMediaType(const CMediaType &mt, bool &videoChanged, bool &audioChanged);
    void AnalyseDVVideo(const BYTE *data, long length);
    void AnalyseInterleavedDV(const BYTE *data, long length);
    void AnalyseMPEG2(const BYTE *data, long length);
    void ReadDVCodes(const BYTE *data, size_t length);
    QString DateText(double date) const;
    void ResetLocked();

    // Without m_dataLock: each takes a copy under the lock, then reports.
    void ReportVideo();
    void ReportAudio();
    void PostFrameCopy(HWND wnd, UINT msg);
    void SendFrameDate(HWND wnd);
    void Arm() { FArmed = true; }
    // Video reports, or the navigation manager's request for them.
    bool WantsVideo() const { return FVideoReports || FNavWindow != 0; }

    // Switches and windows: written on the UI thread, read while streaming.
    std::atomic<bool> FVideoReports{false}, FAudioReports{false}, FDateReports{false},
        FTimeCodeReports{false}, FFrameDateReports{false}, FArmed{false}, FBehindDVNotifier{false};
    std::atomic<HWND> FVideoWindow{0}, FAudioWindow{0}, FDateWindow{0}, FTimeCodeWindow{0},
        FFrameDateWindow{0}, FNavWindow{0}, FSceneWindow{0};

    // Guarded by m_dataLock: written by the streaming thread (and the UI
    // thread while stopped), read by snapshots.
    mutable std::mutex m_dataLock;
    CMediaType FStoredType;  // only the three GUIDs are kept
    TVideoData FVideo, FPrevVideo;
    TframeData FFrame, FPrevFrame;
    QString FDateFormat, FDatePart, FTimePart;
    // The user's locale, read once: date texts are made for every frame.
    const TFormatSettings FFormatSettings = FormatSettingsFromLocale(QLocale());
    bool FFirstSample = false;

    // The record a sent video report points to: written only by the thread
    // that reports (the UI thread while connecting, then the streaming thread).
    TVideoData FSentVideo;
    // The frame-date ring: sent reports point into it (streaming lock).
    std::array<TDVCodesRec, kRingSize> FFrameDateRing;
    int FFrameDateSlot = 0;  // last slot used, 1..kRingSize; 0 before the first
};
