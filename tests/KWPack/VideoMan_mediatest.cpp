// The video manager on real clips, through the sources the media factory
// makes and the navigation manager's graph, as the main window uses them:
// which decoder each rule leads to on a real connection, the remembered
// choice across a restart, switching decoders, the status panels, the aspect
// and the inlay text.
#include "KWPack/uVideoMan.h"

#include "KWPack/uLinkEdit.h"
#include "KWPack/uMediaDevices.h"
#include "KWPack/uNotifier.h"
#include "KWPack/uMediaFactory.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uPreferences.h"
#include "KWPack/uPrivateLAV.h"
#include "KWPack/uPrivateffdshow.h"

#include "tests/common/TestSupport.h"
#include "tools/mkmedia/MkMedia.h"

#include "platform/dshow/Enumerate.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/Uuids.h"
#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/render/RenderFilters.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

// Neither FFmpeg nor Qt (nor the GLib under Qt's threads) is built for
// ThreadSanitizer: the atomics of FFmpeg's frame threads and buffer pools,
// and the futexes of Qt's drawing threads, are invisible to it. Our own code
// stays checked.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libavcodec.so\nrace:libavutil.so\nrace:libglib-2.0.so\n"
           "called_from_lib:libQt6Gui.so\ncalled_from_lib:libQt6Core.so\n";
}

namespace {

class VideoManTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_QUIET);
        RegisterFFmpegFilters();
        RegisterRenderFilters();
    }

    void SetUp() override
    {
        VideoDecoderList().Clear();
        nav = TKWActionComponent::New<TNavMan>();
        factory = new TMediaFactory();
        factory->SetGrapheMan(nav);
        host = new QWidget();
        host->resize(320, 240);
        vid = TKWActionComponent::New<TVideoMan>();
        vid->Setwindow(host);
        vid->OnNotifyVideoDecoder = [this](const QString &s) { decoderTexts << s; };
        vid->OnNotifyVideoFormat = [this](const QString &s) { formatTexts << s; };
    }

    void TearDown() override
    {
        nav->Stop();
        vid->DisconnectVideo(false);
        delete vid;
        delete factory;
        delete nav;
        delete host;
        VideoDecoderList().Clear();
        RegisterFFmpegFilters();  // a test may have taken decoders away
    }

    // The first video source of a new clip (null when it has none).
    TVideoSource *Source(const char *name, const char *codec, int width = 160, int height = 120,
                         mkmedia::Rational rate = {25, 1}, int audio = 0)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = codec;
        o.frames = 10;
        o.width = width;
        o.height = height;
        o.rate = rate;
        o.audio = audio;
        const auto made = mkmedia::WriteClip(o);
        EXPECT_TRUE(made.ok) << made.error;
        TFileDevice *device = factory->GetDevice(dir.filePath(name));
        EXPECT_TRUE(device && device->Valid());
        return device ? device->VideoSources()[0] : nullptr;
    }

    static QString FilterName(IBaseFilter *filter)
    {
        FILTER_INFO info{};
        if (!filter || FAILED(filter->QueryFilterInfo(&info)))
            return QString();
        if (info.pGraph)
            info.pGraph->Release();
        return QString::fromWCharArray(info.achName);
    }

    bool HasFilter(const wchar_t *name)
    {
        ComPtr<IBaseFilter> f;
        return SUCCEEDED(nav->GraphBuilder->FindFilterByName(name, f.ReleaseAndGetAddressOf()));
    }

    // Paused, the picture reaches the renderer through the whole chain. A
    // slow (sanitizer) build may take a while to decode it.
    bool ShowsAPicture()
    {
        nav->Pause();
        QImage picture;
        QElapsedTimer waited;
        waited.start();
        while (!vid->GrabCurrentImage(picture) && waited.elapsed() < 20000) {
            nav->WaitForStableState();
            WaitMessages(50);
        }
        return !picture.isNull();
    }

    QTemporaryDir dir;
    TNavMan *nav = nullptr;
    TMediaFactory *factory = nullptr;
    QWidget *host = nullptr;
    TVideoMan *vid = nullptr;
    QStringList decoderTexts, formatTexts;
};

