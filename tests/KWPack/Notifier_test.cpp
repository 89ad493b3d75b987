// The stream notifier through the one-filter harness: what it reports, when,
// and that what the receiver reads is what the stream said at that moment.
#include "KWPack/uNotifier.h"

#include "KWPack/uDVCodes.h"

#include "DvFrameKit.h"
#include "platform/base/DateTimeText.h"
#include "platform/dshow/GraphTestKit.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace graphtest;

namespace {

constexpr LONG kDvBuffer = 144000;

CMediaType DvVideoType(bool pal)
{
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_dvsd, FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = pal ? 400000 : 333667;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 720;
    vih.bmiHeader.biHeight = pal ? 576 : 480;
    vih.bmiHeader.biCompression = MAKEFOURCC('d', 'v', 's', 'd');
    vih.bmiHeader.biSizeImage = pal ? 144000 : 120000;
    mt.SetFormat(vih);
    return mt;
}

CMediaType InterleavedType()
{
    CMediaType mt(MEDIATYPE_Interleaved, MEDIASUBTYPE_dvsd, FORMAT_DvInfo);
    mt.SetFormat(DVINFO{});
    return mt;
}

CMediaType PcmType(int rate, int channels)
{
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = WORD(channels);
    wfx.nSamplesPerSec = DWORD(rate);
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = WORD(2 * channels);
    wfx.nAvgBytesPerSec = DWORD(rate * 2 * channels);
    mt.SetFormat(wfx);
    return mt;
}

double DateOf(const char *text)
{
    const mkmedia::DvDateTime t = dvkit::Date(text);
    double v = 0;
    EXPECT_TRUE(TryEncodeDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second, 0, v));
    return v;
}

// A window that keeps a copy of every report, as the managers do.
struct Receiver {
    struct Got {
        UINT msg = 0;
        WPARAM wParam = 0;
        TVideoData video;
        TframeData frame;
        TDVCodesRec codes;
        bool fromOtherThread = false;
    };
    std::mutex lock;  // the test thread reads while the window's thread writes
    std::vector<Got> got;
    HWND wnd = AllocateHWnd([this](TMessage &m) {
        Got g{m.Msg, m.wParam, {}, {}, {}, InSendMessage()};
        if (m.Msg == WM_VIDEO_FORMAT)
            g.video = *reinterpret_cast<const TVideoData *>(m.lParam);
        else if (m.Msg == WM_AUDIO_FORMAT || m.Msg == WM_DV_DATECODE || m.Msg == WM_DV_TIMECODE)
            g.frame = *reinterpret_cast<const TframeData *>(m.lParam);
        else if (m.Msg == WM_VIDEO_DVCODES)
            g.codes = *reinterpret_cast<const TDVCodesRec *>(m.wParam);
        std::lock_guard l(lock);
        got.push_back(std::move(g));
    });
    ~Receiver() { DeallocateHWnd(wnd); }

    std::vector<Got> Of(UINT msg, int wParam = -1)
    {
        ProcessMessages();
        std::lock_guard l(lock);
        std::vector<Got> out;
        for (const auto &g : got)
            if (g.msg == msg && (wParam < 0 || g.wParam == WPARAM(wParam)))
                out.push_back(g);
        return out;
    }
    void Clear()
    {
        ProcessMessages();
        std::lock_guard l(lock);
        got.clear();
    }
};

class NotifierTest : public ::testing::Test {
protected:
    ComPtr<TNotifier> notifier = MakeCom<TNotifier>();
    Receiver rx;
};

