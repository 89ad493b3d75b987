#include "KWPack/uNotifier.h"

#include "KWPack/uDVCodes.h"

#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const QString kNoDatecode = QStringLiteral("No Datecode");
const QString kNoTimecode = QStringLiteral("No Timecode");
const QString kNotAvailable = QStringLiteral("N/A");

constexpr double kNtscRate = 30000.0 / 1001.0;
constexpr REFERENCE_TIME kPalFrame = 400000;
constexpr REFERENCE_TIME kNtscFrame = 333667;

bool SameKeyPart(REFGUID stored, REFGUID offered) { return stored == GUID_NULL || stored == offered; }

bool IsDVVideo(const CMediaType &mt)
{
    return (mt.FormatType() == FORMAT_VideoInfo || mt.FormatType() == FORMAT_VideoInfo2)
        && (mt.Subtype() == MEDIASUBTYPE_dvsd || mt.Subtype() == MEDIASUBTYPE_dvcp);
}

// What the format text, size and rate report compares (before and after the
// type is looked at again by the pin).
bool PictureShapeChanged(const TVideoData &a, const TVideoData &b)
{
    return a.Width != b.Width || a.Height != b.Height || a.AspectX != b.AspectX || a.AspectY != b.AspectY
        || a.AspectCode != b.AspectCode;
}

bool PictureChanged(const TVideoData &a, const TVideoData &b)
{
    return a.Width != b.Width || a.Height != b.Height || a.BitsPerPixel != b.BitsPerPixel
        || a.FrameDuration != b.FrameDuration || a.FrameRate != b.FrameRate
        || a.SubtypeText != b.SubtypeText || a.AspectX != b.AspectX || a.AspectY != b.AspectY;
}

bool SoundShapeChanged(const TframeData &a, const TframeData &b)
{
    return a.AudioTypeText != b.AudioTypeText || a.Channels != b.Channels || a.BitsPerSample != b.BitsPerSample
        || a.SamplingRate != b.SamplingRate || a.BitRate != b.BitRate;
}

bool SoundChanged(const TframeData &a, const TframeData &b)
{
    return SoundShapeChanged(a, b) || a.AudioLabel != b.AudioLabel;
}

bool DateChanged(const TframeData &a, const TframeData &b)
{
    return a.DateValid != b.DateValid || a.RecordingDate != b.RecordingDate || a.DateText != b.DateText;
}

bool TimeCodeChanged(const TframeData &a, const TframeData &b)
{
    return a.TimeCodeValid != b.TimeCodeValid || a.TimeCodeText != b.TimeCodeText;
}

}  // namespace

TNotifier::TNotifier() : CTransInPlaceFilter(L"Vostrel's Notifier", CLSID_VostrelNotifier, false)
{
    ResetLocked();
}

// ---- Switches ----------------------------------------------------------------------

void TNotifier::SetVideoReports(bool on)
{
    FVideoReports = on;
    Arm();
}

void TNotifier::SetAudioReports(bool on)
{
    FAudioReports = on;
    Arm();
}

void TNotifier::SetDateReports(bool on, HWND wnd)
{
    if (on)
        FDateWindow = wnd;
    FDateReports = on;
    Arm();
}

void TNotifier::SetTimeCodeReports(bool on, HWND wnd)
{
    if (on)
        FTimeCodeWindow = wnd;
    FTimeCodeReports = on;
    Arm();
}

void TNotifier::SetFrameDateReports(bool on, HWND wnd)
{
    if (on)
        FFrameDateWindow = wnd;
    FFrameDateReports = on;
    Arm();
    if (!on || !wnd)
        return;
    // Not through the ring: the streaming thread may be filling it now. The
    // record lives until the (same-thread or waiting) send returns.
    TDVCodesRec record;
    {
        std::lock_guard lock(m_dataLock);
        record = {FFrame.DateValid, FFrame.TimeCodeValid, FFrame.RecordingDate,
                  QString(FFrame.TimeCodeText.constData(), FFrame.TimeCodeText.size()), FFrame.FrameCounter};
    }
    SendGraphMessage(wnd, WM_VIDEO_DVCODES, reinterpret_cast<WPARAM>(&record), 0);
}

void TNotifier::SetNavigationRequest(HWND wnd)
{
    FNavWindow = wnd;
    Arm();
}

