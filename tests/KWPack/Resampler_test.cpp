// The resampler between a push source and a sink that keeps the bytes: tones
// keep their frequency and amplitude through a rate change, ramps come out
// exactly where linear interpolation puts them whatever the sample
// boundaries, and what is not 16-bit PCM is refused.
#include "KWPack/uResampler.h"

#include "platform/dshow/GraphTestKit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>

using namespace graphtest;

namespace {

CMediaType PcmType(int rate, int channels, int bits = 16, WORD tag = WAVE_FORMAT_PCM)
{
    CMediaType mt(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    WAVEFORMATEX wf{};
    wf.wFormatTag = tag;
    wf.nChannels = WORD(channels);
    wf.nSamplesPerSec = DWORD(rate);
    wf.wBitsPerSample = WORD(bits);
    wf.nBlockAlign = WORD(channels * bits / 8);
    wf.nAvgBytesPerSec = DWORD(rate) * wf.nBlockAlign;
    mt.SetFormat(wf);
    mt.SetSampleSize(wf.nBlockAlign);
    return mt;
}

struct Delivered {
    REFERENCE_TIME start, stop;
    LONG bytes;
    bool discontinuity;
};

// Keeps every byte that arrives (or only counts them).
class ByteSink : public CBaseFilter {
public:
    class Pin : public CBaseInputPin {
    public:
        Pin(ByteSink *f, CCritSec *lock) : CBaseInputPin(f, lock, L"Bytes"), m_sink(f) {}
        HRESULT CheckMediaType(const CMediaType *) override { return S_OK; }
        HRESULT Receive(IMediaSample *s) override
        {
            const HRESULT hr = CBaseInputPin::Receive(s);
            if (hr != S_OK)
                return hr;
            BYTE *p = nullptr;
            s->GetPointer(&p);
            Delivered d{-1, -1, s->GetActualDataLength(), s->IsDiscontinuity() == S_OK};
            if (FAILED(s->GetTime(&d.start, &d.stop)))
                d.start = d.stop = -1;
            std::lock_guard lock(m_sink->dataLock);
            m_sink->samples.push_back(d);
            m_sink->byteCount += d.bytes;
            if (m_sink->keep)
                m_sink->bytes.insert(m_sink->bytes.end(), p, p + d.bytes);
            return S_OK;
        }

    private:
        ByteSink *m_sink;
    };
    ByteSink() : CBaseFilter(L"Byte Sink", &m_lock, CLSID_HarnessEnds), pin(this, &m_lock) {}
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }

    CCritSec m_lock;
    Pin pin;
    std::mutex dataLock;
    bool keep = true;
    std::vector<BYTE> bytes;
    std::vector<Delivered> samples;
    int64_t byteCount = 0;
};

// Source pin -> resampler -> byte sink; the resampler is set up first, as
// the audio manager does before connecting.
class PcmHarness {
public:
    PcmHarness(TResampler *filter, CMediaType type, LONG bufferSize = 4096)
        : m_filter(filter), m_source(MakeCom<HarnessSource>()), m_sink(MakeCom<ByteSink>())
    {
        m_source->pin.type = std::move(type);
        m_source->pin.bufferSize = bufferSize;
        inputConnected = SUCCEEDED(m_source->pin.Connect(filter->InputPin(), nullptr));
        connected = inputConnected && SUCCEEDED(filter->OutputPin()->Connect(&m_sink->pin, nullptr));
    }
    ~PcmHarness()
    {
        Stop();
        m_filter->InputPin()->Disconnect();
        m_filter->OutputPin()->Disconnect();
        m_source->pin.Disconnect();
        m_sink->pin.Disconnect();
    }
    HRESULT Pause()
    {
        m_sink->Pause();
        const HRESULT hr = m_filter->Pause();
        m_source->Pause();
        return hr;
    }
    void Stop()
    {
        m_sink->Stop();
        m_filter->Stop();
        m_source->Stop();
    }
    // One sample of raw bytes at [t0, t1); `type` travels with it when set.
    HRESULT PushRaw(const BYTE *data, size_t length, REFERENCE_TIME t0, REFERENCE_TIME t1,
                    const CMediaType *type = nullptr)
    {
        ComPtr<IMediaSample> s;
        HRESULT hr = m_source->pin.GetDeliveryBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        if (LONG(length) > s->GetSize())
            return E_INVALIDARG;
        BYTE *p = nullptr;
        s->GetPointer(&p);
        if (length)
            std::memcpy(p, data, length);
        s->SetActualDataLength(LONG(length));
        s->SetTime(&t0, &t1);
        s->SetSyncPoint(TRUE);
        if (type)
            s->SetMediaType(const_cast<CMediaType *>(type));
        return m_source->pin.Deliver(s.Get());
    }
    HRESULT Push(const std::vector<int16_t> &values, REFERENCE_TIME t0 = 0, REFERENCE_TIME t1 = 1,
                 const CMediaType *type = nullptr)
    {
        return PushRaw(reinterpret_cast<const BYTE *>(values.data()), values.size() * 2, t0, t1, type);
    }
    void BeginFlush() { m_source->pin.DeliverBeginFlush(); }
    void EndFlush() { m_source->pin.DeliverEndFlush(); }

