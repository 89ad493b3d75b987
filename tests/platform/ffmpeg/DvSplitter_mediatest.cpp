// "DV Splitter" behind the AVI splitter's interleaved pin: the picture and
// sound types it offers, the frames passed on whole with their times, the
// sound taken out of the frames sample for sample (PAL and NTSC), pictures
// that decode to the right frame, a seek in the middle, and the tee.
#include "FilterTestKit.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/Renderer.h"
#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "tools/mkmedia/DvPacks.h"
#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/MkMedia.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>

namespace {

using namespace filtertest;

constexpr int kFrames = 10;

class DvSplitterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterFFmpegFilters(); }

    void SetUp() override { ASSERT_TRUE(graph = ClocklessGraph()); }
    void TearDown() override { ComQuery<IMediaControl>(graph)->Stop(); }

    // A type-1 DV clip opened as far as the AVI splitter's interleaved pin.
    IPin *OpenInterleaved(bool ntsc)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(ntsc ? "ntsc.avi" : "pal.avi").toStdString();
        o.codec = "dv";
        o.frames = kFrames;
        o.dvType = 1;
        if (ntsc)
            o.rate = {30000, 1001};
        const auto r = mkmedia::WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        source = Create(CLSID_AsyncReader);
        const std::wstring wide(o.path.begin(), o.path.end());
        EXPECT_EQ(S_OK, ComQuery<IFileSourceFilter>(source)->Load(wide.c_str(), nullptr));
        avi = Create(CLSID_AviSplitter);
        graph->AddFilter(source.Get(), L"File Source (Async.)");
        graph->AddFilter(avi.Get(), L"AVI Splitter");
        EXPECT_EQ(S_OK, graph->ConnectDirect(Pin(source.Get(), 0), Pin(avi.Get(), 0), nullptr));
        return Pin(avi.Get(), 1);
    }

    // Interleaved pin -> DV splitter -> sinks on its video and sound pins.
    void BuildSplit(bool ntsc)
    {
        IPin *interleaved = OpenInterleaved(ntsc);
        ASSERT_TRUE(interleaved);
        dv = Create(CLSID_DVSplitter);
        graph->AddFilter(dv.Get(), L"DV Splitter");
        ASSERT_EQ(S_OK, graph->ConnectDirect(interleaved, Pin(dv.Get(), 0), nullptr));
        graph->AddFilter(pictures.Get(), L"Pictures");
        graph->AddFilter(sound.Get(), L"Sound");
        ASSERT_EQ(S_OK, graph->ConnectDirect(Pin(dv.Get(), 1), pictures->InputPin(), nullptr));
        ASSERT_EQ(S_OK, graph->ConnectDirect(Pin(dv.Get(), 2), sound->InputPin(), nullptr));
    }

    void RunToEnd()
    {
        ASSERT_TRUE(SUCCEEDED(ComQuery<IMediaControl>(graph)->Run()));
        LONG code = 0;
        ASSERT_EQ(S_OK, ComQuery<IMediaEvent>(graph)->WaitForCompletion(20000, &code));
    }

    // Every sound sample from `firstFrame` on is the tone mkmedia wrote.
    static void ExpectTone(const std::vector<KeepingSink::Kept> &kept, bool pal, int firstFrame)
    {
        long long n = mkmedia::DvSamplesBefore(pal, firstFrame);
        const double frame = pal ? 400000.0 : 1e7 * 1001 / 30000;
        for (size_t i = 0; i < kept.size(); ++i) {
            EXPECT_NEAR(double(kept[i].start), (firstFrame + double(i)) * frame, 1.0) << "sound of frame " << i;
            const auto *pcm = reinterpret_cast<const int16_t *>(kept[i].bytes.data());
            const size_t pairs = kept[i].bytes.size() / 4;
            EXPECT_EQ(int(pairs), mkmedia::DvAudioSamples(pal, firstFrame + long(i))) << i;
            for (size_t s = 0; s < pairs; ++s, ++n)
                for (int ch = 0; ch < 2; ++ch)
                    if (pcm[2 * s + size_t(ch)] != mkmedia::DvToneSample(ch, n))
                        return ADD_FAILURE() << "sample " << n << " channel " << ch, void();
        }
    }

    QTemporaryDir dir;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source, avi, dv;
    ComPtr<KeepingSink> pictures = MakeCom<KeepingSink>(), sound = MakeCom<KeepingSink>();
};

