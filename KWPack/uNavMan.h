// TNavMan: the navigation manager. Owns the playing position of the open
// media: plays and pauses, steps by a frame, ten frames, a second, ten
// seconds, a minute or ten minutes, jumps to the start or the end, seeks to a
// typed "h:mm:ss:ff" position or a slider position, and keeps the position
// edit, the slider and the duration text current.
//
// Precise navigation: to land on one exact frame it seeks a little before it
// (SeekPrepos), lets the graph run while the frame notifier swallows every
// picture before the target, and is told by the notifier (a sent report)
// on the target picture itself, which then passes to the renderer. The wait
// is a nested message loop; it always ends: on the target, the end of the
// stream, a stop, a flush or an error of the graph, the abort flag, or a time
// limit (the larger of 10 s and five times SeekPrepos). Ended without the
// target, pictures pass again and the graph is left as the caller had it.
//
// UI thread only. The frame notifier reaches it through the component's
// message window. The notifier, the nav source and the bound widgets are
// borrowed (the widgets are forgotten when they are destroyed).
#pragma once

#include "KWPack/uDVMan.h"
#include "KWPack/uFramesNotifier.h"

#include <QLineEdit>
#include <QPointer>
#include <QSlider>

#include <functional>
#include <limits>

class TCheckAction;
class TNopeAction;
class TIntegerAction;
class TWidestringAction;

// Sent to a window by the snapshot message: grab the current picture into the
// QImage that wParam points to.
inline constexpr UINT WM_VIDEO_GRAB = 0x2401;
inline constexpr UINT WM_NAV_SNAPSHOT = 0x2412;
inline constexpr UINT WM_NAV_EDITCOLOR = 0x2416;
inline constexpr UINT WM_NAV_REFRESH = 0x241C;

using TRefTimeEvent = std::function<void(REFERENCE_TIME rt)>;
using TKPositionEvent = std::function<void(int pos)>;
using TTimeTextEvent = std::function<void(const QString &text)>;
using TNotifyEvent0 = std::function<void()>;

class TNavMan : public TDVMan {
    Q_OBJECT
public:
    // Slider values are positions in units of 1024 x 100 ns.
    static constexpr REFERENCE_TIME SliderScale = 1024;
    static constexpr REFERENCE_TIME kTenMinutes = 6'000'000'000;
    static constexpr REFERENCE_TIME kOneMinute = 600'000'000;
    static constexpr REFERENCE_TIME kTenSeconds = 100'000'000;
    static constexpr REFERENCE_TIME kOneSecond = 10'000'000;

    explicit TNavMan(QObject *owner = nullptr, TStateEvent onStateChange = {});
    ~TNavMan() override;

    // ---- Positioning (UI thread) ----
    // Clamped absolute key-frame seek (every other seek ends here).
    void GoToPosition(REFERENCE_TIME t);
    // Frame-accurate seek by pre-positioning and the notifier's target.
    void SeekPrecise(REFERENCE_TIME t);
    void StepForward(REFERENCE_TIME d);
    void StepBackward(REFERENCE_TIME d);
    void GoStart() { GoToPosition(RangeStart); }
    // The last position of the range, RangeEnd - FrameDuration: exactly with
    // precise navigation (a key-frame seek would stop at the last key frame).
    void GoEnd();
    void GoToTimeText(const QString &text);
    // The notifier's time of the picture shown (else the graph's position);
    // refreshes the displays when its text changed.
    REFERENCE_TIME CurrentPosition();
    void SetRange(bool goStart, REFERENCE_TIME start, REFERENCE_TIME stop);
    void ResetTimeline();
    void SetFrameDuration(REFERENCE_TIME fd);
    // The paused graph shows the current picture again.
    void RefreshFrame();
    // Stops following the previous source (its Detach) and attaches `source`
    // to this component's window.
    void SetNavSource(TavSource *source);
    TavSource *NavSource() const { return FNavSource; }

    // Remembers the notifier's NotifyOn, clears it around the stop.
    bool Stop() override;
    // No clock: pictures as fast as they decode / the default clock.
    void VitesseMaxi();
    void VitesseNormale();

    // ---- Bound controls ----
    QLineEdit *PositionEdit() const { return FPositionEdit; }
    void SetPositionEdit(QLineEdit *edit);
    QSlider *Slider() const { return FSlider; }
    void SetSlider(QSlider *slider);

    void WndProc(TMessage &message) override;

    // ---- Fields of the design ----
    REFERENCE_TIME RangeStart = 0;
    REFERENCE_TIME RangeEnd = std::numeric_limits<REFERENCE_TIME>::max();
    REFERENCE_TIME Duration = 0;
    REFERENCE_TIME FrameDuration = 0;
    REFERENCE_TIME SeekPrepos = kOneSecond;
    TGraphState StateBeforeSeek = gsUninitialized;
    QString LastPositionText;
    bool Seeking = false;
    bool WaitingTarget = false;
    bool Quiet = false;
    bool EditFollows = false;
    bool EditEntryEnabled = false;
    bool SliderFollows = false;
    // The connected video's frame notifier; the video manager sets it.
    ComPtr<TFramesNotifier> Notifier;
    // The main window's abort flag: a precise wait ends when it answers true.
    std::function<bool()> AbortRequested;

    TRefTimeEvent onAbsolutePosition;
    TKPositionEvent OnKPosition;
    TTimeTextEvent OnDisplayTime;
    TTimeTextEvent OnDuration;
    TNotifyEvent0 OnDisplaySeek;
    TNotifyEvent0 OnDisplayNormal;
    TRefTimeEvent onTime;
    TBooleanEvent onVitesse;

    // ---- Actions ----
    TCheckAction *caPlay = nullptr;
    TNopeAction *naReculeDebut = nullptr, *naReculeTrack = nullptr, *naRecule10Minutes = nullptr,
                *naReculeMinute = nullptr, *naRecule10Secondes = nullptr, *naReculeSeconde = nullptr,
                *naRecule10Frames = nullptr, *naReculeFrame = nullptr;
    TNopeAction *naAvanceFin = nullptr, *naAvanceTrack = nullptr, *naAvance10Minutes = nullptr,
                *naAvanceMinute = nullptr, *naAvance10Secondes = nullptr, *naAvanceSeconde = nullptr,
                *naAvance10Frames = nullptr, *naAvanceFrame = nullptr;
    TCheckAction *caVitesseCompatible = nullptr, *caSeekPrecision = nullptr;
    TIntegerAction *iaSeekPrepos = nullptr;
    TWidestringAction *waStrPosition = nullptr;

    void CreateActions() override;
    void LocateActions() override;
    void BindActions() override;

protected:
    void DoSeek(REFERENCE_TIME t);
    void SeekMediaTime(REFERENCE_TIME t);

private:
    TGraphState GraphState() const;
    bool PreciseSteps() const;
    void WaitForTarget(REFERENCE_TIME t);
    void TargetReached();
    void ShowFrameTime(const QString &text);
    void SetSpeed(bool maxi);
    void Snapshot(HWND window);
    void PaintEdit(bool seekable);
    void SetSeekCue(bool seeking);
    void UnbindEdit();
    void UnbindSlider();
    void SetSliderValue(int value);

    TavSource *FNavSource = nullptr;
    QPointer<QLineEdit> FPositionEdit;
    QPointer<QSlider> FSlider;
    QObject *FEditHook = nullptr;    // owned by the edit (an event filter)
    QMetaObject::Connection FSliderPressed, FSliderReleased, FSliderChanged;
    bool FSettingSlider = false;  // our own value change is no user's seek
};