    std::vector<int16_t> Values()
    {
        std::lock_guard lock(m_sink->dataLock);
        std::vector<int16_t> out(m_sink->bytes.size() / 2);
        if (!out.empty())
            std::memcpy(out.data(), m_sink->bytes.data(), out.size() * 2);
        return out;
    }
    std::vector<Delivered> Samples()
    {
        std::lock_guard lock(m_sink->dataLock);
        return m_sink->samples;
    }
    ByteSink &Sink() { return *m_sink; }

    bool inputConnected = false;
    bool connected = false;

private:
    TResampler *m_filter;
    ComPtr<HarnessSource> m_source;
    ComPtr<ByteSink> m_sink;
};

ComPtr<TResampler> MakeResampler(bool on, int rate = 44100, int channels = 2)
{
    auto r = MakeCom<TResampler>();
    EXPECT_EQ(r->SetResampling(on), S_OK);
    EXPECT_EQ(r->SetOutputRate(rate), S_OK);
    EXPECT_EQ(r->SetOutputChannels(channels), S_OK);
    return r;
}

// A sine per channel, continuous across the chunks it is cut into.
struct Tone {
    int rate;
    int channels;
    double amplitude = 10000;
    double freq[2] = {1000, 1500};
    int64_t next = 0;

    double At(int channel, double seconds) const
    {
        return amplitude * std::sin(2 * std::numbers::pi * freq[channel] * seconds);
    }
    std::vector<int16_t> Take(int frames)
    {
        std::vector<int16_t> out;
        for (int i = 0; i < frames; ++i, ++next)
            for (int c = 0; c < channels; ++c)
                out.push_back(int16_t(std::lround(At(c, double(next) / rate))));
        return out;
    }
};

// Chunk sizes (frames) that put the sample boundaries everywhere: single
// frames, empty samples, odd lengths.
constexpr int kChunks[] = {441, 1, 1000, 7, 0, 256, 2, 913};

std::vector<double> Channel(const std::vector<int16_t> &v, int channels, int c)
{
    std::vector<double> out;
    for (size_t i = size_t(c); i < v.size(); i += size_t(channels))
        out.push_back(v[i]);
    return out;
}

// Frequency from the rising zero crossings, placed between samples.
double MeasureFrequency(const std::vector<double> &x, int rate)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < x.size(); ++i)
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = double(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    return crossings < 2 ? 0 : (crossings - 1) * rate / (last - first);
}

double MeasureAmplitude(const std::vector<double> &x)
{
    double sum = 0;
    for (double v : x)
        sum += v * v;
    return std::sqrt(2 * sum / double(x.size()));
}

struct ToneCase {
    int inRate, inChannels, outChannels;
};

class ResamplerTone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(ResamplerTone, KeepsFrequencyAndAmplitudeAcrossSampleBoundaries)
{
    const ToneCase tc = GetParam();
    auto r = MakeResampler(true, 44100, tc.outChannels);
    PcmHarness h(r.Get(), PcmType(tc.inRate, tc.inChannels));
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    Tone tone{tc.inRate, tc.inChannels};
    const int total = tc.inRate * 2;  // two seconds
    for (int i = 0; tone.next < total; ++i)
        ASSERT_EQ(h.Push(tone.Take(std::min<int>(kChunks[i % 8], int(total - tone.next)))), S_OK);

    const auto out = h.Values();
    const int64_t frames = int64_t(out.size()) / tc.outChannels;
    EXPECT_NEAR(double(frames), total * 44100.0 / tc.inRate, 2.0);
    EXPECT_EQ(r->FramesOut(), frames);
    EXPECT_EQ(r->FramesIn(), total);