TEST_F(VideoManTest, AnH264StreamConnectsThroughOurDecoderNotTheSystemOneThatOutranksIt)
{
    TVideoSource *source = Source("clip.mp4", "h264");
    ASSERT_TRUE(source);
    ASSERT_TRUE(vid->ConnectVideo(source));
    // Left to itself, intelligent connect would take the system decoder.
    const auto ranked = FiltersAccepting(MEDIATYPE_Video, source->StreamType().subtype);
    ASSERT_FALSE(ranked.empty());
    EXPECT_EQ(ranked[0].clsid, CLSID_SystemH264Decoder);

    EXPECT_EQ(vid->VideoState, TVideoMan::vsConnected);
    // The format the source reported while it attached already set the aspect.
    EXPECT_EQ(std::pair(vid->AspectX, vid->AspectY), std::pair(4, 3));
    EXPECT_EQ(vid->DecoderClsid, CLSID_VidstillVideoDecoder);
    EXPECT_EQ(vid->TriedDecoders, QStringList{QString::fromStdString(GuidToString(CLSID_SystemH264Decoder))});
    EXPECT_EQ(decoderTexts.last(), "Vidstill Video Decoder");
    EXPECT_TRUE(HasFilter(L"Frames Notifier"));
    EXPECT_EQ(nav->Notifier.Get(), vid->FramesNotifier.Get());
    EXPECT_EQ(nav->NavSource(), source);
    EXPECT_FALSE(vid->StatusImage->isVisibleTo(host));
    const TFilterRec *remembered = VideoDecoderList().GetDecoder(source->StreamType());
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->Clsid(), CLSID_VidstillVideoDecoder);
    EXPECT_TRUE(ShowsAPicture());

    // The same source again: nothing is touched.
    const auto before = dshow::FiltersOf(nav->GraphBuilder.Get()).size();
    EXPECT_TRUE(vid->ConnectVideo(source));
    EXPECT_EQ(dshow::FiltersOf(nav->GraphBuilder.Get()).size(), before);
}

TEST_F(VideoManTest, NextDecoderCyclesThroughTheCatalogueAndKeepsThePlayState)
{
    TVideoSource *source = Source("clip.mkv", "h264");
    ASSERT_TRUE(vid->ConnectVideo(source));
    ASSERT_TRUE(ShowsAPicture());
    ASSERT_EQ(nav->FilterGraph()->State(), gsPaused);

    ASSERT_TRUE(vid->NextVideoDecoder());
    EXPECT_EQ(vid->DecoderClsid, CLSID_VidstillVideoDecoderST);
    EXPECT_EQ(nav->FilterGraph()->State(), gsPaused);
    EXPECT_EQ(VideoDecoderList().GetDecoder(source->StreamType())->Clsid(), CLSID_VidstillVideoDecoderST);
    EXPECT_TRUE(ShowsAPicture());

    // Every decoder of the catalogue was tried: the list starts again, and
    // the first attempt keeps the system decoder away again.
    nav->Play();
    vid->naNextDecoderVideo->Execute();  // Ctrl+F8
    EXPECT_EQ(vid->DecoderClsid, CLSID_VidstillVideoDecoder);
    EXPECT_EQ(nav->FilterGraph()->State(), gsRunning);
    EXPECT_EQ(vid->VideoState, TVideoMan::vsConnected);
}

TEST_F(VideoManTest, AManagerDestroyedWhileConnectedLeavesTheGraphAndTellsNoOne)
{
    TVideoSource *source = Source("d.mkv", "mpeg2");
    ASSERT_TRUE(vid->ConnectVideo(source));
    const int told = int(decoderTexts.size());
    delete vid;
    vid = TKWActionComponent::New<TVideoMan>();
    EXPECT_EQ(decoderTexts.size(), told);
    EXPECT_FALSE(source->GrapheMan());
    EXPECT_FALSE(HasFilter(L"Frames Notifier"));
    EXPECT_TRUE(vid->ConnectVideo(source));
}