TEST_F(NotifierTest, FirstConnectionTakesAnyTypeAndAReconnectionMustKeepIt)
{
    CMediaType mt;
    EXPECT_EQ(notifier->GetMediaType(-1, &mt), E_INVALIDARG);
    EXPECT_EQ(notifier->GetMediaType(0, &mt), VFW_S_NO_MORE_ITEMS);
    {
        FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
        ASSERT_TRUE(h.connected);
        ASSERT_EQ(notifier->GetMediaType(0, &mt), S_OK);
        EXPECT_EQ(mt, DvVideoType(true));
        EXPECT_EQ(notifier->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
    }
    const CMediaType stored = notifier->StoredType();
    EXPECT_EQ(stored.Subtype(), MEDIASUBTYPE_dvsd);
    EXPECT_EQ(stored.FormatType(), FORMAT_VideoInfo);
    FilterHarness other(notifier.Get(), InterleavedType(), kDvBuffer);
    EXPECT_FALSE(other.connected) << "a notifier changed the type it reports on";
    FilterHarness same(notifier.Get(), DvVideoType(false), kDvBuffer);
    EXPECT_TRUE(same.connected) << "the same three identifiers with another format block";

    const CMediaType in = DvVideoType(true);
    CMediaType out = in;
    out.SetSubtype(MEDIASUBTYPE_dvcp);
    EXPECT_EQ(notifier->CheckTransform(&in, &in), S_OK);
    EXPECT_EQ(notifier->CheckTransform(&in, &out), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST_F(NotifierTest, StaysInertUntilASwitchArmsIt)
{
    notifier->SetVideoWindow(rx.wnd);
    FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    const auto frames = dvkit::MakeFrames(true, 2, dvkit::Date("2009-07-14 13:45:56"));
    ASSERT_EQ(frames.size(), 2u);
    for (const auto &f : frames)
        ASSERT_EQ(h.PushBytes(f), S_OK);
    EXPECT_EQ(h.Output().size(), 2u) << "samples pass whatever the switches";
    EXPECT_TRUE(rx.Of(WM_VIDEO_FORMAT).empty());
    const TframeData data = notifier->FrameData();
    EXPECT_EQ(data.DateText, "No Datecode");
    EXPECT_EQ(data.TimeCodeText, "No Timecode");
    EXPECT_FALSE(data.DateValid);
}

TEST_F(NotifierTest, DVVideoFramesGiveFormatDatesAndTimeCodes)
{
    notifier->SetVideoWindow(rx.wnd);
    notifier->SetVideoReports(true);
    notifier->SetDateFormat("yyyy-mm-dd hh:nn:ss");
    FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    const auto frames = dvkit::MakeFrames(true, 3, dvkit::Date("2009-07-14 13:45:56"), 24);
    for (const auto &f : frames)
        ASSERT_EQ(h.PushBytes(f), S_OK);

    const auto sent = rx.Of(WM_VIDEO_FORMAT, 4);
    const auto posted = rx.Of(WM_VIDEO_FORMAT, 2);
    ASSERT_FALSE(sent.empty());
    ASSERT_EQ(sent.size(), posted.size()) << "each video report is sent, then posted";
    EXPECT_EQ(posted.back().video.FormatText, "DV Type 2 Pal (4x3)");
    EXPECT_EQ(posted.back().video.FrameDuration, 400000);
    EXPECT_DOUBLE_EQ(posted.back().video.FrameRate, 25.0);

    const TframeData data = notifier->FrameData();
    EXPECT_EQ(data.FrameCounter, 2);
    EXPECT_EQ(data.BroadcastSystem, 0);
    EXPECT_TRUE(data.DateValid);
    EXPECT_EQ(data.DateText, "2009-07-14 13:45:57") << "frame 26 is a second into the take";
    EXPECT_DOUBLE_EQ(data.RecordingDate, DateOf("2009-07-14 13:45:57"));
    EXPECT_DOUBLE_EQ(data.EarliestDate, DateOf("2009-07-14 13:45:56"));
    EXPECT_TRUE(data.TimeCodeValid);
    EXPECT_EQ(data.TimeCodeText, "0:00:01:01");
}

TEST_F(NotifierTest, BehindADVNotifierTheTextSaysTypeOneAndNTSCIsTold)
{
    notifier->SetVideoWindow(rx.wnd);
    notifier->SetVideoReports(true);
    notifier->SetBehindDVNotifier(true);
    FilterHarness h(notifier.Get(), DvVideoType(false), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    for (const auto &f : dvkit::MakeFrames(false, 2, dvkit::Date("1999-12-31 23:59:59")))
        ASSERT_EQ(h.PushBytes(f), S_OK);
    const auto posted = rx.Of(WM_VIDEO_FORMAT, 2);
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().video.FormatText, "DV type 1 NTSC (4x3)");
    EXPECT_EQ(posted.back().video.FrameDuration, 333667);
    EXPECT_EQ(notifier->FrameData().BroadcastSystem, 1);
}

TEST_F(NotifierTest, FirstSampleAfterStartReportsEvenWithoutAChange)
{
    notifier->SetVideoWindow(rx.wnd);
    notifier->SetAudioWindow(rx.wnd);
    notifier->SetVideoReports(true);
    notifier->SetAudioReports(true);
    FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
    ASSERT_TRUE(h.connected);
    const auto frames = dvkit::MakeFrames(true, 1, dvkit::Date("2009-07-14 13:45:56"));
    ASSERT_EQ(h.Pause(), S_OK);
    ASSERT_EQ(h.PushBytes(frames[0]), S_OK);
    h.Stop();
    rx.Clear();
    // The same frame again: nothing changed, but streaming started anew.
    ASSERT_EQ(h.Pause(), S_OK);
    ASSERT_EQ(h.PushBytes(frames[0]), S_OK);
    EXPECT_EQ(rx.Of(WM_VIDEO_FORMAT, 2).size(), 1u);
    EXPECT_EQ(rx.Of(WM_AUDIO_FORMAT, 3).size(), 1u);
    EXPECT_EQ(notifier->FrameData().FrameCounter, 0) << "the counter restarts with streaming";
    rx.Clear();
    ASSERT_EQ(h.PushBytes(frames[0]), S_OK);
    EXPECT_TRUE(rx.Of(WM_VIDEO_FORMAT).empty());
    EXPECT_TRUE(rx.Of(WM_AUDIO_FORMAT).empty());
}

// The receiver falls far behind (a modal dialog, a busy loop): every report
// must still carry the date of its own moment, not what the filter holds now.
TEST_F(NotifierTest, PostedDateReportsKeepTheirOwnValuesWhenTheReceiverLags)
{
    notifier->SetDateFormat("yyyy-mm-dd hh:nn:ss");
    notifier->SetDateReports(true, rx.wnd);
    notifier->SetTimeCodeReports(true, rx.wnd);
    FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    // 60 seconds of changes, one frame per second of recording.
    for (int s = 0; s < 60; ++s) {
        auto f = dvkit::MakeFrames(true, 1, dvkit::Date("2038-12-31 23:59:30"), 25 * s)[0];
        ASSERT_EQ(h.PushBytes(f), S_OK);  // no message runs meanwhile
    }
    const auto dates = rx.Of(WM_DV_DATECODE);
    ASSERT_EQ(dates.size(), 60u) << "a report for each change, none lost";
    for (int s = 0; s < 60; ++s) {
        const TframeData &d = dates[size_t(s)].frame;
        EXPECT_EQ(d.FrameCounter, s);
        EXPECT_DOUBLE_EQ(d.RecordingDate, DateOf("2038-12-31 23:59:30") + s / 86400.0) << s;
    }
    EXPECT_EQ(dates[30].frame.DateText, "2039-01-01 00:00:00") << "across the two-digit-year boundary";
    const auto codes = rx.Of(WM_DV_TIMECODE);
    ASSERT_EQ(codes.size(), 60u);
    EXPECT_EQ(codes[42].frame.TimeCodeText, "0:00:42:00");
}

TEST_F(NotifierTest, ANewTakeIsReportedAtItsFirstFrame)
{
    notifier->SetDateReports(true, rx.wnd);
    FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    auto frames = dvkit::MakeFrames(true, 10, dvkit::Date("2004-07-15 14:30:00"));
    const auto take2 = dvkit::MakeFrames(true, 5, dvkit::Date("2004-08-01 09:00:00"));
    frames.insert(frames.end(), take2.begin(), take2.end());
    for (const auto &f : frames)
        ASSERT_EQ(h.PushBytes(f), S_OK);
    const auto dates = rx.Of(WM_DV_DATECODE);
    ASSERT_EQ(dates.size(), 2u);
    EXPECT_EQ(dates[0].frame.FrameCounter, 0);
    EXPECT_EQ(dates[1].frame.FrameCounter, 10);
    EXPECT_DOUBLE_EQ(dates[1].frame.RecordingDate, DateOf("2004-08-01 09:00:00"));
}

TEST_F(NotifierTest, FramesWithoutPacksReportNotAvailable)
{
    notifier->SetDateReports(true, rx.wnd);
    notifier->SetTimeCodeReports(true, rx.wnd);
    FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    auto frame = dvkit::MakeFrames(true, 1, dvkit::Date("2004-07-15 14:30:00"))[0];
    ASSERT_EQ(h.PushBytes(frame), S_OK);
    // Every pack type byte wiped: no date, no time code.
    for (size_t s = 0; s < 12; ++s)
        for (size_t at : {110u, 190u, 458u, 463u})
            frame[s * kDIFSequenceSize + at] = 0xFF;
    ASSERT_EQ(h.PushBytes(frame), S_OK);
    const TframeData data = notifier->FrameData();
    EXPECT_FALSE(data.DateValid);
    EXPECT_EQ(data.DateText, "N/A");
    EXPECT_FALSE(data.TimeCodeValid);
    EXPECT_EQ(data.TimeCodeText, "N/A");
    EXPECT_EQ(rx.Of(WM_DV_DATECODE).size(), 2u);
    EXPECT_EQ(rx.Of(WM_DV_TIMECODE).size(), 2u);
}

TEST_F(NotifierTest, InterleavedFramesDescribePictureAndSound)
{
    notifier->SetVideoWindow(rx.wnd);
    notifier->SetVideoReports(true);
    FilterHarness h(notifier.Get(), InterleavedType(), kDvBuffer);
    ASSERT_TRUE(h.connected);
    EXPECT_TRUE(notifier->FrameData().InterleavedDV);
    EXPECT_EQ(notifier->FrameData().BroadcastSystem, 2) << "undecided until a frame is seen";
    ASSERT_EQ(h.Pause(), S_OK);
    for (const auto &f : dvkit::MakeFrames(true, 2, dvkit::Date("2009-07-14 13:45:56")))
        ASSERT_EQ(h.PushBytes(f), S_OK);
    const TVideoData v = notifier->VideoData();
    EXPECT_EQ(v.FormatText, "DV type1 Pal  (4x3) ");
    EXPECT_EQ(v.SizeText, "720x576 - 25 fps");
    EXPECT_EQ(v.Width, 720);
    EXPECT_EQ(v.Height, 576);
    const TframeData data = notifier->FrameData();
    EXPECT_EQ(data.AudioLabel, QString::fromUtf8("DV 48000Hz 16bits stéréo"));
    EXPECT_EQ(data.SamplingRate, 48000);
    EXPECT_EQ(data.BitsPerSample, 16);
    EXPECT_TRUE(data.DifValid);
    const auto posted = rx.Of(WM_VIDEO_FORMAT, 2);
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().video.SizeText, "720x576 - 25 fps");

    auto broken = dvkit::MakeFrames(false, 1, dvkit::Date("2009-07-14 13:45:56"))[0];
    broken[5 * kDIFSequenceSize + 3] = 0x00;  // one sequence without its header
    ASSERT_EQ(h.PushBytes(broken), S_OK);
    EXPECT_FALSE(notifier->FrameData().DifValid);
    EXPECT_EQ(notifier->VideoData().SizeText, "720x480 - 29.97 fps");
}

TEST_F(NotifierTest, MPEG2SequenceHeadersGiveTheirSize)
{
    notifier->SetVideoWindow(rx.wnd);
    notifier->SetVideoReports(true);
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video);
    mt.SetFormat(MPEG2VIDEOINFO{});
    FilterHarness h(notifier.Get(), mt, 64);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    // 720 x 576, aspect code 3 (16:9), frame rate code 3 (25).
    const std::vector<BYTE> header{0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33, 0xFF, 0xFF, 0xE0, 0x18};
    ASSERT_EQ(h.PushBytes(header), S_OK);
    const auto posted = rx.Of(WM_VIDEO_FORMAT, 2);
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().video.Width, 720);
    EXPECT_EQ(posted.back().video.Height, 576);
    EXPECT_EQ(posted.back().video.FormatText, "MPEG2 (16x9)");
    EXPECT_DOUBLE_EQ(posted.back().video.FrameRate, 25.0);
}