    // Output frame n lies at n / 44100 s. Linear interpolation misses a sine
    // by at most amplitude * (2 pi f / input rate)^2 / 8, plus rounding; a
    // frame lost or doubled at a boundary shifts the phase by far more.
    const double step = 2 * std::numbers::pi * 1500 / tc.inRate;
    const double bound = tone.amplitude * step * step / 8 + 2;
    for (int c = 0; c < tc.outChannels; ++c) {
        const auto x = Channel(out, tc.outChannels, c);
        double worst = 0;
        for (size_t n = 0; n < x.size(); ++n) {
            const double t = double(n) / 44100;
            double ideal = tone.At(0, t);
            if (tc.inChannels == 2 && tc.outChannels == 2)
                ideal = tone.At(c, t);
            else if (tc.inChannels == 2)
                ideal = (tone.At(0, t) + tone.At(1, t)) / 2;
            worst = std::max(worst, std::abs(x[n] - ideal));
        }
        EXPECT_LT(worst, bound) << "channel " << c;
        if (tc.inChannels == 1 || tc.outChannels == 2) {
            const double f = (tc.inChannels == 2 && c == 1) ? 1500 : 1000;
            EXPECT_NEAR(MeasureFrequency(x, 44100), f, 0.05) << "channel " << c;
            EXPECT_NEAR(MeasureAmplitude(x), tone.amplitude, tone.amplitude * 0.01) << "channel " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerTone,
                         ::testing::Values(ToneCase{48000, 2, 2}, ToneCase{48000, 1, 2},
                                           ToneCase{32000, 2, 2}, ToneCase{32000, 1, 2},
                                           ToneCase{48000, 2, 1}, ToneCase{32000, 1, 1}),
                         [](const auto &info) {
                             return std::to_string(info.param.inRate) + "Hz_" + std::to_string(info.param.inChannels)
                                 + "to" + std::to_string(info.param.outChannels);
                         });

// A ramp is interpolated exactly: output frame n is input position
// n * in / out, rounded, whichever samples the two frames came from.
TEST(Resampler, RampLandsExactlyWhereverTheSamplesAreCut)
{
    for (int inRate : {48000, 32000, 22050}) {
        auto r = MakeResampler(true);
        PcmHarness h(r.Get(), PcmType(inRate, 2));
        ASSERT_TRUE(h.connected);
        ASSERT_EQ(h.Pause(), S_OK);
        const int total = 30000;
        for (int k = 0, i = 0; k < total; ++i) {
            const int n = std::min(kChunks[i % 8], total - k);
            std::vector<int16_t> chunk;
            for (int j = 0; j < n; ++j, ++k) {
                chunk.push_back(int16_t(k));
                chunk.push_back(int16_t(-k));
            }
            ASSERT_EQ(h.Push(chunk), S_OK);
        }
        const auto out = h.Values();
        ASSERT_GT(out.size(), 2u * (total - 1) * 44100 / inRate - 4) << inRate;
        for (size_t n = 0; n < out.size() / 2; ++n) {
            const double at = double(n) * inRate / 44100;
            ASSERT_EQ(out[2 * n], int(std::lround(at))) << inRate << " Hz, frame " << n;
            ASSERT_EQ(out[2 * n + 1], -int(std::lround(at))) << inRate << " Hz, frame " << n;
        }
    }
}

TEST(Resampler, HalfRateMonoGivesEachSampleAndTheMidpointInBothChannels)
{
    auto r = MakeResampler(true);
    PcmHarness h(r.Get(), PcmType(22050, 1));
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    ASSERT_EQ(h.Push({0, 100}), S_OK);
    ASSERT_EQ(h.Push({-200, 301}), S_OK);  // the pair 100, -200 straddles two samples
    EXPECT_EQ(h.Values(), (std::vector<int16_t>{0, 0, 50, 50, 100, 100, -50, -50, -200, -200, 51, 51}));
}

TEST(Resampler, OffCopiesEveryByteWithItsTimesAndFlags)
{
    auto r = MakeResampler(false);
    PcmHarness h(r.Get(), PcmType(48000, 2));
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    Tone tone{48000, 2};
    const auto a = tone.Take(100), b = tone.Take(3);
    ASSERT_EQ(h.Push(a, 1000, 2000), S_OK);
    ASSERT_EQ(h.Push(b, 2000, 3000), S_OK);
    auto all = a;
    all.insert(all.end(), b.begin(), b.end());
    EXPECT_EQ(h.Values(), all);
    const auto samples = h.Samples();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].start, 2000);
    EXPECT_EQ(samples[1].stop, 3000);
    EXPECT_EQ(samples[1].bytes, 12);
}