TEST_F(VideoManTest, TheDecoderChoiceIsRememberedPerStreamTypeAcrossARestart)
{
    for (const TSavePreferences mode : {spRegistre, spPortable}) {
        SCOPED_TRACE(mode == spRegistre ? "registry" : "portable file");
        TempHive hive;
        QTemporaryDir exe;
        const auto store = [&exe, mode](TVostrelPreferences &gp) {
            gp.titre = "Vidstill";
            gp.ExeFolder = exe.path() + "/";
            gp.ExeName = exe.path() + "/Vidstill";
            gp.SetMode(mode);
        };
        vid->ResetForNewFile();
        {
            TVideoSource *source = Source(mode == spRegistre ? "a.mkv" : "c.mkv", "mpeg4");
            ASSERT_TRUE(vid->ConnectVideo(source));
            ASSERT_TRUE(vid->NextVideoDecoder());
            ASSERT_EQ(vid->DecoderClsid, CLSID_VidstillVideoDecoderST);
            TVostrelPreferences gp(nullptr);
            store(gp);
            vid->SavePrefs(&gp);
        }
        if (mode == spRegistre) {
            EXPECT_TRUE(hive.readText().contains("VideoDecoders\\dc0"));
        }
        nav->Stop();
        vid->DisconnectVideo(true);
        VideoDecoderList().Clear();

        TVostrelPreferences gp(nullptr);
        store(gp);
        vid->LoadPrefs(&gp);
        ASSERT_EQ(VideoDecoderList().Count(), 1);
        // Another file of the same type, a fresh tried list: the remembered
        // decoder is put into the graph first and carries the connection.
        vid->ResetForNewFile();
        ASSERT_TRUE(vid->ConnectVideo(Source(mode == spRegistre ? "b.mkv" : "d.mkv", "mpeg4")));
        EXPECT_EQ(vid->DecoderClsid, CLSID_VidstillVideoDecoderST);
        EXPECT_TRUE(ShowsAPicture());
        nav->Stop();
        vid->DisconnectVideo(true);
        VideoDecoderList().Clear();
    }
}

TEST_F(VideoManTest, ffdshowAsDefaultIsPutFirstForPalDVButNotForNtscDV)
{
    TPrivateFilters pf;
    ASSERT_TRUE(pf.Load(VIDSTILL_PRIVATE_DIR));
    vid->SetDefaultVideoDecoder(pf.Record(TPrivateFilters::pfFFDShowVideo));

    TVideoSource *pal = Source("pal.avi", "dv", 720, 576, {25, 1});
    ASSERT_TRUE(vid->ConnectVideo(pal));
    EXPECT_FALSE(vid->NtscDV);
    EXPECT_EQ(vid->DecoderClsid, CLSID_PrivateffdshowVideo);
    EXPECT_EQ(decoderTexts.last(), "Private ffdshow Video decoder");
    nav->Stop();
    vid->DisconnectVideo(true);
    VideoDecoderList().Clear();
    vid->ResetForNewFile();

    TVideoSource *ntsc = Source("ntsc.avi", "dv", 720, 480, {30000, 1001});
    ASSERT_TRUE(vid->ConnectVideo(ntsc));
    EXPECT_TRUE(vid->NtscDV);
    EXPECT_NE(vid->DecoderClsid, CLSID_PrivateffdshowVideo);
    EXPECT_TRUE(ShowsAPicture());
}

TEST_F(VideoManTest, WithoutAnyDecoderTheFallbackTakesOverAndWithoutItTheBadVideoPanelShows)
{
    for (const CLSID &c : {CLSID_VidstillVideoDecoder, CLSID_VidstillVideoDecoderST, CLSID_SystemH264Decoder})
        UnregisterFilter(c);
    TPrivateFilters pf;
    ASSERT_TRUE(pf.Load(VIDSTILL_PRIVATE_DIR));
    vid->SetFallbackVideoDecoder(pf.Record(TPrivateFilters::pfLAVVideo));
    ASSERT_TRUE(vid->ConnectVideo(Source("lav.mkv", "mpeg2")));
    EXPECT_EQ(vid->DecoderClsid, CLSID_PrivateLAVVideo);
    EXPECT_TRUE(ShowsAPicture());
    nav->Stop();
    vid->DisconnectVideo(true);

    vid->SetFallbackVideoDecoder(nullptr);
    TVideoSource *source = Source("none.mkv", "mpeg2");
    EXPECT_FALSE(vid->ConnectVideo(source));
    EXPECT_EQ(vid->VideoState, TVideoMan::vsBadVideo);
    EXPECT_EQ(vid->StatusText->RichText(), TVideoMan::kBadVideoText);
    EXPECT_TRUE(vid->StatusImage->isVisibleTo(host));
    EXPECT_EQ(decoderTexts.last(), "No Video decoder");
    EXPECT_EQ(formatTexts.last(), "No Video");
    // Nothing of the source stays behind: it can be attached again later.
    EXPECT_FALSE(source->GrapheMan());
    EXPECT_FALSE(HasFilter(L"Video Source Notifier"));
    EXPECT_FALSE(vid->NextVideoDecoder());
    RegisterFFmpegFilters();
    EXPECT_TRUE(vid->ConnectVideo(source));
}