void TNotifier::Reset()
{
    std::lock_guard lock(m_dataLock);
    ResetLocked();
}

void TNotifier::ResetLocked()
{
    FDateFormat = kDefaultDateFormat;
    FDatePart = QStringLiteral("dddddd");
    FTimePart = QStringLiteral("tt");
    FFrame.DateText = kNoDatecode;
    FFrame.TimeCodeText = kNoTimecode;
    FFrame.DateValid = false;
    FFrame.TimeCodeValid = false;
    FFrame.AudioTypeText.clear();
    FFrame.AudioLabel.clear();
}

void TNotifier::SetDateFormat(const QString &format)
{
    std::lock_guard lock(m_dataLock);
    FDateFormat = format;
}

QString TNotifier::DateFormat() const
{
    std::lock_guard lock(m_dataLock);
    return FDateFormat;
}

// ---- Snapshots ---------------------------------------------------------------------

TframeData TNotifier::FrameData() const
{
    std::lock_guard lock(m_dataLock);
    return Unshared(FFrame);
}

TVideoData TNotifier::VideoData() const
{
    std::lock_guard lock(m_dataLock);
    return Unshared(FVideo);
}

CMediaType TNotifier::StoredType() const
{
    std::lock_guard lock(m_dataLock);
    return CMediaType(FStoredType.Type(), FStoredType.Subtype(), FStoredType.FormatType());
}

void TNotifier::StoreAudioDescription(const CMediaType &mt)
{
    std::lock_guard lock(m_dataLock);
    FFrame.AudioTypeText = AudioTypeText(mt);
    ReadAudioData(mt, FFrame);
}

// ---- The filter --------------------------------------------------------------------

HRESULT TNotifier::CheckInputType(const CMediaType *mtIn)
{
    std::lock_guard lock(m_dataLock);
    // The first connection takes anything; a reconnection must keep the type.
    const bool same = SameKeyPart(FStoredType.Type(), mtIn->Type())
        && SameKeyPart(FStoredType.Subtype(), mtIn->Subtype())
        && SameKeyPart(FStoredType.FormatType(), mtIn->FormatType());
    return same ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TNotifier::CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut)
{
    return mtIn->Type() == mtOut->Type() && mtIn->Subtype() == mtOut->Subtype() ? S_OK
                                                                              : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TNotifier::GetMediaType(int iPosition, CMediaType *pMediaType)
{
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition == 0 && InputPin()->IsConnected()) {
        *pMediaType = InputPin()->CurrentMediaType();
        return S_OK;
    }
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT TNotifier::SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt)
{
    if (direction != PINDIR_INPUT)
        return S_OK;
    // Also reached from the input pin when a sample brings a new type, just
    // before that sample is analysed.
    bool video = false, audio = false;
    {
        std::lock_guard lock(m_dataLock);
        ApplyMediaType(*pmt, video, audio);
    }
    if (video)
        ReportVideo();
    if (audio)
        ReportAudio();
    return S_OK;
}

HRESULT TNotifier::CompleteConnect(PIN_DIRECTION direction, IPin *)
{
    if (direction == PINDIR_INPUT) {
        std::lock_guard lock(m_dataLock);
        FStoredType = InputPin()->CurrentMediaType();
    }
    return S_OK;
}

HRESULT TNotifier::StartStreaming()
{
    std::lock_guard lock(m_dataLock);
    if (InputPin()->IsConnected())
        FStoredType = InputPin()->CurrentMediaType();
    FFrame.FrameCounter = -1;
    FFirstSample = true;
    FFrame.EarliestDate = 0;
    return S_OK;
}

void TNotifier::ApplyMediaType(const CMediaType &mt, bool &videoChanged, bool &audioChanged)
{
    FVideo = VideoDataFromMediaType(mt);
    FFrame.InterleavedDV = mt.FormatType() == FORMAT_DvInfo && mt.FormatLength() >= 32;
    if (FFrame.InterleavedDV && FVideoReports) {
        FFrame.BroadcastSystem = 2;
        FVideo.AspectCode = acAspectNone;
    }
    const bool anySwitch =
        FVideoReports || FAudioReports || FDateReports || FTimeCodeReports || FFrameDateReports;
    videoChanged = FVideo.VideoPresent && anySwitch;
    audioChanged = false;
    if (mt.FormatType() == FORMAT_WaveFormatEx) {
        FFrame.AudioTypeText = AudioTypeText(mt);
        ReadAudioData(mt, FFrame);
        audioChanged = FAudioReports;
    }
}