TEST(Resampler, OutputTypeAndBuffersFollowTheSettings)
{
    auto r = MakeResampler(true, 44100, 2);
    for (int bad : {0, -44100, 768001})
        EXPECT_EQ(r->SetOutputRate(bad), E_INVALIDARG);
    EXPECT_EQ(r->SetOutputChannels(0), E_INVALIDARG);
    EXPECT_EQ(r->SetOutputChannels(3), E_INVALIDARG);
    PcmHarness h(r.Get(), PcmType(48000, 1), 4096);
    ASSERT_TRUE(h.connected);
    CMediaType mt;
    EXPECT_EQ(r->GetMediaType(-1, &mt), E_INVALIDARG);
    EXPECT_EQ(r->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
    ASSERT_EQ(r->GetMediaType(0, &mt), S_OK);
    const auto *wf = mt.FormatAs<WAVEFORMATEX>();
    ASSERT_TRUE(wf);
    EXPECT_EQ(wf->nSamplesPerSec, 44100u);
    EXPECT_EQ(wf->nChannels, 2);
    EXPECT_EQ(wf->nBlockAlign, 4);
    EXPECT_EQ(wf->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(mt.GetSampleSize(), 4u);
    // One input buffer's worth at the output's rate and channels, plus 256.
    ALLOCATOR_PROPERTIES props{};
    ASSERT_TRUE(h.Sink().pin.PeekAllocator());
    ASSERT_EQ(h.Sink().pin.PeekAllocator()->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cbBuffer, 2 * 4096 * 44100 / 48000 + 256);
    EXPECT_GE(props.cBuffers, 2);
    // The output type is made: the settings stay.
    EXPECT_EQ(r->SetOutputRate(22050), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(r->SetResampling(false), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(r->OutputRate(), 44100);
}

TEST(Resampler, AFlushDropsTheKeptFrameAndStartsAgainOnPhase)
{
    auto r = MakeResampler(true);
    PcmHarness h(r.Get(), PcmType(32000, 1));
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    std::vector<int16_t> ramp;
    for (int k = 0; k < 1001; ++k)
        ramp.push_back(int16_t(k));
    ASSERT_EQ(h.Push(ramp), S_OK);  // ends mid-pair, phase off zero
    h.BeginFlush();
    h.EndFlush();
    h.Sink().bytes.clear();
    std::vector<int16_t> after;
    for (int k = 0; k < 500; ++k)
        after.push_back(int16_t(5000 + 2 * k));
    ASSERT_EQ(h.Push(after), S_OK);
    const auto out = h.Values();
    ASSERT_GE(out.size(), 2u * 600);
    for (size_t n = 0; n < out.size() / 2; ++n)
        ASSERT_EQ(out[2 * n], int(std::lround(5000 + 2.0 * double(n) * 32000 / 44100))) << n;
}

TEST(Resampler, ALongRunGivesTheRateRatioWithoutDrift)
{
    auto r = MakeResampler(true);
    PcmHarness h(r.Get(), PcmType(48000, 2));
    ASSERT_TRUE(h.connected);
    h.Sink().keep = false;
    ASSERT_EQ(h.Pause(), S_OK);
    const std::vector<int16_t> chunk(2 * 1021, 7);
    const int chunks = 48000 * 300 / 1021;  // five minutes
    for (int i = 0; i < chunks; ++i)
        ASSERT_EQ(h.Push(chunk, REFERENCE_TIME(i) * 1021 * 10000000 / 48000), S_OK);
    const int64_t in = int64_t(chunks) * 1021;
    const int64_t expected = (in - 1) * 44100 / 48000 + 1;  // frames whose position has a pair
    EXPECT_NEAR(double(h.Sink().byteCount / 4), double(expected), 1.0);
    EXPECT_EQ(r->FramesOut(), h.Sink().byteCount / 4);
}

// A sample whose type lowers the input rate makes more output than one
// buffer holds: it goes out in several, each timed where its frames start.
TEST(Resampler, ATypeChangeMidStreamKeepsTheOutputAndSpillsIntoMoreBuffers)
{
    auto r = MakeResampler(true);
    PcmHarness h(r.Get(), PcmType(48000, 1), 2048);
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    const CMediaType low = PcmType(8000, 1);
    Tone tone{8000, 1, 8000, {300, 300}};
    ASSERT_EQ(h.Push(tone.Take(1000), 0, 1250000, &low), S_OK);
    for (int i = 1; i < 8; ++i)
        ASSERT_EQ(h.Push(tone.Take(1000), i * 1250000, (i + 1) * 1250000), S_OK);
    const auto samples = h.Samples();
    ASSERT_GT(samples.size(), 8u * 2);
    ASSERT_EQ(samples[1].start, int64_t(samples[0].bytes / 4) * 10000000 / 44100);
    for (size_t i = 1; i < samples.size(); ++i)
        EXPECT_GT(samples[i].start, samples[i - 1].start);
    const auto x = Channel(h.Values(), 2, 0);
    EXPECT_NEAR(double(x.size()), 8000 * 44100.0 / 8000, 6);
    EXPECT_NEAR(MeasureFrequency(x, 44100), 300, 0.05);
    EXPECT_NEAR(MeasureAmplitude(x), 8000, 80);
}

TEST(Resampler, RefusesWhatIsNotSixteenBitPcm)
{
    auto with = [](CMediaType mt, bool on = true) {
        auto r = MakeResampler(on);
        return r->CheckInputType(&mt);
    };
    EXPECT_EQ(with(PcmType(48000, 2)), S_OK);
    EXPECT_EQ(with(PcmType(48000, 2, 8)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(with(PcmType(48000, 2, 24)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(with(PcmType(48000, 2, 16, WAVE_FORMAT_IEEE_FLOAT)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(with(PcmType(0, 2)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(with(PcmType(48000, 0)), VFW_E_TYPE_NOT_ACCEPTED);
    // Six channels cannot be interpolated as frames of two, but copy fine.
    EXPECT_EQ(with(PcmType(48000, 6)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(with(PcmType(48000, 6), false), S_OK);
    CMediaType aligned = PcmType(48000, 2);
    aligned.FormatAs<WAVEFORMATEX>()->nBlockAlign = 2;
    EXPECT_EQ(with(aligned), VFW_E_TYPE_NOT_ACCEPTED);
    CMediaType shortBlock = PcmType(48000, 2);
    shortBlock.AllocFormatBuffer(16);
    EXPECT_EQ(with(shortBlock), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(with(CMediaType(MEDIATYPE_Video, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx)), VFW_E_TYPE_NOT_ACCEPTED);

    auto r = MakeCom<TResampler>();
    PcmHarness h(r.Get(), PcmType(44100, 2, 8));
    EXPECT_FALSE(h.inputConnected);
}

TEST(Resampler, TornFramesAndBadTypeChangesAreRefusedWithoutOutput)
{
    auto r = MakeResampler(true);
    PcmHarness h(r.Get(), PcmType(48000, 2));
    ASSERT_TRUE(h.connected);
    ASSERT_EQ(h.Pause(), S_OK);
    const BYTE torn[6] = {1, 0, 2, 0, 3, 0};  // a frame and a half
    EXPECT_EQ(h.PushRaw(torn, sizeof torn, 0, 1), VFW_E_BADALIGN);
    EXPECT_EQ(h.PushRaw(torn, 3, 0, 1), VFW_E_BADALIGN);
    const CMediaType eightBit = PcmType(48000, 2, 8);
    EXPECT_EQ(h.Push({1, 2}, 0, 1, &eightBit), VFW_E_INVALIDMEDIATYPE);
    EXPECT_TRUE(h.Values().empty());
}

// The seeking thread flushes while the streaming thread pushes: neither
// waits on the other for long, and the stream goes on after the last flush.
TEST(Resampler, FlushesFromAnotherThreadWhileStreaming)
{
    auto r = MakeResampler(true);
    PcmHarness h(r.Get(), PcmType(32000, 2));
    ASSERT_TRUE(h.connected);
    h.Sink().keep = false;
    ASSERT_EQ(h.Pause(), S_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> pushed{0};
    std::thread streaming([&] {
        Tone tone{32000, 2};
        while (!stop) {
            h.Push(tone.Take(333));
            ++pushed;
        }
    });
    for (int i = 0; i < 20; ++i) {
        const int before = pushed;
        ASSERT_TRUE(WaitUntil([&] { return pushed > before + 2; }));
        h.BeginFlush();
        h.EndFlush();
    }
    stop = true;
    streaming.join();
    const int64_t before = h.Sink().byteCount;
    Tone tone{32000, 2};
    ASSERT_EQ(h.Push(tone.Take(320)), S_OK);
    EXPECT_NEAR(double(h.Sink().byteCount - before) / 4, 320 * 44100.0 / 32000, 2);
}

} // namespace