TEST_F(VideoManTest, TheExtraFilterReplacesADecoderOfItsOwnClassAndIsLeftOutWhereItCannotGo)
{
    const auto classes = [this] {
        std::vector<CLSID> found;
        for (const ComPtr<IBaseFilter> &f : dshow::FiltersOf(nav->GraphBuilder.Get())) {
            CLSID c{};
            f->GetClassID(&c);
            found.push_back(c);
        }
        return found;
    };
    // A decoder of another class cannot take decoded pictures: the path
    // stays as it was and the extra filter leaves the graph.
    const TFilterRec extra(CLSID_VidstillVideoDecoderST, "Extra");
    vid->SetExtraVideoFilter(&extra);
    ASSERT_TRUE(vid->ConnectVideo(Source("e.mkv", "mpeg4")));
    EXPECT_EQ(vid->DecoderClsid, CLSID_VidstillVideoDecoder);
    const auto before = classes();
    EXPECT_EQ(std::count(before.begin(), before.end(), CLSID_VidstillVideoDecoderST), 0);
    EXPECT_TRUE(ShowsAPicture());

    // The next decoder is the extra filter's class: its own instance takes
    // the place of the one the graph picked.
    ASSERT_TRUE(vid->NextVideoDecoder());
    const auto now = classes();
    EXPECT_EQ(std::count(now.begin(), now.end(), CLSID_VidstillVideoDecoderST), 1);
    EXPECT_EQ(FilterName(vid->DecoderFilter.Get()), "Extra");
    EXPECT_TRUE(ShowsAPicture());
}

TEST_F(VideoManTest, AnAudioOnlyFileShowsTheNoVideoPanelAndAVideoOnlyFilePlays)
{
    mkmedia::ClipOptions o;
    o.path = dir.filePath("sound.wav").toStdString();
    o.audio = 1;
    ASSERT_TRUE(mkmedia::WriteClip(o).ok);
    TFileDevice *device = factory->GetDevice(dir.filePath("sound.wav"));
    ASSERT_TRUE(device);
    vid->OnNoVideoStream = [] { return QStringLiteral("<b>silence</b>"); };
    EXPECT_FALSE(vid->ConnectVideo(device->VideoSources()[0]));
    EXPECT_FALSE(vid->ConnectVideo(NoVideo()));
    EXPECT_EQ(vid->VideoState, TVideoMan::vsNoVideo);
    EXPECT_EQ(vid->StatusText->RichText(), "<b>silence</b>");
    EXPECT_TRUE(vid->StatusText->isVisibleTo(host));
    // Another host takes the panel with it, laid out at its own size.
    {
        QWidget other;
        other.resize(400, 300);
        vid->Setwindow(&other);
        EXPECT_EQ(vid->StatusImage->parentWidget(), &other);
        EXPECT_TRUE(vid->StatusImage->isVisibleTo(&other));
        EXPECT_EQ(vid->StatusImage->pos(), QPoint((400 - 192) / 2, (300 - 32 - 8 - 192) / 2));
        EXPECT_EQ(vid->StatusText->geometry(), QRect(8, 300 - 32 - 8, 400 - 16, 32));
        vid->Setwindow(host);
    }

    ASSERT_TRUE(vid->ConnectVideo(Source("mute.avi", "mpeg4")));
    EXPECT_FALSE(vid->StatusText->isVisibleTo(host));
    EXPECT_TRUE(ShowsAPicture());
}

