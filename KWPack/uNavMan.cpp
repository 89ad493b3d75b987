#include "KWPack/uNavMan.h"

#include "KWPack/uMediaDevices.h"
#include "KWPack/uNotifier.h"

#include "platform/dshow/Uuids.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>

#include <algorithm>

TNavMan::TNavMan(QObject *owner, TStateEvent onStateChange) : TDVMan(owner, std::move(onStateChange)) {}

TNavMan::~TNavMan()
{
    UnbindEdit();
    UnbindSlider();
}

// ---- Actions ---------------------------------------------------------------------

void TNavMan::CreateActions()
{
    caPlay = NewAction<TCheckAction>(QStringLiteral("caPlay"), QStringLiteral("Play"));
    caPlay->Switch = QStringLiteral("swi_p");
    caPlay->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_Space));
    SetCheckTexts(caPlay, QStringLiteral("Pause"), QStringLiteral("Play"), QStringLiteral("Set Pause"),
                  QStringLiteral("Play the video and/or audio stream"));

    struct Step {
        TNopeAction **field;
        const char *name, *script, *switchName, *hint;
        QKeyCombination key;
    };
    const Step steps[] = {
        {&naReculeDebut, "naReculeDebut", "ReculeDebut", "swi_deb", "Go back to start", Qt::CTRL | Qt::SHIFT | Qt::Key_Home},
        {&naReculeTrack, "naReculeTrack", "ReculeTrack", "swi_nrtrack", "Go back to the previous scene", Qt::CTRL | Qt::Key_Home},
        {&naRecule10Minutes, "naRecule10Minutes", "Recule10Minutes", "swi_nr10m", "Go Back ten minutes", Qt::CTRL | Qt::SHIFT | Qt::Key_PageDown},
        {&naReculeMinute, "naReculeMinute", "ReculeMinute", "swi_nrm", "Go back a minute", Qt::CTRL | Qt::Key_PageDown},
        {&naRecule10Secondes, "naRecule10Secondes", "Recule10Secondes", "swi_nr10s", "Go back ten seconds", Qt::CTRL | Qt::SHIFT | Qt::Key_Down},
        {&naReculeSeconde, "naReculeSeconde", "ReculeSeconde", "swi_nrs", "Go back a second", Qt::CTRL | Qt::Key_Down},
        {&naRecule10Frames, "naRecule10Frames", "Recule10Frames", "swi_nr10f", "Go back ten frames", Qt::CTRL | Qt::SHIFT | Qt::Key_Left},
        {&naReculeFrame, "naReculeFrame", "ReculeFrame", "swi_nrf", "Go back a frame", Qt::CTRL | Qt::Key_Left},
        {&naAvanceFin, "naAvanceFin", "AvanceFin", "swi_end", "Move to the end", Qt::CTRL | Qt::SHIFT | Qt::Key_End},
        {&naAvanceTrack, "naAvanceTrack", "AvanceTrack", "swi_naTrack", "Move forward to the next scene", Qt::CTRL | Qt::Key_End},
        {&naAvance10Minutes, "naAvance10Minutes", "Avance10Minutes", "swi_na10m", "Move forward ten minutes", Qt::CTRL | Qt::SHIFT | Qt::Key_PageUp},
        {&naAvanceMinute, "naAvanceMinute", "AvanceMinute", "swi_nam", "Move forward a minute", Qt::CTRL | Qt::Key_PageUp},
        {&naAvance10Secondes, "naAvance10Secondes", "Avance10Secondes", "swi_na10s", "Move forward ten seconds", Qt::CTRL | Qt::SHIFT | Qt::Key_Up},
        {&naAvanceSeconde, "naAvanceSeconde", "AvanceSeconde", "swi_nas", "Move forward one second", Qt::CTRL | Qt::Key_Up},
        {&naAvance10Frames, "naAvance10Frames", "Avance10Frames", "swi_na10f", "Move forward ten frames", Qt::CTRL | Qt::SHIFT | Qt::Key_Right},
        {&naAvanceFrame, "naAvanceFrame", "AvanceFrame", "swi_naf", "Move forward one frame", Qt::CTRL | Qt::Key_Right},
    };
    for (const Step &s : steps) {
        *s.field = NewAction<TNopeAction>(QString::fromLatin1(s.name), QString::fromLatin1(s.script));
        (*s.field)->Switch = QString::fromLatin1(s.switchName);
        (*s.field)->SetHint(QString::fromLatin1(s.hint));
        (*s.field)->SetShortCut(QKeySequence(s.key));
    }
    naReculeDebut->SetCaption(QStringLiteral("Start"));

    caVitesseCompatible = NewAction<TCheckAction>(QStringLiteral("caVitesseCompatible"), QStringLiteral("VitesseCompatible"));
    caVitesseCompatible->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_B));
    caVitesseCompatible->ApplyWhenLoad = true;
    SetCheckTexts(caVitesseCompatible, QStringLiteral("Compatible speed"), QStringLiteral("Normal Speed"),
                  QStringLiteral("Play video with highest speed compatible with the ressources of the CPU"),
                  QStringLiteral("Play video at normal speed"));

    caSeekPrecision = NewAction<TCheckAction>(QStringLiteral("caSeekPrecision"), QStringLiteral("SeekPrecision"));
    caSeekPrecision->Switch = QStringLiteral("swi_prec");
    caSeekPrecision->ApplyWhenLoad = true;
    SetCheckTexts(caSeekPrecision, QStringLiteral("Seek precision"), QStringLiteral("Seek precision"),
                  QStringLiteral("Disable the precise navigation in the video"),
                  QStringLiteral("Navigate accurately in the video (Recommended)"));
    caSeekPrecision->SetDefaultValue(true);

    iaSeekPrepos = NewAction<TIntegerAction>(QStringLiteral("iaSeekPrepos"), QStringLiteral("SeekPrepos"));
    iaSeekPrepos->Switch = QStringLiteral("swi_prep");
    iaSeekPrepos->ApplyWhenLoad = true;
    iaSeekPrepos->SetHint(QStringLiteral("Timeout used for a specific position (in milliseconds)"));
    iaSeekPrepos->SetDefaultValue(1000);

    waStrPosition = NewAction<TWidestringAction>(QStringLiteral("waStrPosition"), QStringLiteral("Position"));
    waStrPosition->Switch = QStringLiteral("swi_StrPos");
    waStrPosition->SetHint(QStringLiteral("Select a position as hh:mm:ss:ff and type Enter"));
    waStrPosition->SetDefaultValue(QStringLiteral("0:00:00:00"));
}

