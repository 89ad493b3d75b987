// Precise navigation with the decoder's spared work and its picture cache,
// each way they can be set: every landing shows the picture drawn for its
// frame, the same picture as without either, and the cache keeps its cap.
#include "KWPack/uNavMan.h"

#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/MkMedia.h"
#include "tools/probe/NavGraph.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/ffmpeg/DecodingSettings.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/VideoDecoder.h"
#include "platform/registry/Registry.h"
#include "platform/render/RenderFilters.h"
#include "platform/render/Vmr9Interfaces.h"

#include "tests/common/TestSupport.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace {

constexpr REFERENCE_TIME kFrame = 400000;
constexpr int kFrames = 150;

struct Mode {
    const char *name;
    uint32_t cacheMB;
    uint32_t skipHidden;
};

// What the picture shown is: the index drawn in it and a digest of its pixels.
struct Shown {
    int index = -9;
    QByteArray digest;
};

class DecoderReuse : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_QUIET);
        RegisterFFmpegFilters();
        RegisterRenderFilters();
    }

    // 6 s at 25 a second, a key frame every 2 s, B-frames: long groups with
    // pictures nothing refers to. A program stream leaves some pictures
    // untimed; DV has only key frames.
    void Make(const char *name = "clip.mp4", const char *codec = "h264")
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = codec;
        o.frames = kFrames;
        o.gop = 50;
        o.bframes = std::string(codec) == "dv" ? -1 : 3;
        o.width = std::string(codec) == "dv" ? 0 : 192;
        o.height = std::string(codec) == "dv" ? 0 : 108;
        o.audio = 0;
        const auto made = mkmedia::WriteClip(o);
        ASSERT_TRUE(made.ok) << made.error;
        clip = QString::fromStdString(o.path);
    }

    void Open(const Mode &mode, uint32_t cacheKB = 0)
    {
        Close();
        if (clip.isEmpty())
            Make();
        const QString key = QString::fromLatin1(kVideoDecodingKey);
        ASSERT_TRUE(reg::CreateKey(key));
        ASSERT_TRUE(reg::SetValue(key, QStringLiteral("PictureCacheMB"), reg::RegValue::Dword(mode.cacheMB)));
        ASSERT_TRUE(reg::SetValue(key, QStringLiteral("SkipHidden"), reg::RegValue::Dword(mode.skipHidden)));
        nav = TKWActionComponent::New<TNavMan>();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IBaseFilter, renderer.ReleaseAndGetVoidAddress()));
        graph = std::make_unique<NavGraph>(*nav, renderer.Get(), clip, false);
        nav->SeekPrepos = 10'000'000;  // the program's default
        decoder = FindDecoder();
        ASSERT_NE(decoder, nullptr);
        if (cacheKB > 0) {
            // A cap below a megabyte, set before the stream starts again.
            nav->Stop();
            VideoDecodingSettings small;
            small.cacheBytes = int64_t(cacheKB) << 10;
            small.skipHidden = mode.skipHidden != 0;
            decoder->SetDecodingSettings(small);
            nav->Pause();
            nav->WaitForStableState();
        }
    }

    void Close()
    {
        decoder = nullptr;
        graph.reset();
        delete nav;
        nav = nullptr;
    }

    void TearDown() override { Close(); }

    CVideoDecoder *FindDecoder()
    {
        ComPtr<IEnumFilters> e;
        nav->FilterGraph()->Graph()->EnumFilters(e.ReleaseAndGetAddressOf());
        ComPtr<IBaseFilter> f;
        while (e->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK)
            if (auto *d = dynamic_cast<CVideoDecoder *>(f.Get()))
                return d;
        return nullptr;
    }

    Shown Now()
    {
        nav->WaitForStableState();
        Shown s;
        BYTE *dib = nullptr;
        if (FAILED(ComQuery<IVMRWindowlessControl9>(renderer)->GetCurrentImage(&dib)) || !dib)
            return s;
        const auto *h = reinterpret_cast<const BITMAPINFOHEADER *>(dib);
        const size_t size = h->biSize + h->biSizeImage;
        s.index = mkmedia::ReadFrameIndexFromDib(dib, size);
        s.digest = QCryptographicHash::hash(QByteArrayView(dib, qsizetype(size)), QCryptographicHash::Md5);
        CoTaskMemFree(dib);
        return s;
    }

    // Landings, steps back and forward in runs, jumps of ten, inside the
    // first group (whose segment starts at 0) and across key frames. Each
    // landing is checked; returns what each frame looked like.
    std::map<int, QByteArray> Walk(unsigned seed, int moves)
    {
        std::map<int, QByteArray> seen;
        std::mt19937 random(seed);
        int at = 0;
        const auto check = [&](int expected, const char *what) {
            const Shown s = Now();
            EXPECT_EQ(s.index, expected) << what << " to " << expected;
            EXPECT_EQ(int(nav->CurrentPosition() / kFrame), expected) << what;
            seen[expected] = s.digest;
            at = expected;
        };
        for (int i = 0; i < moves; ++i) {
            const unsigned kind = random() % 6;
            if (kind == 0) {
                const int target = 1 + int(random() % (kFrames - 4));
                nav->SeekPrecise(target * kFrame);
                check(target, "landing");
            } else if (kind <= 2) {
                for (int n = 1 + int(random() % 8); n > 0 && at > 0; --n) {
                    nav->StepBackward(kFrame);
                    check(at - 1, "step back");
                }
            } else if (kind <= 4) {
                for (int n = 1 + int(random() % 8); n > 0 && at < kFrames - 3; --n) {
                    nav->StepForward(kFrame);
                    check(at + 1, "step forward");
                }
            } else if (at > 12) {
                nav->StepBackward(10 * kFrame);
                check(at - 10, "ten back");
            }
        }
        return seen;
    }

    QTemporaryDir dir;
    TempHive hive;
    QString clip;
    TNavMan *nav = nullptr;
    ComPtr<IBaseFilter> renderer;
    std::unique_ptr<NavGraph> graph;
    CVideoDecoder *decoder = nullptr;
};