TEST_F(DvSplitterTest, PalFramesPassWholeAndTheirSoundIsTheTone)
{
    BuildSplit(false);
    const auto *vih = pictures->type.FormatAs<VIDEOINFOHEADER>();
    ASSERT_TRUE(vih);
    EXPECT_EQ(pictures->type.Subtype(), MEDIASUBTYPE_dvsd);
    EXPECT_EQ(pictures->type.FormatType(), FORMAT_VideoInfo);
    EXPECT_EQ(vih->bmiHeader.biWidth, 720);
    EXPECT_EQ(vih->bmiHeader.biHeight, 576);
    EXPECT_EQ(vih->AvgTimePerFrame, 400000);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 144000u);
    const auto *wfx = sound->type.FormatAs<WAVEFORMATEX>();
    ASSERT_TRUE(wfx);
    EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wfx->nSamplesPerSec, 48000u);
    EXPECT_EQ(wfx->nChannels, 2);
    EXPECT_EQ(wfx->wBitsPerSample, 16);

    RunToEnd();
    const auto frames = pictures->Samples();
    ASSERT_EQ(frames.size(), size_t(kFrames));
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].bytes.size(), 144000u);
        EXPECT_EQ(frames[i].start, REFERENCE_TIME(i) * 400000);
        EXPECT_EQ(mkmedia::ReadDvCodes(frames[i].bytes.data(), frames[i].bytes.size()).timecode.frames, int(i));
    }
    const auto kept = sound->Samples();
    ASSERT_EQ(kept.size(), size_t(kFrames));
    ExpectTone(kept, true, 0);
}

TEST_F(DvSplitterTest, NtscFramesCarryTheirAlternatingSampleCounts)
{
    BuildSplit(true);
    const auto *vih = pictures->type.FormatAs<VIDEOINFOHEADER>();
    ASSERT_TRUE(vih);
    EXPECT_EQ(vih->bmiHeader.biHeight, 480);
    EXPECT_EQ(vih->AvgTimePerFrame, 333667);
    RunToEnd();
    EXPECT_EQ(pictures->Samples().size(), size_t(kFrames));
    const auto kept = sound->Samples();
    ASSERT_EQ(kept.size(), size_t(kFrames));
    ExpectTone(kept, false, 0);
}

// An exact seek while paused: both streams start again at the target frame.
TEST_F(DvSplitterTest, SeekingFlushesBothStreamsAndStartsAtTheTarget)
{
    BuildSplit(false);
    auto control = ComQuery<IMediaControl>(graph);
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    FILTER_STATE state;
    ASSERT_EQ(S_OK, control->GetState(5000, reinterpret_cast<OAFilterState *>(&state)));
    LONGLONG target = 6 * 400000;
    ASSERT_EQ(S_OK, ComQuery<IMediaSeeking>(graph)->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                                                 AM_SEEKING_NoPositioning));
    pictures->Clear();
    sound->Clear();
    RunToEnd();
    const auto frames = pictures->Samples();
    ASSERT_EQ(frames.size(), size_t(kFrames - 6));
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(mkmedia::ReadDvCodes(frames[i].bytes.data(), frames[i].bytes.size()).timecode.frames, int(6 + i));
    const auto kept = sound->Samples();
    ASSERT_EQ(kept.size(), size_t(kFrames - 6));
    // Stream times restart at the segment: media time = segment start + stream time.
    std::vector<KeepingSink::Kept> shifted = kept;
    for (auto &k : shifted)
        k.start += target;
    ExpectTone(shifted, true, 6);
}

TEST_F(DvSplitterTest, PicturesDecodeToTheirFrames)
{
    IPin *interleaved = OpenInterleaved(false);
    ASSERT_TRUE(interleaved);
    auto decoded = MakeCom<KeepingSink>(MEDIASUBTYPE_I420, FORMAT_VideoInfo2);
    graph->AddFilter(decoded.Get(), L"Pictures");
    // Intelligent connect: DV splitter, then a video decoder.
    ASSERT_TRUE(SUCCEEDED(graph->Connect(interleaved, decoded->InputPin())));
    RunToEnd();
    const auto shown = decoded->Samples();
    ASSERT_EQ(shown.size(), size_t(kFrames));
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(mkmedia::ReadFrameIndex(shown[i].bytes.data(), 720, 720, 576), int(i));
}

TEST_F(DvSplitterTest, SmartTeeGivesEverySampleToBothOutputs)
{
    IPin *interleaved = OpenInterleaved(false);
    ASSERT_TRUE(interleaved);
    auto tee = Create(CLSID_SmartTee);
    graph->AddFilter(tee.Get(), L"Smart Tee");
    ASSERT_EQ(S_OK, graph->ConnectDirect(interleaved, Pin(tee.Get(), 0), nullptr));
    graph->AddFilter(pictures.Get(), L"Capture");
    graph->AddFilter(sound.Get(), L"Preview");
    ASSERT_EQ(S_OK, graph->ConnectDirect(Pin(tee.Get(), 1), pictures->InputPin(), nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(Pin(tee.Get(), 2), sound->InputPin(), nullptr));
    RunToEnd();
    for (KeepingSink *sink : {pictures.Get(), sound.Get()}) {
        const auto kept = sink->Samples();
        ASSERT_EQ(kept.size(), size_t(kFrames));
        for (size_t i = 0; i < kept.size(); ++i)
            EXPECT_EQ(kept[i].start, REFERENCE_TIME(i) * 400000);
    }
    // The demultiplexer stand-in takes a byte stream and offers nothing.
    auto demux = Create(CLSID_MPEG2Demultiplexer);
    PIN_DIRECTION dir = PINDIR_OUTPUT;
    ASSERT_TRUE(Pin(demux.Get(), 0));
    Pin(demux.Get(), 0)->QueryDirection(&dir);
    EXPECT_EQ(dir, PINDIR_INPUT);
    EXPECT_EQ(Pin(demux.Get(), 1), nullptr);
}

} // namespace