void TNavMan::LocateActions()
{
    caPlay = Locate<TCheckAction>(QStringLiteral("caPlay"));
    for (auto [field, name] : std::initializer_list<std::pair<TNopeAction **, const char *>>{
             {&naReculeDebut, "naReculeDebut"}, {&naReculeTrack, "naReculeTrack"},
             {&naRecule10Minutes, "naRecule10Minutes"}, {&naReculeMinute, "naReculeMinute"},
             {&naRecule10Secondes, "naRecule10Secondes"}, {&naReculeSeconde, "naReculeSeconde"},
             {&naRecule10Frames, "naRecule10Frames"}, {&naReculeFrame, "naReculeFrame"},
             {&naAvanceFin, "naAvanceFin"}, {&naAvanceTrack, "naAvanceTrack"},
             {&naAvance10Minutes, "naAvance10Minutes"}, {&naAvanceMinute, "naAvanceMinute"},
             {&naAvance10Secondes, "naAvance10Secondes"}, {&naAvanceSeconde, "naAvanceSeconde"},
             {&naAvance10Frames, "naAvance10Frames"}, {&naAvanceFrame, "naAvanceFrame"}})
        *field = Locate<TNopeAction>(QString::fromLatin1(name));
    caVitesseCompatible = Locate<TCheckAction>(QStringLiteral("caVitesseCompatible"));
    caSeekPrecision = Locate<TCheckAction>(QStringLiteral("caSeekPrecision"));
    iaSeekPrepos = Locate<TIntegerAction>(QStringLiteral("iaSeekPrepos"));
    waStrPosition = Locate<TWidestringAction>(QStringLiteral("waStrPosition"));
}