struct ClipKind {
    const char *name;
    const char *codec;
};

class DecoderReuseClips : public DecoderReuse, public ::testing::WithParamInterface<ClipKind> {};

TEST_P(DecoderReuseClips, EveryModeLandsOnTheSamePicturesAsDecodingEverything)
{
#if defined(__SANITIZE_THREAD__)
    // Full-size DV pictures under the sanitizer take longer to reach than a
    // precise seek waits (10 s): it would end early, as it should.
    if (std::string(GetParam().codec) == "dv")
        GTEST_SKIP() << "DV is too slow under ThreadSanitizer";
#endif
    Make(GetParam().name, GetParam().codec);
    // The decoder goes on from its state after a seek when every packet was
    // timed and pictures refer to others: not with a program stream's
    // untimed pictures, nor with DV's key frames only.
    const bool resumes = std::string(GetParam().codec) == "h264";
    // Full-size DV pictures take longer: a shorter walk.
    const int moves = std::string(GetParam().codec) == "dv" ? 16 : 60;
    const Mode plain{"plain", 0, 0};
    Open(plain);
    const std::map<int, QByteArray> reference = Walk(7, moves);
    EXPECT_EQ(decoder->Spared().served, 0);
    EXPECT_EQ(decoder->Spared().unwritten, 0);
    for (const Mode &mode : {Mode{"cache", 512, 0}, Mode{"skip", 0, 1}, Mode{"both", 512, 1}}) {
        SCOPED_TRACE(mode.name);
        Open(mode);
        const std::map<int, QByteArray> seen = Walk(7, moves);
        for (const auto &[frame, digest] : seen) {
            if (reference.count(frame)) {
                EXPECT_EQ(digest, reference.at(frame)) << "frame " << frame;
            }
        }
        const CVideoDecoder::Counters &c = decoder->Spared();
        // The walk gives each mode something to spare.
        if (mode.cacheMB > 0) {
            EXPECT_GT(c.served, moves / 6);
            EXPECT_EQ(c.resumed > 5, resumes);
            EXPECT_EQ(c.passedOver > 0, resumes);
        } else {
            EXPECT_EQ(c.served, 0);
            EXPECT_EQ(decoder->CachePeakBytes(), 0);
        }
        if (mode.skipHidden) {
            EXPECT_GT(c.unwritten, 0);
            EXPECT_GT(c.unreferenced + c.undecoded, 0);
        } else {
            EXPECT_EQ(c.unwritten + c.unreferenced + c.undecoded, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, DecoderReuseClips,
                         ::testing::Values(ClipKind{"clip.mp4", "h264"}, ClipKind{"clip.mpg", "mpeg2"},
                                           ClipKind{"clip.avi", "dv"}),
                         [](const auto &info) { return std::string(info.param.codec); });

TEST_F(DecoderReuse, TheCacheKeepsItsCapOverALongWalk)
{
    // About twenty pictures of 192 x 108.
    constexpr uint32_t kCapKB = 640;
    Open({"small cache", 512, 1}, kCapKB);
    Walk(23, 150);
    EXPECT_GT(decoder->Spared().served, 0);
    EXPECT_LE(decoder->CachePeakBytes(), int64_t(kCapKB) << 10);
    EXPECT_GT(decoder->CachePeakBytes(), (int64_t(kCapKB) << 10) / 2);
}

// After a picture served from the cache the stream goes on from it: playing
// shows later pictures in order, never one from before (those the decoder
// decodes again from the key frame), and a landing after that is exact.
TEST_F(DecoderReuse, PlayingOnFromAServedPictureKeepsTheOrder)
{
    Open({"both", 512, 1});
    const auto playFrom = [&](int frame) {
        nav->Play();
        REFERENCE_TIME earliest = nav->Notifier->CurrentTime;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 500) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            earliest = std::min<REFERENCE_TIME>(earliest, nav->Notifier->CurrentTime);
        }
        nav->Pause();
        EXPECT_GE(earliest, frame * kFrame);
        const Shown s = Now();
        EXPECT_GT(s.index, frame);
        EXPECT_EQ(s.index, int(nav->CurrentPosition() / kFrame));
    };
    const CVideoDecoder::Counters &c = decoder->Spared();
    nav->SeekPrecise(80 * kFrame);
    nav->SeekPrecise(140 * kFrame);
    ASSERT_EQ(Now().index, 140);
    // Kept from the first landing; the decoder is far from there now.
    const int64_t served = c.served, resumed = c.resumed;
    nav->SeekPrecise(79 * kFrame);
    ASSERT_EQ(Now().index, 79);
    EXPECT_EQ(c.served, served + 1);
    EXPECT_EQ(c.resumed, resumed);
    playFrom(79);
    // The steps back after the first one (which may have to decode: a
    // landing spares the pictures nothing refers to) are served, and at
    // least one goes on from the decoder's own state (the other may reach
    // another key frame).
    nav->SeekPrecise(116 * kFrame);
    nav->StepBackward(kFrame);
    const int64_t landed = c.served;
    nav->StepBackward(kFrame);
    nav->StepBackward(kFrame);
    ASSERT_EQ(Now().index, 113);
    EXPECT_EQ(c.served, landed + 2);
    EXPECT_GE(c.resumed, resumed + 1);
    playFrom(113);
    nav->SeekPrecise(30 * kFrame);
    EXPECT_EQ(Now().index, 30);
    nav->StepForward(kFrame);
    EXPECT_EQ(Now().index, 31);
}

} // namespace