// ---- Per sample ----------------------------------------------------------------------

HRESULT TNotifier::Transform(IMediaSample *pSample)
{
    if (!FArmed)
        return S_OK;
    BYTE *data = nullptr;
    pSample->GetPointer(&data);
    const long length = data ? pSample->GetActualDataLength() : 0;

    bool shapeChanged = false, soundShapeChanged = false, first = false;
    {
        std::lock_guard lock(m_dataLock);
        FPrevFrame = FFrame;
        FPrevVideo = FVideo;
        if (FStoredType.FormatType() == FORMAT_MPEG2Video && FStoredType.Subtype() == MEDIASUBTYPE_MPEG2_VIDEO)
            AnalyseMPEG2(data, length);
        else if (IsDVVideo(FStoredType))
            AnalyseDVVideo(data, length);
        else if (FStoredType.FormatType() == FORMAT_DvInfo)
            AnalyseInterleavedDV(data, length);
        shapeChanged = PictureShapeChanged(FPrevVideo, FVideo);
        soundShapeChanged = SoundShapeChanged(FPrevFrame, FFrame);
        first = std::exchange(FFirstSample, false);
    }
    if (WantsVideo() && shapeChanged)
        ReportVideo();
    if (FAudioReports && soundShapeChanged)
        ReportAudio();
    // A type that came with the sample was applied by the input pin already
    // (SetMediaType, just before this call).
    if (first) {
        ReportAudio();
        ReportVideo();
    }

    bool pictureChanged = false, soundChanged = false, dateChanged = false, timeCodeChanged = false;
    {
        std::lock_guard lock(m_dataLock);
        ++FFrame.FrameCounter;
        if (FFrame.DateValid && (FFrame.EarliestDate == 0 || FFrame.EarliestDate > FFrame.RecordingDate))
            FFrame.EarliestDate = FFrame.RecordingDate;
        pictureChanged = PictureChanged(FPrevVideo, FVideo);
        soundChanged = SoundChanged(FPrevFrame, FFrame);
        dateChanged = DateChanged(FPrevFrame, FFrame);
        timeCodeChanged = TimeCodeChanged(FPrevFrame, FFrame);
    }
    if (FAudioReports && soundChanged)
        ReportAudio();
    if (WantsVideo() && pictureChanged)
        ReportVideo();
    if (FDateReports && dateChanged)
        PostFrameCopy(FDateWindow, WM_DV_DATECODE);
    if (FTimeCodeReports && timeCodeChanged)
        PostFrameCopy(FTimeCodeWindow, WM_DV_TIMECODE);
    if (FFrameDateReports)
        SendFrameDate(FFrameDateWindow);
    return S_OK;
}

// DV video after the DV splitter: one whole frame per sample.
void TNotifier::AnalyseDVVideo(const BYTE *data, long length)
{
    const bool pal = length == long(kDVFrameSize625);
    if (!pal && length != long(kDVFrameSize525))
        return;
    FFrame.BroadcastSystem = DVBroadcastSystem(data, size_t(length));
    QString text = FBehindDVNotifier ? QStringLiteral("DV type 1") : VideoSubtypeText(FStoredType);
    text += pal ? QStringLiteral(" Pal") : QStringLiteral(" NTSC");
    FVideo.FrameRate = pal ? 25.0 : kNtscRate;
    FVideo.FrameDuration = pal ? kPalFrame : kNtscFrame;
    FVideo.AspectCode = DVAspectCode(data, size_t(length));
    text += FVideo.AspectCode == acAspect16x9 ? QStringLiteral(" (16x9)") : QStringLiteral(" (4x3)");
    FVideo.FormatText = text;
    ReadDVCodes(data, size_t(length));
}