void TNavMan::BindActions()
{
    const QPointer<TNavMan> self(this);
    const auto call = [self](auto op) {
        return [self, op] {
            if (self)
                op(*self);
        };
    };
    if (caPlay) {
        caPlay->InternalTrueApply = call([](TNavMan &m) { m.Play(); });
        caPlay->InternalFalseApply = call([](TNavMan &m) { m.Pause(); });
    }
    const auto step = [&](TNopeAction *a, auto op) {
        if (a)
            a->InternalApply = call(op);
    };
    step(naReculeDebut, [](TNavMan &m) { m.GoStart(); });
    step(naRecule10Minutes, [](TNavMan &m) { m.StepBackward(kTenMinutes); });
    step(naReculeMinute, [](TNavMan &m) { m.StepBackward(kOneMinute); });
    step(naRecule10Secondes, [](TNavMan &m) { m.StepBackward(kTenSeconds); });
    step(naReculeSeconde, [](TNavMan &m) { m.StepBackward(kOneSecond); });
    step(naRecule10Frames, [](TNavMan &m) { m.StepBackward(10 * m.FrameDuration); });
    step(naReculeFrame, [](TNavMan &m) { m.StepBackward(m.FrameDuration); });
    step(naAvanceFin, [](TNavMan &m) { m.GoEnd(); });
    step(naAvance10Minutes, [](TNavMan &m) { m.StepForward(kTenMinutes); });
    step(naAvanceMinute, [](TNavMan &m) { m.StepForward(kOneMinute); });
    step(naAvance10Secondes, [](TNavMan &m) { m.StepForward(kTenSeconds); });
    step(naAvanceSeconde, [](TNavMan &m) { m.StepForward(kOneSecond); });
    step(naAvance10Frames, [](TNavMan &m) { m.StepForward(10 * m.FrameDuration); });
    step(naAvanceFrame, [](TNavMan &m) { m.StepForward(m.FrameDuration); });
    if (caVitesseCompatible) {
        caVitesseCompatible->InternalTrueApply = call([](TNavMan &m) { m.VitesseMaxi(); });
        caVitesseCompatible->InternalFalseApply = call([](TNavMan &m) { m.VitesseNormale(); });
    }
    if (iaSeekPrepos)
        iaSeekPrepos->InternalApply = [self](const int32_t &ms) {
            if (self)
                self->SeekPrepos = REFERENCE_TIME(ms) * 10000;
        };
    if (waStrPosition)
        waStrPosition->InternalApply = [self](const QString &text) {
            if (self)
                self->GoToTimeText(text);
        };
}

// ---- Positioning -------------------------------------------------------------------

TGraphState TNavMan::GraphState() const { return FilterGraph()->State(); }

bool TNavMan::PreciseSteps() const { return !caSeekPrecision || caSeekPrecision->Checked(); }

void TNavMan::GoToPosition(REFERENCE_TIME t)
{
    if (Seeking)
        return;
    Seeking = true;
    if (!Quiet)
        SetSeekCue(true);
    t = std::max(t, RangeStart);
    const REFERENCE_TIME last = RangeEnd - FrameDuration;
    if (last <= t)
        t = last;
    DoSeek(t);
    if (!Quiet)
        SetSeekCue(false);
    Seeking = false;
}

void TNavMan::DoSeek(REFERENCE_TIME t)
{
    try {
        const bool running = GraphState() == gsRunning && Notifier;
        const bool notify = running && Notifier->NotifyOn;
        Pause();
        if (onAbsolutePosition)
            onAbsolutePosition(t);
        if (running)
            Notifier->NotifyOn = false;
        SeekMediaTime(t);
        if (running) {
            Notifier->NotifyOn = notify;
            Play();
        }
    } catch (...) {
    }
}

void TNavMan::SeekMediaTime(REFERENCE_TIME t)
{
    if (!MediaSeeking || FAILED(MediaSeeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME)))
        return;
    DWORD caps = 0;
    if (MediaSeeking->GetCapabilities(&caps) == E_FAIL || !(caps & AM_SEEKING_CanSeekAbsolute))
        return;
    LONGLONG current = t, stop = std::numeric_limits<LONGLONG>::max();
    MediaSeeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, &stop,
                               AM_SEEKING_AbsolutePositioning);
}

void TNavMan::GoEnd()
{
    const REFERENCE_TIME last = RangeEnd - FrameDuration;
    if (PreciseSteps() && Notifier && last > RangeStart && last < Duration - FrameDuration)
        SeekPrecise(last);
    else
        GoToPosition(RangeEnd);
}

