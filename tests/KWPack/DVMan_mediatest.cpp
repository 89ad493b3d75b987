// The DV manager on real DV files: which source reports, and the events its
// reports become.
#include "KWPack/uDVMan.h"

#include "MediaDevicesKit.h"

#include <QElapsedTimer>

using namespace devicetest;

namespace {

class DVManTest : public DeviceTest {
protected:
    void SetUp() override
    {
        dvman = TKWActionComponent::New<TDVMan>();
        manager.reset(dvman);
        factory.SetGrapheMan(dvman);
        dvman->OnDatecode = [this](const QString &text) { dates << text; };
        dvman->OnTimecode = [this](const QString &text) { codes << text; };
    }

    // 60 frames of DV (2.4 s at 25 frames a second) starting two seconds
    // before a full minute. Through "AVI Splitter", type 1 is one interleaved
    // stream: a DV device whose notifier reports for the source.
    TVideoSource *Source(int dvType, bool system = false)
    {
        if (system)
            BreakSplitterSource();
        mkmedia::ClipOptions o;
        o.path = dir.filePath(QString("dv%1.avi").arg(dvType)).toStdString();
        o.codec = "dv";
        o.frames = 60;
        o.audio = 1;
        o.dvType = dvType;
        mkmedia::ParseDvDateTime("2009-07-14 13:45:58", o.dvStart);
        const auto written = mkmedia::WriteClip(o);
        EXPECT_TRUE(written.ok) << written.error;
        TFileDevice *device = factory.GetDevice(QString::fromStdString(o.path));
        return device ? device->VideoSources()[0] : nullptr;
    }

    // The source's notifier into a sink; the graph runs to its end without a clock.
    void PlayThrough(TVideoSource *source)
    {
        ASSERT_TRUE(source->Attach(dvman, 0));
        auto sink = MakeCom<filtertest::KeepingSink>();
        ASSERT_EQ(dvman->GraphBuilder->AddFilter(sink.Get(), L"Sink"), S_OK);
        ASSERT_EQ(dvman->GraphBuilder->ConnectDirect(filtertest::Pin(source->SourceNotifierFilter(), 1),
                                                     sink->GetPin(0), nullptr),
                  S_OK);
        ComQuery<IMediaFilter>(dvman->GraphBuilder)->SetSyncSource(nullptr);
        LONGLONG start = 0;
        dvman->MediaSeeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning);
        bool complete = false;
        dvman->OnGraphCompleted = [&complete] { complete = true; };
        ASSERT_TRUE(dvman->Play());
        QElapsedTimer t;
        t.start();
        while (!complete && t.elapsed() < 20000)
            ProcessMessages();
        EXPECT_TRUE(complete);
        dvman->Stop();
        ProcessMessages();  // the last posted reports
        dvman->GraphBuilder->RemoveFilter(sink.Get());
    }

    TDVMan *dvman = nullptr;
    QStringList dates, codes;
};

TEST_F(DVManTest, TimeCodeEventsFollowEveryFrameAndDateEventsWaitForTheirSwitch)
{
    for (int dvType : {1, 2, 3}) {
        SCOPED_TRACE(dvType);
        dates.clear();
        codes.clear();
        // 3: type 1 through the system's AVI splitter, a DV device.
        TVideoSource *source = dvType == 3 ? Source(1, true) : Source(dvType);
        ASSERT_TRUE(source);
        ASSERT_TRUE(source->Attach(dvman, 0));  // attaching resets the notifiers
        dvman->DateFormat = "yyyy-mm-dd hh:nn:ss";
        dvman->SetDateSource(source);
        dvman->SetTimeCodeSource(source);
        EXPECT_EQ(dvman->DateSource(), source);
        PlayThrough(source);
        ASSERT_EQ(codes.size(), 60);
        EXPECT_EQ(codes.first(), "0:00:00:00");
        EXPECT_EQ(codes[27], "0:00:01:02");
        EXPECT_TRUE(dates.isEmpty()) << "date events are off until the main window wants them";

        dvman->DateEvents = true;
        PlayThrough(source);
        EXPECT_EQ(dates, QStringList({"2009-07-14 13:45:58", "2009-07-14 13:45:59", "2009-07-14 13:46:00"}));
        dvman->DateEvents = false;
        dvman->ForgetSource(source);
        source->Detach();
    }
}

TEST_F(DVManTest, ASourceLeavingTheSlotsStopsReporting)
{
    TVideoSource *source = Source(1, true);
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->Attach(dvman, 0));
    dvman->SetDateSource(source);
    dvman->SetTimeCodeSource(source);
    dvman->SetSceneSource(source);
    TNotifier *active = source->ActiveNotifierObj();
    ASSERT_NE(active, source->SourceNotifierObj()) << "type 1: the DV device's notifier reports";
    EXPECT_TRUE(active->DateReports());
    EXPECT_TRUE(active->TimeCodeReports());
    EXPECT_EQ(active->SceneWindow(), dvman->MessageWindow());
    EXPECT_EQ(source->SourceNotifierObj()->SceneWindow(), dvman->MessageWindow());

    dvman->ForgetSource(source);
    EXPECT_EQ(dvman->DateSource(), nullptr);
    EXPECT_EQ(dvman->TimeCodeSource(), nullptr);
    EXPECT_EQ(dvman->SceneSource(), nullptr);
    EXPECT_FALSE(active->DateReports());
    EXPECT_FALSE(active->TimeCodeReports());
    source->Detach();
}

} // namespace
