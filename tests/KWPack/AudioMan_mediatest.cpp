// The audio manager on generated clips: the first audio source connected
// through the remembered or default decoder to its renderer and out again,
// the next decoder keeping the graph's state, the format report, and the
// volume and mute as the graph and the bound controls see them.
#include "KWPack/uAudioMan.h"

#include "MediaDevicesKit.h"

#include "KWPack/uDVMan.h"
#include "KWPack/uNotifier.h"
#include "KWPack/uPreferences.h"
#include "common/TestSupport.h"
#include "platform/dshow/Enumerate.h"
#include "platform/render/RenderFilters.h"

#include <QLabel>
#include <QProgressBar>
#include <QSlider>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using namespace devicetest;

class AudioManTest : public DeviceTest {
protected:
    static void SetUpTestSuite()
    {
        setenv("VIDSTILL_AUDIO", "silent", 1);  // the clock-keeping sink, no sound device
        DeviceTest::SetUpTestSuite();
        RegisterRenderFilters();
    }

    void SetUp() override
    {
        DeviceTest::SetUp();
        AudioDecoderList().Clear();
        audman.reset(TKWActionComponent::New<TAudioMan>());
        audman->OnNotifyAudioDecoder = [this](const QString &s) { decoders << s; };
        audman->OnNotifyAudioFormat = [this](const QString &s) { formats << s; };
        audman->OnStatus = [this](TAudioStatus s) { statuses.push_back(s); };
    }
    void TearDown() override
    {
        audman.reset();
        AudioDecoderList().Clear();
    }

    TAudioSource *FirstAudio(const QString &name)
    {
        TFileDevice *device = factory.GetDevice(Make(name));
        return device && device->AudioCount() > 0 ? device->AudioSources()[0] : nullptr;
    }
    LONG RendererDecibels()
    {
        LONG db = 1;
        auto audio = ComQuery<IBasicAudio>(audman->AudioRenderer);
        return audio && SUCCEEDED(audio->get_Volume(&db)) ? db : 1;
    }
    // No filter of the graph is left without a connection.
    bool EveryFilterConnected()
    {
        ComPtr<IEnumFilters> e;
        Graph()->EnumFilters(e.ReleaseAndGetAddressOf());
        ComPtr<IBaseFilter> f;
        while (e->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            bool any = false;
            for (const auto &pin : dshow::PinsOf(f.Get()))
                any = any || dshow::PeerOf(pin.Get());
            if (!any)
                return false;
        }
        return true;
    }

    std::unique_ptr<TAudioMan> audman;
    QStringList decoders, formats;
    std::vector<TAudioStatus> statuses;
};

TEST_F(AudioManTest, ConnectsThroughADecoderRemembersItAndLeavesCleanly)
{
    TAudioSource *audio = FirstAudio("clip.mp4");
    ASSERT_TRUE(audio);
    ASSERT_TRUE(audman->ConnectAudio(audio));
    EXPECT_TRUE(audman->AudioConnected);
    EXPECT_EQ(audman->Status(), asAudioOn);
    ASSERT_TRUE(audman->DecoderFilter);
    EXPECT_NE(audman->DecoderClsid, GUID_NULL);
    EXPECT_EQ(audman->PathStart.Get(), audio->SourceNotifierFilter());
    const TFilterRec *remembered = AudioDecoderList().GetDecoder(audio->StreamType());
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->Clsid(), audman->DecoderClsid);
    ASSERT_EQ(decoders.size(), 1);
    EXPECT_EQ(decoders[0], remembered->Name());
    EXPECT_TRUE(Names().count(L"KW Audio Renderer"));
    EXPECT_TRUE(EveryFilterConnected());
    // The volume reached the graph: 5000 on the linear scale.
    EXPECT_EQ(RendererDecibels(), LinearVolumeToDecibels(5000));
    // The resampler stands ready, outside the graph.
    EXPECT_TRUE(audman->Resampler->Resampling());
    EXPECT_EQ(audman->Resampler->OutputRate(), 44100);
    EXPECT_FALSE(Names().count(L"Vostrel's Resampler"));

    const auto filters = Names();
    EXPECT_TRUE(audman->ConnectAudio(audio)) << "the same source again";
    EXPECT_EQ(Names(), filters);

    EXPECT_EQ(audman->DisconnectAudio(), 1);
    EXPECT_TRUE(Names().empty());
    EXPECT_FALSE(audman->AudioConnected);
    EXPECT_EQ(audman->Source, NoAudio());
    EXPECT_EQ(audman->Status(), asNoAudio);
    EXPECT_EQ(decoders.last(), "No Audio decoder");
    EXPECT_EQ(formats.last(), "No Audio");
}