void TNavMan::SeekPrecise(REFERENCE_TIME t)
{
    if (t == 0) {
        GoStart();
        return;
    }
    if (t >= Duration - FrameDuration) {
        GoEnd();
        return;
    }
    if (!Notifier) {
        GoToPosition(t);  // no notifier to stop on the frame: the nearest key frame
        return;
    }
    StateBeforeSeek = GraphState();
    Notifier->PassFrames = false;
    Notifier->SetTargetWindow(0, MessageWindow());
    Notifier->SetTarget(0, t);
    WaitingTarget = true;
    GoToPosition(t - SeekPrepos);
    WaitForTarget(t);
}

// The seek may have brought the notifier to the target already (its report
// then waits for this thread); otherwise the graph runs there.
void TNavMan::WaitForTarget(REFERENCE_TIME t)
{
    if (WaitingTarget && Notifier->CurrentTime < t && Notifier->TargetArmed(0))
        Play();
    const int flushes = Notifier->Flushes;
    const qint64 limit = std::max<qint64>(10000, 5 * SeekPrepos / 10000);
    QElapsedTimer waited;
    waited.start();
    // The end of the stream ends the wait too; whoever listens still hears it.
    bool complete = false;
    const TGraphCompletedEvent listener = OnGraphCompleted;
    OnGraphCompleted = [&complete, listener] {
        complete = true;
        if (listener)
            listener();
    };
    GraphError = false;
    // Asleep between messages: the decoder needs the processor more than a
    // polling loop does. The wake-ups let the time limit and the graph's
    // state be checked even when no message comes.
    while (WaitingTarget) {
        WaitMessages(20);
        const bool ended = complete || StreamEnded || GraphError || GraphState() == gsStopped
            || Notifier->Flushes != flushes || (AbortRequested && AbortRequested()) || waited.elapsed() > limit;
        if (ended && WaitingTarget) {
            // Without the target: pictures pass again, the graph as it was.
            Notifier->SetTarget(0, 0);
            Notifier->PassFrames = true;
            WaitingTarget = false;
            if (StateBeforeSeek == gsPaused && GraphState() == gsRunning)
                Pause();
            break;
        }
    }
    OnGraphCompleted = listener;
    Notifier->SetTargetWindow(0, 0);
    WaitForStableState();
}

// The notifier waits in its send: the target picture passes once this returns.
void TNavMan::TargetReached()
{
    if (Notifier)
        Notifier->PassFrames = true;
    if (StateBeforeSeek == gsPaused)
        Pause();
    WaitingTarget = false;
}

void TNavMan::StepForward(REFERENCE_TIME d)
{
    REFERENCE_TIME p = CurrentPosition() + d;
    p = std::max(std::min(p, RangeEnd), RangeStart);
    if (PreciseSteps())
        SeekPrecise(p);
    else
        GoToPosition(p);
}

void TNavMan::StepBackward(REFERENCE_TIME d)
{
    REFERENCE_TIME p = CurrentPosition() - d;
    p = std::max(p, RangeStart);
    if (PreciseSteps())
        SeekPrecise(p);
    else
        GoToPosition(p);
}

void TNavMan::GoToTimeText(const QString &text)
{
    const REFERENCE_TIME p = PositionFromText(text, FrameDuration);
    if (PreciseSteps())
        SeekPrecise(p);
    else
        GoToPosition(p);
}

void TNavMan::SetRange(bool goStart, REFERENCE_TIME start, REFERENCE_TIME stop)
{
    RangeEnd = stop - FrameDuration;
    RangeStart = start;
    if (RangeEnd < 0)
        RangeEnd = Duration - FrameDuration;
    if (RangeStart < 0)
        RangeStart = 0;
    const REFERENCE_TIME last = Duration - FrameDuration;
    RangeStart = std::min(RangeStart, last);
    RangeEnd = std::min(RangeEnd, last);
    RangeEnd = std::max(RangeEnd, RangeStart);
    if (goStart) {
        GoToPosition(RangeStart);
        return;
    }
    LONGLONG current = 0;
    if (MediaSeeking)
        MediaSeeking->GetCurrentPosition(&current);
    GoToPosition(std::clamp<REFERENCE_TIME>(current, RangeStart, RangeEnd));
}

void TNavMan::ResetTimeline()
{
    Duration = 0;
    try {
        LONGLONG duration = 0;
        if (MediaSeeking && SUCCEEDED(MediaSeeking->GetDuration(&duration)))
            Duration = duration;
    } catch (...) {
    }
    RangeStart = 0;
    SetFrameDuration(1);
    StreamEnded = false;
    GraphError = false;
}

