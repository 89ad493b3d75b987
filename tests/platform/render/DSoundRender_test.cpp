// The audio renderer: the clock it gives the graph follows what was
// played, with a device and with the silent sink; volume scales the
// samples; end of stream reaches the graph.
#include "RenderTestKit.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/render/DSoundRender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

using namespace rendertest;
using namespace std::chrono_literals;

namespace {

constexpr DWORD kRate = 8000;  // mono 16-bit: 16000 bytes a second
constexpr REFERENCE_TIME kTenth = 1000000;

std::vector<BYTE> Tone(size_t frames, int16_t value)
{
    std::vector<BYTE> bytes(frames * 2);
    for (size_t i = 0; i < frames; ++i)
        std::memcpy(&bytes[i * 2], &value, 2);
    return bytes;
}

// A device the test plays by hand: nothing is consumed until Play.
class ManualOutput : public AudioOutput {
public:
    std::vector<BYTE> Play(size_t bytes)
    {
        std::vector<BYTE> out(bytes);
        Consume(out.data(), bytes);
        return out;
    }

protected:
    bool OpenDevice(const WAVEFORMATEX &) override { return true; }
    void CloseDevice() override {}
    void RunDevice(bool) override {}
};

// A manual device that tells when it is paused.
class PauseWatchingOutput : public ManualOutput {
public:
    std::function<void()> onPause;

protected:
    void RunDevice(bool running) override
    {
        if (!running && onPause)
            onPause();
    }
};

// Source -> audio renderer, both running with no clock, fed from a thread.
struct AudioRig {
    explicit AudioRig(std::shared_ptr<AudioOutput> output)
        : renderer(MakeCom<CDSoundRender>(std::move(output))),
          source(MakeCom<PushSource>(PcmType(kRate, 1), 1600))
    {
        EXPECT_EQ(source->pin.Connect(renderer->InputPin(), nullptr), S_OK);
    }
    void Run()
    {
        renderer->Pause();
        source->Pause();
        renderer->Run(0);
        source->Run(0);
    }
    ~AudioRig()
    {
        renderer->Stop();
        source->Stop();
        if (feeder.joinable())
            feeder.join();
        source->pin.Disconnect();  // connected pins hold each other's filters
        renderer->InputPin()->Disconnect();
    }
    // `tenths` samples of 0.1 s each, on the feeder thread.
    void Feed(int tenths, int16_t value = 1000)
    {
        feeder = std::thread([this, tenths, value] {
            for (int i = 0; i < tenths; ++i)
                source->Push(Tone(kRate / 10, value), i * kTenth, (i + 1) * kTenth);
        });
    }
    ComPtr<CDSoundRender> renderer;
    ComPtr<PushSource> source;
    std::thread feeder;
};

REFERENCE_TIME ClockTime(IBaseFilter *renderer)
{
    ComPtr<IReferenceClock> clock = ComQuery<IReferenceClock>(renderer);
    REFERENCE_TIME t = 0;
    clock->GetTime(&t);
    return t;
}

bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(DSoundRender, AcceptsSixteenBitPcmOnly)
{
    ComPtr<CDSoundRender> r = MakeCom<CDSoundRender>(std::make_shared<AudioOutput>(false));
    const auto accepts = [&](const CMediaType &mt) { return r->CheckMediaType(&mt) == S_OK; };
    EXPECT_TRUE(accepts(PcmType(44100, 2)));
    EXPECT_TRUE(accepts(PcmType(8000, 1)));
    EXPECT_FALSE(accepts(PcmType(44100, 2, 8)));
    EXPECT_FALSE(accepts(PcmType(44100, 0)));
    EXPECT_FALSE(accepts(VideoType(MEDIASUBTYPE_RGB32, 4, 4, 32)));
    EXPECT_FALSE(accepts(CMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx)));
}