TEST_F(VideoManTest, TheFormatReportSetsTheAspectUnlessOneIsForced)
{
    ASSERT_TRUE(vid->ConnectVideo(Source("wide.mkv", "mpeg2", 720, 576)));
    TVideoData format;
    format.Width = 720;
    format.Height = -576;
    format.AspectCode = acAspectNone;
    format.FormatText = "MPEG2";
    format.SizeText = "720x576 - 25 fps";
    SendMessage(vid->MessageWindow(), WM_VIDEO_FORMAT, 4, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(std::pair(vid->AspectX, vid->AspectY), std::pair(720, 576));
    SendMessage(vid->MessageWindow(), WM_VIDEO_FORMAT, 2, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(formatTexts.last(), "MPEG2 - 720x576 - 25 fps");

    const std::pair<int, int> forced[] = {{720, 576}, {4, 3}, {16, 9}, {720, 576}};
    for (int mode : {1, 2, 3, 0}) {
        vid->SetForcedAspect(mode);
        EXPECT_EQ(std::pair(vid->AspectX, vid->AspectY), forced[mode]) << mode;
    }
    format.AspectCode = acAspectOther;
    format.AspectX = 221;
    format.AspectY = 100;
    SendMessage(vid->MessageWindow(), WM_VIDEO_FORMAT, 4, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(std::pair(vid->AspectX, vid->AspectY), std::pair(221, 100));
}

TEST_F(VideoManTest, TheTimeOfThePictureShownReachesTheInlayFromTheStreamingThread)
{
    ASSERT_TRUE(vid->ConnectVideo(Source("t.mkv", "mpeg2")));
    nav->SetRange(true, -1, -1);
    ASSERT_TRUE(ShowsAPicture());
    ASSERT_EQ(nav->FrameDuration, 400000);
    vid->SetPattern(0, "at %S");
    nav->SeekPrecise(5 * 400000);
    nav->WaitForStableState();
    EXPECT_EQ(vid->InlayLines[0].Text, "at 0:00:00:05");
    nav->StepBackward(2 * 400000);
    nav->WaitForStableState();
    EXPECT_EQ(vid->InlayLines[0].Text, "at 0:00:00:03");
}

TEST_F(VideoManTest, TheInlayLinesFollowTheValuesSentToTheWindow)
{
    const HWND wnd = vid->MessageWindow();
    vid->SetPattern(0, "Clip %F%E at %s");
    vid->SetPattern(1, "%P%n");
    TIncrustFileName file{1, "C:\\v\\trip.avi"};
    SendMessage(wnd, TVideoMan::WM_VIDEO_FILENAME, 0, reinterpret_cast<LPARAM>(&file));
    EXPECT_EQ(vid->InlayLines[0].Text, "Clip trip.avi at ");
    EXPECT_EQ(vid->InlayLines[1].Text, "C:\\v\\");
    QString time = "0:00:01:07";
    SendMessage(wnd, WM_VIDEO_FRAMETIME, reinterpret_cast<WPARAM>(&time), 0);
    TIncrustNumero number{1, "0042"};
    SendMessage(wnd, TVideoMan::WM_VIDEO_NUMBER, 0, reinterpret_cast<LPARAM>(&number));
    EXPECT_EQ(vid->InlayLines[0].Text, "Clip trip.avi at 0:00:01:07");
    EXPECT_EQ(vid->InlayLines[1].Text, "C:\\v\\0042");
    EXPECT_TRUE(vid->InlayLines[1].Enabled);
    EXPECT_FALSE(vid->InlayLines[2].Enabled);

    vid->SetPattern(2, "%D|%T");
    vid->SetDateFormat(2, "yyyy-mm-dd hh:nn");
    TDateTime date = 0;
    ASSERT_TRUE(TryEncodeDateTime(2024, 5, 17, 23, 30, 0, 0, date));
    TDVCodesRec codes{1, 1, date, "12:34:56:07", 3};
    SendMessage(wnd, WM_VIDEO_DVCODES, reinterpret_cast<WPARAM>(&codes), 0);
    EXPECT_EQ(vid->InlayLines[2].Text, "2024-05-17 23:30|12:34:56:07");
    vid->SetDateOffset(1.0 / 24);  // an hour later: the next day
    EXPECT_EQ(vid->InlayLines[2].Text, "2024-05-18 00:30|12:34:56:07");
    codes.DateValid = 0;
    SendMessage(wnd, WM_VIDEO_DVCODES, reinterpret_cast<WPARAM>(&codes), 0);
    EXPECT_EQ(vid->InlayLines[2].Text, "|12:34:56:07");

    // Leaving a file forgets every value but the file name.
    ASSERT_TRUE(vid->ConnectVideo(Source("x.mkv", "mpeg2")));
    nav->Stop();
    vid->DisconnectVideo(true);
    vid->ComposeInlay();
    EXPECT_EQ(vid->InlayLines[0].Text, "Clip trip.avi at ");
    vid->SetPattern(1, QString());
    EXPECT_FALSE(vid->InlayLines[1].Enabled);
    EXPECT_TRUE(vid->InlayLines[1].Text.isEmpty());
}

} // namespace