void TNavMan::SetFrameDuration(REFERENCE_TIME fd)
{
    if (fd == 0)
        return;
    FrameDuration = fd;
    if (Notifier)
        Notifier->FrameDuration = fd;
    RangeEnd = Duration - fd;
    if (OnDuration)
        OnDuration(PositionText(Duration, fd));
    if (FSlider)
        FSlider->setMaximum(int(RangeEnd / SliderScale));
}

void TNavMan::RefreshFrame()
{
    if (Quiet)
        return;
    Quiet = true;
    if (GraphState() == gsPaused && Notifier && MediaSeeking) {
        LONGLONG current = Notifier->CurrentTime;
        MediaSeeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
        Notifier->RefreshInput();
    }
    Quiet = false;
}

bool TNavMan::Stop()
{
    if (!Notifier)
        return TDVMan::Stop();
    const bool notify = Notifier->NotifyOn.exchange(false);
    const bool stopped = TDVMan::Stop();
    Notifier->NotifyOn = notify;
    return stopped;
}

void TNavMan::SetNavSource(TavSource *source)
{
    if (FNavSource == source)
        return;
    if (FNavSource)
        FNavSource->Detach();
    FNavSource = source;
    if (source)
        source->Attach(this, MessageWindow());
}

void TNavMan::VitesseMaxi() { SetSpeed(true); }
void TNavMan::VitesseNormale() { SetSpeed(false); }

void TNavMan::SetSpeed(bool maxi)
{
    const TGraphState before = GraphState();
    TDVMan::Stop();
    if (onVitesse)
        onVitesse(maxi);
    if (maxi) {
        if (auto filter = ComQuery<IMediaFilter>(GraphBuilder))
            filter->SetSyncSource(nullptr);
    } else if (GraphBuilder) {
        GraphBuilder->SetDefaultSyncSource();
    }
    Play();
    if (before != gsRunning)
        Pause();
}

// ---- Displays ----------------------------------------------------------------------

REFERENCE_TIME TNavMan::CurrentPosition()
{
    REFERENCE_TIME position = 0;
    if (Notifier) {
        position = Notifier->CurrentTime;
    } else {
        LONGLONG current = 0;
        if (!MediaSeeking || FAILED(MediaSeeking->GetCurrentPosition(&current)))
            return 0;
        position = current;
    }
    const QString text = PositionText(position, FrameDuration);
    if (text == LastPositionText)
        return position;
    LastPositionText = text;
    if (!FPositionEdit && !FSlider && !OnDisplayTime && !OnKPosition)
        return position;
    if (FSlider && SliderFollows)
        SetSliderValue(int(position / SliderScale));
    if (OnKPosition) {
        // An empty range (a video of one or two frames): the start or the end.
        const REFERENCE_TIME range = RangeEnd - RangeStart;
        OnKPosition(range > 0 ? int((position - RangeStart) * 1024 / range) : position > RangeStart ? 1024 : 0);
    }
    if (onTime)
        onTime(position);
    return position;
}

void TNavMan::ShowFrameTime(const QString &text)
{
    if (FPositionEdit || FSlider || OnDisplayTime || OnKPosition) {
        if (OnDisplayTime)
            OnDisplayTime(text);
        if (FPositionEdit && EditFollows)
            FPositionEdit->setText(text);
    }
    CurrentPosition();
}

void TNavMan::SetSeekCue(bool seeking)
{
    if (FPositionEdit) {
        QFont font = FPositionEdit->font();
        font.setItalic(seeking);
        FPositionEdit->setFont(font);
        QPalette palette = FPositionEdit->palette();
        palette.setColor(QPalette::Text, seeking ? QColor(192, 192, 192) : QColor(Qt::black));
        FPositionEdit->setPalette(palette);
    }
    const TNotifyEvent0 &cue = seeking ? OnDisplaySeek : OnDisplayNormal;
    if (cue)
        cue();
}

void TNavMan::PaintEdit(bool seekable)
{
    if (!FPositionEdit)
        return;
    QPalette palette = FPositionEdit->palette();
    palette.setColor(QPalette::Base, seekable ? QColor(0, 255, 0) : QColor(Qt::white));
    FPositionEdit->setPalette(palette);
}