// The clock moves by exactly what the device took while sound flows, and
// by the system clock when the queue is empty.
TEST(DSoundRender, ClockFollowsWhatTheDevicePlayed)
{
    auto output = std::make_shared<ManualOutput>();
    AudioRig rig(output);
    rig.Run();
    rig.Feed(10);  // 1 s
    ASSERT_TRUE(WaitFor([&] { return output->QueuedTime() >= CDSoundRender::kLead; }));
    ASSERT_TRUE(output->IsFlowing());
    const REFERENCE_TIME t0 = ClockTime(rig.renderer.Get());
    std::this_thread::sleep_for(30ms);  // no sound played: the clock holds
    EXPECT_EQ(ClockTime(rig.renderer.Get()), t0);
    for (int i = 1; i <= 10; ++i) {
        output->Play(kRate / 10 * 2);
        if (i < 10) {
            EXPECT_EQ(ClockTime(rig.renderer.Get()), t0 + i * kTenth) << i;
        }
        if (i < 9) {  // the feeder waits for room, then tops the queue up
            ASSERT_TRUE(WaitFor([&] { return output->QueuedTime() >= 2 * kTenth; })) << i;
        }
    }
    rig.feeder.join();
    EXPECT_EQ(output->PlayedTime(), 10 * kTenth);
    EXPECT_FALSE(output->IsFlowing());
    const REFERENCE_TIME t1 = ClockTime(rig.renderer.Get());
    EXPECT_GE(t1, t0 + 9 * kTenth);
    std::this_thread::sleep_for(20ms);  // nothing to play: system time
    EXPECT_GE(ClockTime(rig.renderer.Get()) - t1, 150000);
}

// No device: the silent sink takes the sound away at the rate a device
// would, and the clock keeps up with it.
TEST(DSoundRender, SilentSinkPlaysInRealTime)
{
    auto output = std::make_shared<AudioOutput>(false);
    AudioRig rig(output);
    rig.Run();
    EXPECT_FALSE(output->UsesDevice());
    const auto start = std::chrono::steady_clock::now();
    const REFERENCE_TIME t0 = ClockTime(rig.renderer.Get());
    rig.Feed(4);
    ASSERT_TRUE(WaitFor([&] { return output->PlayedTime() >= 4 * kTenth; }));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 390ms);
    EXPECT_GE(ClockTime(rig.renderer.Get()) - t0, 3 * kTenth);
    EXPECT_EQ(output->QueuedTime(), 0);
}

TEST(DSoundRender, VolumeScalesTheSamples)
{
    auto output = std::make_shared<ManualOutput>();
    AudioRig rig(output);
    EXPECT_EQ(rig.renderer->put_Volume(1), E_INVALIDARG);
    EXPECT_EQ(rig.renderer->put_Volume(-10001), E_INVALIDARG);
    ASSERT_EQ(rig.renderer->put_Volume(-2000), S_OK);  // -20 dB: a tenth
    LONG v = 0;
    rig.renderer->get_Volume(&v);
    EXPECT_EQ(v, -2000);
    rig.Run();
    rig.Feed(1, 10000);
    ASSERT_TRUE(WaitFor([&] { return output->QueuedTime() == kTenth; }));
    const std::vector<BYTE> played = output->Play(4);
    int16_t first = 0;
    std::memcpy(&first, played.data(), 2);
    EXPECT_EQ(first, 1000);

    int16_t loud[4] = {32767, -32768, 100, -100};
    CDSoundRender::ApplyGain(loud, 4, 1, 0, 0);
    EXPECT_EQ(loud[0], 32767);  // 0 dB leaves them alone
    CDSoundRender::ApplyGain(loud, 4, 1, -600, 0);  // -6 dB: about half
    EXPECT_EQ(loud[0], 16422);
    EXPECT_EQ(loud[3], -50);
    CDSoundRender::ApplyGain(loud, 4, 1, -10000, 0);
    EXPECT_EQ(loud[0], 0);
    int16_t stereo[2] = {1000, 1000};
    CDSoundRender::ApplyGain(stereo, 2, 2, 0, 2000);  // to the right: left down 20 dB
    EXPECT_EQ(stereo[0], 100);
    EXPECT_EQ(stereo[1], 1000);
}

// The sample that completes a pause goes to the device at Run, once.
TEST(DSoundRender, PausedSampleIsWrittenOnceAtRun)
{
    auto output = std::make_shared<ManualOutput>();
    AudioRig rig(output);
    rig.renderer->Pause();
    rig.source->Pause();
    rig.Feed(1);
    FILTER_STATE state;
    EXPECT_EQ(rig.renderer->GetState(5000, &state), S_OK);  // cued
    EXPECT_EQ(output->QueuedTime(), 0);
    rig.renderer->Run(0);
    rig.source->Run(0);
    rig.feeder.join();
    EXPECT_EQ(output->QueuedTime(), kTenth);
}

