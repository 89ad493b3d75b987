// Devices and sources on generated clips in a real graph manager: type-1 DV
// as a DV device with sources of its own, names and numbers, attaching and
// detaching (the filters each brings and takes away, the manager's lists,
// failures that leave nothing behind), the graph surgery the decoder switch
// uses, stream pins, and the placeholders.
#include "MediaDevicesKit.h"

#include <QFile>

#include <chrono>
#include <thread>

namespace {

using namespace devicetest;
using NameSet = std::set<std::wstring>;

const std::wstring kLav = L"LAV Splitter Source", kFile = L"File Source (Async.)", kAvi = L"AVI Splitter",
                   kVideoNotifier = L"Video Source Notifier", kAudioNotifier = L"Audio Source Notifier",
                   kDVNotifier = L"DV Notifier", kDVSplitter = L"DV Splitter";

bool Connected(IPin *pin)
{
    ComPtr<IPin> peer;
    return pin && pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK;
}

TEST_F(DeviceTest, TypeOneDvIsADvDeviceWhoseSplitterGivesTheSources)
{
    BreakSplitterSource();  // LAV reads type-1 DV as two plain streams
    TFileDevice *device = factory.GetDevice(Dv("holiday.avi", 1));
    ASSERT_TRUE(device && device->Valid());
    EXPECT_EQ(device->SplitterRecord()->Name(), "AVI Splitter");
    ASSERT_EQ(device->DVCount(), 1);
    EXPECT_EQ(device->StreamCount(), 0);
    EXPECT_EQ(device->DVDevices()[1], nullptr);

    auto *dv = dynamic_cast<TDVDevice *>(device->DVDevices()[0]);
    ASSERT_TRUE(dv && dv->Valid());
    EXPECT_EQ(dv->ParentDevice(), device);
    EXPECT_EQ(dv->PinIndex(), 1);
    EXPECT_EQ(dv->DisplayName(), "holiday.avi");
    EXPECT_EQ(dv->DeviceNotifier()->KindCode, kNotifierDVDevice);

    // The file's lists are the DV device's sources, numbered within it.
    ASSERT_EQ(device->VideoCount(), 1);
    ASSERT_EQ(device->AudioCount(), 1);
    EXPECT_EQ(device->VideoSources()[0], dv->VideoSources()[0]);
    EXPECT_EQ(device->AudioSources()[0], dv->AudioSources()[0]);
    TVideoSource *video = device->VideoSources()[0];
    EXPECT_EQ(video->ParentDevice(), dv);
    EXPECT_EQ(video->PinIndex(), 1);
    EXPECT_EQ(video->DisplayName(), "holiday.avi");
    EXPECT_EQ(video->ActiveNotifierObj(), dv->DeviceNotifier());
    EXPECT_EQ(video->SourceNotifierObj()->KindCode, kNotifierSource);
    EXPECT_EQ(RootDevice(video), device);
    EXPECT_EQ(RootDevice(dv), device);
    EXPECT_EQ(RootDevice(device), device);

    // A second DV device on the same parent is named " #2" (and finds no pin).
    TDVDevice second(device, 2);
    EXPECT_EQ(second.DisplayName(), "holiday.avi #2");
    EXPECT_FALSE(second.Valid());
    EXPECT_EQ(second.VideoCount() + second.AudioCount(), 0);
}

TEST_F(DeviceTest, DvThroughLavOrAsTypeTwoHasPlainPins)
{
    for (const auto &[name, type, breakFirst] :
         {std::tuple{"lav1.avi", 1, false}, std::tuple{"split2.avi", 2, true}}) {
        SCOPED_TRACE(name);
        if (breakFirst)
            BreakSplitterSource();
        TFileDevice *device = factory.GetDevice(Dv(name, type));
        ASSERT_TRUE(device && device->Valid());
        EXPECT_EQ(device->DVCount(), 0);
        ASSERT_EQ(device->VideoCount(), 1);
        EXPECT_EQ(device->AudioCount(), 1);
        TVideoSource *video = device->VideoSources()[0];
        ASSERT_TRUE(video->Attach(manager.get(), 0));
        EXPECT_EQ(video->StreamType().subtype, MEDIASUBTYPE_dvsd);
        EXPECT_FALSE(video->SourceNotifierObj()->BehindDVNotifier());
        EXPECT_TRUE(video->Detach());
    }
}

TEST_F(DeviceTest, SourcesOutsideTheDevicesCountStayUnnamedAndUnattached)
{
    TFileDevice *device = factory.GetDevice(Make("clip.avi"));
    ASSERT_TRUE(device && device->Valid());
    for (int index : {0, -1, device->VideoCount() + 1}) {
        TVideoSource video(device, index);
        TAudioSource audio(device, index);
        EXPECT_TRUE(video.Name().isEmpty());
        EXPECT_TRUE(audio.DisplayName().isEmpty());
        EXPECT_EQ(video.ParentDevice(), nullptr);
        EXPECT_EQ(audio.PinIndex(), 0);
        EXPECT_FALSE(video.Attach(manager.get(), 0));
        EXPECT_FALSE(audio.Attach(manager.get(), 0));
        ASSERT_TRUE(video.SourceNotifierObj());
    }
    EXPECT_TRUE(manager->VideoSources.isEmpty());
    EXPECT_TRUE(Names().empty());

    TVideoSource named(device, 1);
    EXPECT_EQ(named.DisplayName(), "clip.avi");
    EXPECT_EQ(TVideoSource("clip", 2).DisplayName(), "clip #2");
    EXPECT_EQ(TAudioSource("clip", 12).DisplayName(), "clip #12");
    EXPECT_EQ(TAudioSource("clip", 1).DisplayName(), "clip");
}

TEST_F(DeviceTest, AttachingBuildsOnlyWhatTheSourceNeedsAndDetachingTakesItAway)
{
    TFileDevice *device = factory.GetDevice(Make("clip.avi"));
    ASSERT_TRUE(device && device->Valid());
    TVideoSource *video = device->VideoSources()[0];
    TAudioSource *audio = device->AudioSources()[0];
    const HWND videoWnd = 0x51, audioWnd = 0x52;

    ASSERT_TRUE(video->Attach(manager.get(), videoWnd));
    EXPECT_EQ(Names(), (NameSet{kLav, kVideoNotifier}));
    EXPECT_EQ(manager->VideoSources, QList<TVideoSource *>{video});
    EXPECT_EQ(video->GrapheMan(), manager.get());
    EXPECT_EQ(device->GrapheMan(), manager.get());
    EXPECT_EQ(video->ActiveNotifierObj(), video->SourceNotifierObj());
    EXPECT_EQ(video->SourceNotifierObj()->VideoWindow(), videoWnd);
    EXPECT_TRUE(video->SourceNotifierObj()->VideoReports());
    EXPECT_GT(video->Duration(), 0);
    EXPECT_TRUE(video->Attach(manager.get(), videoWnd)) << "already attached";
    EXPECT_EQ(manager->VideoSources.size(), 1);

    ASSERT_TRUE(audio->Attach(manager.get(), audioWnd));
    EXPECT_EQ(Names(), (NameSet{kLav, kVideoNotifier, kAudioNotifier}));
    EXPECT_EQ(manager->AudioSources, QList<TAudioSource *>{audio});
    EXPECT_EQ(audio->SourceNotifierObj()->AudioWindow(), audioWnd);
    EXPECT_FALSE(audio->SourceNotifierObj()->FrameData().AudioTypeText.isEmpty());

    // The device stays while one of its streams is in use.
    EXPECT_TRUE(video->Detach());
    EXPECT_EQ(Names(), (NameSet{kLav, kAudioNotifier}));
    EXPECT_TRUE(manager->VideoSources.isEmpty());
    EXPECT_EQ(video->GrapheMan(), nullptr);
    EXPECT_FALSE(video->SourceNotifierObj()->VideoReports());
    EXPECT_EQ(video->Duration(), 0);
    EXPECT_FALSE(video->Detach()) << "nothing left to detach";

    EXPECT_TRUE(audio->Detach());
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(device->GrapheMan(), nullptr);
    EXPECT_FALSE(device->OutputFilter());

    // And again: the notifier takes the same stream back.
    ASSERT_TRUE(video->Attach(manager.get(), videoWnd));
    EXPECT_EQ(Names(), (NameSet{kLav, kVideoNotifier}));
    EXPECT_TRUE(video->Detach());
    EXPECT_TRUE(Names().empty());
}

TEST_F(DeviceTest, DvSourcesBringTheDvChainAndTheLastOneTakesItAway)
{
    BreakSplitterSource();
    TFileDevice *device = factory.GetDevice(Dv("holiday.avi", 1));
    ASSERT_TRUE(device && device->DVCount() == 1);
    auto *dv = static_cast<TDVDevice *>(device->DVDevices()[0]);
    TVideoSource *video = device->VideoSources()[0];
    TAudioSource *audio = device->AudioSources()[0];
    const HWND wnd = 0x77;

    ASSERT_TRUE(video->Attach(manager.get(), wnd));
    EXPECT_EQ(Names(), (NameSet{kFile, kAvi, kDVNotifier, kDVSplitter, kVideoNotifier}));
    EXPECT_EQ(video->ActiveNotifierObj(), dv->DeviceNotifier());
    EXPECT_TRUE(video->SourceNotifierObj()->BehindDVNotifier());
    EXPECT_TRUE(dv->DeviceNotifier()->VideoReports());
    EXPECT_EQ(dv->DeviceNotifier()->VideoWindow(), wnd);
    EXPECT_EQ(video->StreamType().subtype, MEDIASUBTYPE_dvsd);

    ASSERT_TRUE(audio->Attach(manager.get(), wnd));
    EXPECT_EQ(Names(), (NameSet{kFile, kAvi, kDVNotifier, kDVSplitter, kVideoNotifier, kAudioNotifier}));
    EXPECT_EQ(audio->StreamType().majortype, MEDIATYPE_Audio);
    EXPECT_EQ(audio->StreamType().subtype, MEDIASUBTYPE_PCM);

    // The DV manager's switches go to the DV notifier.
    video->StartDateCodes(0x90);
    video->StartTimeCodes(0x91);
    video->SetSceneWindow(0x92);
    EXPECT_TRUE(dv->DeviceNotifier()->DateReports());
    EXPECT_TRUE(dv->DeviceNotifier()->TimeCodeReports());
    EXPECT_EQ(dv->DeviceNotifier()->SceneWindow(), 0x92u);
    EXPECT_EQ(video->SourceNotifierObj()->SceneWindow(), 0x92u);
    video->StopDateCodes();
    video->StopTimeCodes();
    EXPECT_FALSE(dv->DeviceNotifier()->DateReports());
    EXPECT_FALSE(dv->DeviceNotifier()->TimeCodeReports());

    EXPECT_TRUE(video->Detach());
    EXPECT_EQ(Names(), (NameSet{kFile, kAvi, kDVNotifier, kDVSplitter, kAudioNotifier}));
    EXPECT_FALSE(dv->DeviceNotifier()->VideoReports()) << "the staying DV notifier stops reporting video";
    EXPECT_TRUE(dv->DeviceNotifier()->AudioReports());

    EXPECT_TRUE(audio->Detach());
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(dv->GrapheMan(), nullptr);
    EXPECT_EQ(device->GrapheMan(), nullptr);
}

// source -> notifier -> decoder -> renderer, as the video manager builds it.
TEST_F(DeviceTest, SurgeryRemovesWhatLiesBetweenAndKeepsTheEnds)
{
    TFileDevice *device = factory.GetDevice(Make("clip.mp4"));
    ASSERT_TRUE(device && device->Valid());
    TVideoSource *video = device->VideoSources()[0];
    ASSERT_TRUE(video->Attach(manager.get(), 0));
    auto sink = MakeCom<filtertest::KeepingSink>(MEDIASUBTYPE_RGB32);
    ASSERT_EQ(S_OK, Graph()->AddFilter(sink.Get(), L"Sink"));
    IBaseFilter *notifier = video->SourceNotifierFilter();
    ASSERT_EQ(S_OK, manager->GraphBuilder->Connect(filtertest::Pin(notifier, 1), filtertest::Pin(sink.Get(), 0)));
    const NameSet before = Names();
    ASSERT_EQ(before.size(), 4u) << "a decoder went in between";

    // It plays: samples pass the notifier and the decoder.
    ComQuery<IMediaFilter>(manager->GraphBuilder)->SetSyncSource(nullptr);
    ASSERT_TRUE(manager->Play());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sink->Samples().size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(sink->Samples().size(), 3u);
    ASSERT_TRUE(manager->Stop());

    EXPECT_TRUE(IsUpstreamOf(sink.Get(), notifier));
    EXPECT_TRUE(IsUpstreamOf(sink.Get(), device->OutputFilter()));
    EXPECT_FALSE(IsUpstreamOf(notifier, sink.Get()));
    EXPECT_FALSE(IsUpstreamOf(sink.Get(), sink.Get()));

    EXPECT_FALSE(RemoveFiltersBetween(notifier, sink.Get(), Graph()));
    EXPECT_EQ(Names(), before);

    EXPECT_TRUE(RemoveFiltersBetween(sink.Get(), notifier, Graph()));
    EXPECT_EQ(Names(), (NameSet{kLav, kVideoNotifier, L"Sink"}));
    EXPECT_FALSE(Connected(filtertest::Pin(sink.Get(), 0)));
    EXPECT_FALSE(Connected(filtertest::Pin(notifier, 1)));
    EXPECT_TRUE(Connected(filtertest::Pin(notifier, 0)));

    EXPECT_TRUE(video->Detach());
    EXPECT_EQ(Names(), NameSet{L"Sink"});
}

TEST_F(DeviceTest, AFailedAttachLeavesNothingBehind)
{
    const QString file = Make("clip.mkv");
    TFileDevice *device = factory.GetDevice(file);
    ASSERT_TRUE(device && device->Valid());
    TVideoSource *video = device->VideoSources()[0];

    // The file went after probing: the source filter cannot load it.
    const QString aside = file + ".aside";
    ASSERT_TRUE(QFile::rename(file, aside));
    EXPECT_FALSE(video->Attach(manager.get(), 0));
    EXPECT_TRUE(Names().empty());
    EXPECT_TRUE(manager->VideoSources.isEmpty());
    EXPECT_EQ(video->GrapheMan(), nullptr);
    EXPECT_EQ(device->GrapheMan(), nullptr);

    // Back again, it attaches; a second manager cannot take the same device.
    ASSERT_TRUE(QFile::rename(aside, file));
    ASSERT_TRUE(video->Attach(manager.get(), 0));
    std::unique_ptr<TGrapheMan> other(TKWActionComponent::New<TGrapheMan>());
    TAudioSource *audio = device->AudioSources()[0];
    EXPECT_FALSE(audio->Attach(other.get(), 0));
    EXPECT_TRUE(FilterNames(other->GraphBuilder.Get()).empty());
    EXPECT_TRUE(other->AudioSources.isEmpty());
    EXPECT_EQ(Names(), (NameSet{kLav, kVideoNotifier}));
    EXPECT_TRUE(video->Detach());
}

TEST_F(DeviceTest, DevicesFreedWhileAttachedLeaveTheGraphAndTheLists)
{
    {
        TMediaFactory scoped;
        scoped.SetGrapheMan(manager.get());
        TFileDevice *device = scoped.GetDevice(Make("clip.ts"));
        ASSERT_TRUE(device && device->Valid());
        ASSERT_TRUE(device->VideoSources()[0]->Attach(manager.get(), 0));
        ASSERT_TRUE(device->AudioSources()[0]->Attach(manager.get(), 0));
        EXPECT_EQ(Names().size(), 3u);
    }
    EXPECT_TRUE(manager->VideoSources.isEmpty());
    EXPECT_TRUE(manager->AudioSources.isEmpty());
    EXPECT_TRUE(Names().empty());

    // A manager that goes first leaves the device detached, not dangling.
    TFileDevice *device = factory.GetDevice(Make("clip.avi"));
    ASSERT_TRUE(device->VideoSources()[0]->Attach(manager.get(), 0));
    factory.SetGrapheMan(nullptr);
    manager.reset();
    EXPECT_EQ(device->GrapheMan(), nullptr);
    EXPECT_EQ(device->VideoSources()[0]->GrapheMan(), nullptr);
}

TEST_F(DeviceTest, AStreamPinIsAStreamDeviceWithoutSources)
{
    TFileDevice device(Make("clip.mpg"), nullptr, factory.FileSourceRec());
    ASSERT_TRUE(device.Valid());
    ASSERT_EQ(device.StreamCount(), 1);
    EXPECT_EQ(device.VideoCount() + device.AudioCount() + device.DVCount(), 0);
    TMediaDevice *stream = device.StreamDevices()[0];
    EXPECT_TRUE(dynamic_cast<TStreamDevice *>(stream));
    EXPECT_FALSE(stream->Valid());
    EXPECT_EQ(stream->ParentDevice(), &device);
    EXPECT_EQ(stream->DisplayName(), "clip.mpg");
}

TEST_F(DeviceTest, WithoutADvSplitterTheParentsProbingFails)
{
    const QString file = Dv("holiday.avi", 1);
    UnregisterFilter(CLSID_DVSplitter);
    TFileDevice device(file, factory.AVISplitterRec(), factory.FileSourceRec());
    RegisterFFmpegFilters();
    EXPECT_FALSE(device.Valid());
    EXPECT_EQ(device.DVCount() + device.VideoCount() + device.AudioCount(), 0);
    EXPECT_EQ(device.VideoSources()[0], nullptr);
}

TEST(Placeholders, AreProgramWideAndNeverAttach)
{
    InitPlaceholders();
    TVideoSource *video = NoVideo();
    EXPECT_EQ(video, NoVideo());
    EXPECT_EQ(video->Name(), "No Video");
    EXPECT_EQ(NoAudio()->Name(), "No Audio");
    EXPECT_EQ(NoDV()->Name(), "No DV");
    EXPECT_EQ(NoStream()->Name(), "No Stream");
    for (TGraphChunk *chunk : std::initializer_list<TGraphChunk *>{video, NoAudio(), NoDV(), NoStream()}) {
        EXPECT_EQ(chunk->Number(), 1);
        EXPECT_EQ(chunk->ParentDevice(), nullptr);
        EXPECT_FALSE(chunk->Valid());
    }
    EXPECT_EQ(NoDV()->DeviceNotifier(), nullptr);
    EXPECT_FALSE(NoDV()->HasSplitter());
    ASSERT_TRUE(video->SourceNotifierObj());
    video->SourceNotifierObj()->Reset();  // the video manager resets whatever source it holds

    std::unique_ptr<TGrapheMan> manager(TKWActionComponent::New<TGrapheMan>());
    EXPECT_FALSE(video->Attach(manager.get(), 0));
    EXPECT_FALSE(NoAudio()->Attach(manager.get(), 0));
    EXPECT_TRUE(manager->VideoSources.isEmpty());
    EXPECT_EQ(RootDevice(video), nullptr);
    EXPECT_EQ(RootDevice(NoDV()), NoDV());
}

} // namespace