// Whole interleaved frames before the DV splitter: the system comes from the
// frame itself, and the sound is described here too.
void TNotifier::AnalyseInterleavedDV(const BYTE *data, long length)
{
    const size_t size = size_t(std::max(length, 0L));
    QString text = QStringLiteral("DV type1 ");
    FFrame.BroadcastSystem = DVBroadcastSystem(data, size);
    if (FFrame.BroadcastSystem == 0) {
        text += QStringLiteral("Pal ");
        FVideo.Width = 720;
        FVideo.Height = 576;
        FVideo.FrameRate = 25.0;
        FVideo.FrameDuration = kPalFrame;
        FVideo.SizeText = QStringLiteral("720x576 - 25 fps");
    } else if (FFrame.BroadcastSystem == 1) {
        text += QStringLiteral("NTSC ");
        FVideo.Width = 720;
        FVideo.Height = 480;
        FVideo.FrameRate = kNtscRate;
        FVideo.FrameDuration = kNtscFrame;
        FVideo.SizeText = QStringLiteral("720x480 - 29.97 fps");
    }
    FVideo.AspectCode = DVAspectCode(data, size);
    text += FVideo.AspectCode == acAspect16x9 ? QStringLiteral(" (16x9) ") : QStringLiteral(" (4x3) ");
    FVideo.FormatText = text;
    ReadDVCodes(data, size);
    int32_t rate = -1, bits = -1;
    DVAudioFormat(data, size, rate, bits);
    FFrame.SamplingRate = rate;
    FFrame.BitsPerSample = bits;
    FFrame.AudioLabel = QStringLiteral("DV %1Hz %2bits stéréo").arg(rate).arg(bits);
    FFrame.DifValid = DVStructureValid(data, size);
}

void TNotifier::AnalyseMPEG2(const BYTE *data, long length)
{
    MPEG2SequenceHeader(data, size_t(std::max(length, 0L)), FVideo);
}

void TNotifier::ReadDVCodes(const BYTE *data, size_t length)
{
    double date = 0;
    FFrame.DateValid = DVRecordingDate(data, length, date);
    if (FFrame.DateValid)
        FFrame.RecordingDate = date;
    FFrame.DateText = FFrame.DateValid ? FormatDateTime(FDateFormat, date, FFormatSettings) : kNotAvailable;
    uint8_t tc[4] = {};
    FFrame.TimeCodeValid = DVTimeCode(data, length, tc);
    std::copy(std::begin(tc), std::end(tc), std::begin(FFrame.TimeCode));
    FFrame.TimeCodeText = FFrame.TimeCodeValid
        ? QString::asprintf("%d:%.2d:%.2d:%.2d", tc[0], tc[1], tc[2], tc[3])
        : kNotAvailable;
}

// ---- Reports -------------------------------------------------------------------------

void TNotifier::ReportVideo()
{
    const TVideoData copy = VideoData();
    if (const HWND wnd = FVideoWindow; FVideoReports && wnd) {
        // The sent record is the reporting thread's own; the receiver reads
        // it while this thread waits.
        FSentVideo = copy;
        SendGraphMessage(wnd, WM_VIDEO_FORMAT, 4, reinterpret_cast<LPARAM>(&FSentVideo));
        PostMessageCopy(wnd, WM_VIDEO_FORMAT, 2, copy);
    }
    if (const HWND nav = FNavWindow)
        PostMessage(nav, WM_NAV_FRAMEDURATION, WPARAM(uint32_t(copy.FrameDuration)), 0);
}

void TNotifier::ReportAudio()
{
    if (const HWND wnd = FAudioWindow; FAudioReports && wnd)
        PostMessageCopy(wnd, WM_AUDIO_FORMAT, 3, FrameData());
}

void TNotifier::PostFrameCopy(HWND wnd, UINT msg)
{
    if (wnd)
        PostMessageCopy(wnd, msg, 0, FrameData());
}

void TNotifier::SendFrameDate(HWND wnd)
{
    if (!wnd)
        return;
    FFrameDateSlot = FFrameDateSlot % kRingSize + 1;
    TDVCodesRec &slot = FFrameDateRing[size_t(FFrameDateSlot - 1)];
    {
        std::lock_guard lock(m_dataLock);
        slot = {FFrame.DateValid, FFrame.TimeCodeValid, FFrame.RecordingDate, FFrame.TimeCodeText,
                FFrame.FrameCounter};
    }
    SendGraphMessage(wnd, WM_VIDEO_DVCODES, reinterpret_cast<WPARAM>(&slot), 0);
}