// ---- Bound controls ------------------------------------------------------------------

namespace {

// Focus and Enter of the position edit.
class EditHook final : public QObject {
public:
    EditHook(QLineEdit *edit, TNavMan *nav) : QObject(edit), FNav(nav) { edit->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (!FNav)
            return false;
        auto *edit = static_cast<QLineEdit *>(watched);
        switch (e->type()) {
        case QEvent::FocusIn:
            FNav->EditFollows = false;  // typing is not overwritten
            break;
        case QEvent::FocusOut:
            FNav->EditFollows = true;
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && FNav->EditEntryEnabled) {
                FNav->GoToTimeText(edit->text());
                // The focus leaves the edit, as the next dialog control takes it.
                QTimer::singleShot(0, edit, [edit] { edit->nextInFocusChain()->setFocus(Qt::TabFocusReason); });
                return true;
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    QPointer<TNavMan> FNav;
};

} // namespace

void TNavMan::SetPositionEdit(QLineEdit *edit)
{
    UnbindEdit();
    FPositionEdit = edit;
    if (!edit)
        return;
    EditFollows = true;
    FEditHook = new EditHook(edit, this);
    connect(edit, &QObject::destroyed, this, [this] {
        FEditHook = nullptr;
        EditFollows = false;
    });
}

void TNavMan::UnbindEdit()
{
    if (FPositionEdit && FEditHook) {
        FPositionEdit->removeEventFilter(FEditHook);
        delete FEditHook;
        disconnect(FPositionEdit, &QObject::destroyed, this, nullptr);
    }
    FEditHook = nullptr;
    FPositionEdit = nullptr;
    EditFollows = false;
}

void TNavMan::SetSlider(QSlider *slider)
{
    UnbindSlider();
    FSlider = slider;
    if (!slider)
        return;
    slider->setMinimum(int(RangeStart / SliderScale));
    slider->setMaximum(int(RangeEnd / SliderScale));
    SliderFollows = true;
    FSliderPressed = connect(slider, &QSlider::sliderPressed, this, [this] { SliderFollows = false; });
    FSliderReleased = connect(slider, &QSlider::sliderReleased, this, [this] { SliderFollows = true; });
    // The user's changes seek; the program's own (following the video) do not.
    FSliderChanged = connect(slider, &QSlider::valueChanged, this, [this](int value) {
        if (!FSettingSlider)
            GoToPosition(REFERENCE_TIME(value) * SliderScale);
    });
    connect(slider, &QObject::destroyed, this, [this] { SliderFollows = false; });
}

void TNavMan::UnbindSlider()
{
    for (QMetaObject::Connection *c : {&FSliderPressed, &FSliderReleased, &FSliderChanged})
        disconnect(*c);
    if (FSlider)
        disconnect(FSlider, &QObject::destroyed, this, nullptr);
    FSlider = nullptr;
    SliderFollows = false;
}

void TNavMan::SetSliderValue(int value)
{
    FSettingSlider = true;
    FSlider->setValue(value);
    FSettingSlider = false;
}

// ---- Messages ----------------------------------------------------------------------

void TNavMan::Snapshot(HWND window)
{
    Pause();
    WaitForStableState();
    SendMessage(window, WM_VIDEO_GRAB, reinterpret_cast<WPARAM>(&Bitmap()), 0);
    Play();
}

void TNavMan::WndProc(TMessage &message)
{
    switch (message.Msg) {
    case WM_NAV_FRAMETIME:
        // The message owns the text; copy it before anything else runs.
        ShowFrameTime(QString(*reinterpret_cast<const QString *>(message.wParam)));
        break;
    case WM_NAV_FRAMEDURATION:
        SetFrameDuration(REFERENCE_TIME(int32_t(uint32_t(message.wParam))));
        break;
    case WM_NAV_TARGETREACHED:
        TargetReached();
        message.Result = 1;  // heard: the notifier re-arms a report that was not
        break;
    case WM_NAV_REFRESH:
        RefreshFrame();
        break;
    case WM_NAV_EDITCOLOR:
        ReplyMessage(0);
        PaintEdit(message.lParam == 0 && GraphState() == gsPaused);
        break;
    case WM_NAV_SNAPSHOT:
        Snapshot(HWND(message.lParam));
        break;
    default:
        TDVMan::WndProc(message);
    }
}
