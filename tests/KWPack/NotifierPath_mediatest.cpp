// The stream notifier in a real path: splitter -> notifier -> decoder ->
// renderer. Standing in the path must not change what is presented when.
#include "MediaDevicesKit.h"

#include <QElapsedTimer>

using namespace devicetest;

namespace {

// Pictures with B-frames in containers that carry decoding times only: the
// decoder must still learn that from the splitter through the notifier.
TEST_F(DeviceTest, PicturesKeepTheirTimesThroughTheNotifier)
{
    for (const char *name : {"bframes.avi", "bframes.m2v"}) {
        SCOPED_TRACE(name);
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = QString(name).endsWith(".avi") ? "mpeg4" : "mpeg2";
        o.frames = 30;
        o.gop = 12;
        o.bframes = 2;
        o.audio = 0;
        o.width = 160;
        o.height = 120;
        ASSERT_TRUE(mkmedia::WriteClip(o).ok);
        TFileDevice *device = factory.GetDevice(QString::fromStdString(o.path));
        ASSERT_TRUE(device && device->Valid());
        TVideoSource *source = device->VideoSources()[0];
        ASSERT_TRUE(source && source->Attach(manager.get(), 0));

        auto sink = MakeCom<filtertest::KeepingSink>(MEDIASUBTYPE_RGB32);
        ASSERT_EQ(manager->GraphBuilder->AddFilter(sink.Get(), L"Sink"), S_OK);
        ASSERT_EQ(manager->GraphBuilder->Connect(filtertest::Pin(source->SourceNotifierFilter(), 1),
                                                 sink->GetPin(0)),
                  S_OK);
        ComQuery<IMediaFilter>(manager->GraphBuilder)->SetSyncSource(nullptr);
        bool complete = false;
        manager->OnGraphCompleted = [&complete] { complete = true; };
        ASSERT_TRUE(manager->Play());
        QElapsedTimer t;
        t.start();
        while (!complete && t.elapsed() < 20000)
            ProcessMessages();
        ASSERT_TRUE(complete);
        manager->Stop();

        const auto kept = sink->Samples();
        ASSERT_EQ(kept.size(), 30u);
        for (size_t n = 0; n < kept.size(); ++n)
            EXPECT_EQ(kept[n].start, REFERENCE_TIME(n) * 400000) << n;
        source->Detach();
        manager->GraphBuilder->RemoveFilter(sink.Get());
        manager->RemoveUnconnectedFilters();
    }
}

} // namespace