// A run that resumes ahead of the sound (pictures swallowed on the way to a
// target) leaves the sound before it behind rather than play it late for good.
TEST(DSoundRender, SoundWhollyBehindARunningClockIsLeftOut)
{
    auto output = std::make_shared<ManualOutput>();
    AudioRig rig(output);
    ComPtr<IReferenceClock> clock = ComQuery<IReferenceClock>(rig.renderer);
    rig.renderer->SetSyncSource(clock.Get());
    rig.renderer->Pause();
    rig.source->Pause();
    const REFERENCE_TIME tStart = ClockTime(rig.renderer.Get()) - 10 * kTenth;  // stream time 1 s
    rig.renderer->Run(tStart);
    rig.source->Run(tStart);
    rig.Feed(2);  // 0 to 0.2 s: all of it long past
    rig.feeder.join();
    EXPECT_EQ(output->QueuedTime(), 0);
    rig.source->Push(Tone(kRate / 10, 1), 10 * kTenth, 11 * kTenth);  // now
    EXPECT_EQ(output->QueuedTime(), kTenth);
    rig.renderer->SetSyncSource(nullptr);
}

// A pause that comes while the streaming thread has the renderer's lock but
// has not started waiting for room yet: the thread must not wait for a queue
// that the paused device no longer plays, or the pause never gets the lock.
TEST(DSoundRender, PauseAsTheStreamingThreadStartsWaitingForRoom)
{
    auto output = std::make_shared<PauseWatchingOutput>();
    AudioRig rig(output);
    rig.Run();
    rig.Feed(3);  // more than kLead queued: the next sample waits for room
    rig.feeder.join();
    ASSERT_EQ(output->QueuedTime(), 3 * kTenth);
    std::promise<void> go;
    std::thread late([&] {
        go.get_future().wait();
        rig.source->Push(Tone(kRate / 10, 1), 3 * kTenth, 4 * kTenth);
    });
    // Inside Pause, before it takes the renderer's locks: the sample goes in
    // and the thread reaches its wait.
    output->onPause = [&] {
        go.set_value();
        std::this_thread::sleep_for(100ms);
    };
    auto paused = std::async(std::launch::async, [&] { return rig.renderer->Pause(); });
    const bool returned = paused.wait_for(3s) == std::future_status::ready;
    if (!returned)
        output->Play(size_t(kRate) * 2);  // lets the stuck thread go, so the test can end
    EXPECT_TRUE(returned) << "Pause waited for the streaming thread";
    EXPECT_TRUE(SUCCEEDED(paused.get()));
    late.join();
    output->onPause = nullptr;
}

// In a graph the renderer is the clock, and its end of stream completes it.
TEST(DSoundRender, GraphUsesItsClockAndCompletes)
{
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.ReleaseAndGetVoidAddress()),
              S_OK);
    auto output = std::make_shared<AudioOutput>(false);
    auto renderer = MakeCom<CDSoundRender>(output);
    auto source = MakeCom<PushSource>(PcmType(kRate, 1), 1600);
    ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.Get(), L"Audio"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(&source->pin, renderer->InputPin(), nullptr), S_OK);
    auto control = ComQuery<IMediaControl>(graph);
    control->Run();
    ComPtr<IReferenceClock> used;
    ComQuery<IMediaFilter>(graph)->GetSyncSource(used.ReleaseAndGetAddressOf());
    EXPECT_TRUE(IsEqualObject(used.Get(), ComQuery<IReferenceClock>(renderer.Get()).Get()));

    std::thread feeder([&] {
        for (int i = 0; i < 3; ++i)
            source->Push(Tone(kRate / 10, 1), i * kTenth, (i + 1) * kTenth);
        source->pin.DeliverEndOfStream();
    });
    LONG code = 0;
    EXPECT_EQ(ComQuery<IMediaEvent>(graph)->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(output->PlayedTime(), 3 * kTenth);  // complete once heard, not when handed over
    feeder.join();
    control->Stop();
}

// SDL's own drivers: the dummy device plays (and times) like a real one;
// a driver that cannot open falls back to the silent sink.
TEST(AudioOutput, SdlDummyDeviceAndFallback)
{
    WAVEFORMATEX wfx = *PcmType(kRate, 1).FormatAs<WAVEFORMATEX>();
    const char *previous = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = previous ? previous : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    {
        AudioOutput output;
        ASSERT_TRUE(output.Open(wfx));
        EXPECT_FALSE(output.UsesDevice());
        output.Close();
    }
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    {
        AudioOutput output;
        ASSERT_TRUE(output.Open(wfx));
        if (output.UsesDevice()) {
            const std::vector<BYTE> sound = Tone(kRate / 5, 5);
            output.Write(sound.data(), sound.size());
            output.SetRunning(true);
            EXPECT_TRUE(WaitFor([&] { return output.PlayedTime() >= 2 * kTenth; }));
        }
        output.Close();
    }
    if (previous)
        setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
}

} // namespace