TEST_F(AudioManTest, PcmGoesStraightToTheRendererAndItsFormatIsReported)
{
    TAudioSource *audio = FirstAudio("clip.wav");
    ASSERT_TRUE(audio);
    ASSERT_TRUE(audman->ConnectAudio(audio));
    EXPECT_EQ(audman->DecoderClsid, GUID_NULL);
    EXPECT_EQ(decoders.value(0), "No audio decoder");
    EXPECT_EQ(audio->SourceNotifierObj()->KindCode, TAudioMan::kSourceNotifierKind);
    // The first sample through the notifier reports the format.
    ASSERT_TRUE(manager->Pause());
    for (int i = 0; i < 500 && formats.isEmpty(); ++i) {
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(formats.isEmpty());
    EXPECT_TRUE(formats[0].startsWith("PCM ")) << formats[0].toStdString();
    EXPECT_TRUE(formats[0].contains("Hz")) << formats[0].toStdString();
    manager->Stop();
    EXPECT_EQ(audman->DisconnectAudio(), 1);
    EXPECT_TRUE(Names().empty());
}

TEST_F(AudioManTest, TheRememberedDecoderComesBeforeTheDefault)
{
    TAudioSource *audio = FirstAudio("clip.mkv");
    ASSERT_TRUE(audio);
    ASSERT_TRUE(audman->ConnectAudio(audio));
    const CLSID decoder = audman->DecoderClsid;
    audman->DisconnectAudio();

    // A default nothing can create is not used while a choice is remembered...
    CountingRec broken(CLSID_Unregistered, "Nowhere");
    audman->SetDefaultAudioDecoder(&broken);
    ASSERT_TRUE(audman->ConnectAudio(audio));
    EXPECT_EQ(broken.created, 0);
    EXPECT_EQ(audman->DecoderClsid, decoder);
    audman->DisconnectAudio();

    // ...and is asked for once nothing is remembered; the graph then finds one.
    AudioDecoderList().Clear();
    ASSERT_TRUE(audman->ConnectAudio(audio));
    EXPECT_EQ(broken.created, 1);
    EXPECT_TRUE(EveryFilterConnected());
    audman->DisconnectAudio();
    EXPECT_TRUE(Names().empty());
}

TEST_F(AudioManTest, NextDecoderKeepsThePausedGraphPaused)
{
    TAudioSource *audio = FirstAudio("clip.mp4");
    ASSERT_TRUE(audio);
    ASSERT_TRUE(audman->ConnectAudio(audio));
    ASSERT_TRUE(manager->Pause());
    manager->WaitForStableState();
    // The only audio decoder is tried, refused, and taken again on the
    // second attempt, which starts with an empty tried list.
    EXPECT_TRUE(audman->NextAudioDecoder());
    EXPECT_TRUE(audman->AudioConnected);
    EXPECT_EQ(manager->FilterGraph()->State(), gsPaused);
    EXPECT_TRUE(EveryFilterConnected());
    manager->Stop();
    audman->DisconnectAudio();
    EXPECT_TRUE(Names().empty());
}

TEST_F(AudioManTest, NoSourceOrAPlaceholderIsNoAudio)
{
    EXPECT_FALSE(audman->ConnectAudio(nullptr));
    EXPECT_FALSE(audman->ConnectAudio(NoAudio()));
    EXPECT_EQ(audman->Status(), asNoAudio);
    EXPECT_FALSE(audman->NextAudioDecoder());
    EXPECT_EQ(audman->DisconnectAudio(), 0);
}

TEST_F(AudioManTest, VolumeIsClampedAndMutingKeepsIt)
{
    QProgressBar gauge;
    QSlider slider;
    audman->SetAudioGauge(&gauge);
    audman->SetAudioSlider(&slider);
    std::vector<int> applied;
    audman->OnVolume = [&](int v) { applied.push_back(v); };
    audman->SetVolume(12000);
    EXPECT_EQ(audman->Volume, 10000);
    audman->SetVolume(-5);
    EXPECT_EQ(audman->Volume, 0);
    EXPECT_EQ(applied, (std::vector<int>{10000, 0}));
    slider.setValue(7000);
    EXPECT_EQ(audman->Volume, 7000);
    EXPECT_EQ(gauge.value(), 7000);

    TAudioSource *audio = FirstAudio("clip.wav");
    ASSERT_TRUE(audio);
    ASSERT_TRUE(audman->ConnectAudio(audio));
    EXPECT_EQ(RendererDecibels(), LinearVolumeToDecibels(7000));
    audman->caMute->SetChecked(true);
    EXPECT_EQ(audman->Status(), asMuted);
    EXPECT_EQ(RendererDecibels(), -10000);
    EXPECT_EQ(audman->GetVolume(), 7000);
    EXPECT_EQ(gauge.value(), 7000);
    audman->caMute->SetChecked(false);
    EXPECT_EQ(audman->Status(), asAudioOn);
    EXPECT_EQ(RendererDecibels(), LinearVolumeToDecibels(7000));

    audman->SetVolume(9500);
    audman->naIncVolume->Execute();
    EXPECT_EQ(audman->Volume, 10000);
    EXPECT_EQ(audman->iaVolume->Value(), 10000);
    EXPECT_EQ(RendererDecibels(), 0);
    audman->naDecVolume->Execute();
    EXPECT_EQ(audman->iaVolume->Value(), 9000);
    audman->iaVolume->SetValue(2500);
    EXPECT_EQ(slider.value(), 2500);
    audman->DisconnectAudio();
}

TEST_F(AudioManTest, TheStatusPictureFollowsTheStatus)
{
    QLabel image;
    QList<QPixmap> pictures;
    for (int i = 0; i < 5; ++i)
        pictures << QPixmap(10 + i, 10);  // told apart by their widths
    audman->SetAudioImages(pictures);
    audman->SetAudioImage(&image);
    EXPECT_EQ(image.pixmap().width(), 10);  // asNoAudio: 0
    TAudioSource *audio = FirstAudio("clip.wav");
    ASSERT_TRUE(audio);
    ASSERT_TRUE(audman->ConnectAudio(audio));
    EXPECT_EQ(image.pixmap().width(), 14);  // asAudioOn: 4
    audman->SetMute(true);
    EXPECT_EQ(image.pixmap().width(), 13);  // asMuted: 3
    audman->DisconnectAudio();
    EXPECT_EQ(image.pixmap().width(), 10);
    EXPECT_EQ(statuses.back(), asNoAudio);
}

// A DV manager's empty date and time-code slots take the audio source; the
// disconnection empties them again.
TEST_F(AudioManTest, AnEmptyDVSlotTakesTheAudioSourceUntilItLeaves)
{
    std::unique_ptr<TDVMan> dv(TKWActionComponent::New<TDVMan>());
    TMediaFactory dvFactory;
    dvFactory.SetGrapheMan(dv.get());
    TFileDevice *device = dvFactory.GetDevice(Dv("dv.avi", 2));
    ASSERT_TRUE(device && device->AudioCount() > 0);
    TAudioSource *audio = device->AudioSources()[0];
    ASSERT_TRUE(audman->ConnectAudio(audio));
    EXPECT_EQ(dv->DateSource(), audio);
    EXPECT_EQ(dv->TimeCodeSource(), audio);
    EXPECT_EQ(dv->SceneSource(), nullptr);
    audman->DisconnectAudio();
    EXPECT_EQ(dv->DateSource(), nullptr);
    EXPECT_EQ(dv->TimeCodeSource(), nullptr);
    EXPECT_TRUE(FilterNames(dv->GraphBuilder.Get()).empty());
}

// The volume and mute go out as the action values, the remembered decoder in
// "AudioDecoders"; a fresh manager reading them back applies them.
TEST_F(AudioManTest, PreferencesKeepVolumeMuteAndTheRememberedDecoder)
{
    TempHive hive;
    QTemporaryDir exe;
    TVostrelPreferences gp{nullptr};
    gp.titre = "Vidstill";
    gp.ExeFolder = exe.path() + "/";
    gp.ExeName = exe.path() + "/Vidstill";
    gp.SetMode(spPortable);
    TAudioSource *audio = FirstAudio("clip.mp4");
    ASSERT_TRUE(audio && audman->ConnectAudio(audio));
    const CLSID decoder = audman->DecoderClsid;
    audman->SetVolume(3000);
    audman->caMute->SetChecked(true);
    audman->SavePrefs(&gp);
    EXPECT_EQ(gp.ReadInteger("Volume", -1), 3000);
    EXPECT_TRUE(gp.ReadBool("Mute", false));
    audman->DisconnectAudio();

    AudioDecoderList().Clear();
    std::unique_ptr<TAudioMan> fresh(TKWActionComponent::New<TAudioMan>());
    fresh->LoadPrefs(&gp);
    EXPECT_EQ(fresh->Volume, 3000);
    EXPECT_TRUE(fresh->Muted);
    const TFilterRec *remembered = AudioDecoderList().GetDecoder(audio->StreamType());
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->Clsid(), decoder);
}

} // namespace