TEST_F(NotifierTest, AudioTypeIsReportedAtConnection)
{
    notifier->SetAudioWindow(rx.wnd);
    notifier->SetAudioReports(true);
    FilterHarness h(notifier.Get(), PcmType(44100, 2), 64);
    ASSERT_TRUE(h.connected);
    const auto audio = rx.Of(WM_AUDIO_FORMAT, 3);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0].frame.SamplingRate, 44100);
    EXPECT_EQ(audio[0].frame.Channels, 2);
    EXPECT_EQ(audio[0].frame.AudioLabel, notifier->FrameData().AudioLabel);
    EXPECT_TRUE(audio[0].frame.AudioLabel.startsWith("PCM 44100Hz"));
}

TEST_F(NotifierTest, NavigationRequestBringsTheFrameDuration)
{
    Receiver nav;
    notifier->SetVideoWindow(rx.wnd);
    notifier->SetVideoReports(true);
    notifier->SetNavigationRequest(nav.wnd);
    FilterHarness h(notifier.Get(), DvVideoType(false), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    ASSERT_EQ(h.PushBytes(dvkit::MakeFrames(false, 1, dvkit::Date("2009-07-14 13:45:56"))[0]), S_OK);
    const auto durations = nav.Of(WM_NAV_FRAMEDURATION);
    ASSERT_FALSE(durations.empty());
    EXPECT_EQ(durations.back().wParam, 333667u);
    notifier->SetNavigationRequest(0);
    nav.Clear();
    h.Stop();
    ASSERT_EQ(h.Pause(), S_OK);
    ASSERT_EQ(h.PushBytes(dvkit::MakeFrames(false, 1, dvkit::Date("2009-07-14 13:45:56"))[0]), S_OK);
    EXPECT_TRUE(nav.Of(WM_NAV_FRAMEDURATION).empty()) << "the request was withdrawn";
}

// The streaming thread waits for the receiver on every frame; the receiver
// meanwhile reads the filter's snapshots (ThreadSanitizer watches this).
TEST_F(NotifierTest, FrameDateReportsAreSentForEveryFrameFromTheStreamingThread)
{
    notifier->SetFrameDateReports(true, rx.wnd);
    const auto initial = rx.Of(WM_VIDEO_DVCODES);
    ASSERT_EQ(initial.size(), 1u) << "switching on sends the current record";
    EXPECT_FALSE(initial[0].codes.DateValid);
    rx.Clear();

    FilterHarness h(notifier.Get(), DvVideoType(true), kDvBuffer);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    const auto frames = dvkit::MakeFrames(true, 30, dvkit::Date("2009-07-14 13:45:56"));
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (const auto &f : frames)
            h.PushBytes(f);
        done = true;
    });
    while (!done) {
        ProcessMessages();
        (void)notifier->FrameData();
        (void)notifier->VideoData();
    }
    streaming.join();
    const auto codes = rx.Of(WM_VIDEO_DVCODES);
    ASSERT_EQ(codes.size(), 30u);
    for (size_t i = 0; i < codes.size(); ++i) {
        EXPECT_TRUE(codes[i].fromOtherThread);
        EXPECT_EQ(codes[i].codes.FrameCounter, int(i));
        EXPECT_TRUE(codes[i].codes.DateValid);
        EXPECT_EQ(codes[i].codes.TimeCodeText, QString::asprintf("0:00:%02d:%02d", int(i) / 25, int(i) % 25));
    }
    EXPECT_DOUBLE_EQ(codes[29].codes.Date, DateOf("2009-07-14 13:45:57"));
}

TEST_F(NotifierTest, OddAndRandomSamplesPassWithoutHarm)
{
    notifier->SetVideoWindow(rx.wnd);
    notifier->SetVideoReports(true);
    notifier->SetDateReports(true, rx.wnd);
    notifier->SetFrameDateReports(true, rx.wnd);
    FilterHarness dv(notifier.Get(), InterleavedType(), kDvBuffer);
    ASSERT_TRUE(dv.connected);
    ASSERT_EQ(dv.Pause(), S_OK);
    std::mt19937 random(7);
    const auto good = dvkit::MakeFrames(true, 1, dvkit::Date("2009-07-14 13:45:56"))[0];
    for (size_t length : {0ul, 1ul, 3ul, 4323ul, 11999ul, 12000ul, 60001ul, 119999ul, 120001ul, 143999ul, 144000ul}) {
        std::vector<BYTE> bytes(length);
        for (auto &b : bytes)
            b = BYTE(random());
        ASSERT_EQ(dv.PushBytes(bytes), S_OK) << length;
        // A good frame cut short keeps its packs only where they fit.
        std::vector<BYTE> cut(good.begin(), good.begin() + long(length));
        ASSERT_EQ(dv.PushBytes(cut), S_OK) << length;
    }
    EXPECT_EQ(dv.Output().size(), 22u) << "every sample passed";
    EXPECT_EQ(notifier->FrameData().FrameCounter, 21);
}

}  // namespace
