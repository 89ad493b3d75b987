#include "platform/render/DSoundRender.h"

#include "platform/dshow/Uuids.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

REFERENCE_TIME SystemNow()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
}

// The audio clock moves in the device's steps, so the timer looks again at
// least this often (100 ns).
constexpr REFERENCE_TIME kTimerSlice = 50000;

// Amplitude factor of hundredths of a decibel; -10000 is silence.
double Gain(LONG hundredthsDb)
{
    return hundredthsDb <= AUDIO_VOLUME_MIN ? 0.0 : std::pow(10.0, hundredthsDb / 2000.0);
}

// The input pin, which clears the queue around a flush and releases a
// streaming thread waiting for room first.
class CAudioInputPin final : public CRendererInputPin {
public:
    CAudioInputPin(CDSoundRender *renderer, CCritSec *lock)
        : CRendererInputPin(renderer, lock, L"Audio Input pin (rendered)"), m_renderer(renderer) {}
    HRESULT BeginFlush() override
    {
        m_renderer->BeginStateChange();
        const HRESULT hr = CRendererInputPin::BeginFlush();
        m_renderer->Output()->Clear();  // no streaming thread is inside any more
        m_renderer->EndStateChange();
        return hr;
    }
    // The graph completes when the sound has been heard, not when it was
    // handed over.
    HRESULT EndOfStream() override
    {
        if (CheckStreaming() == S_OK)
            m_renderer->WaitForDrain();
        return CRendererInputPin::EndOfStream();
    }

private:
    CDSoundRender *const m_renderer;
};

} // namespace

// ---- CAudioClock -------------------------------------------------------------------

// It starts from the system's time, as clocks that count from boot do: a run
// that resumes ahead of the clock's time then never gets a negative start,
// which advises refuse.
CAudioClock::CAudioClock(std::shared_ptr<AudioOutput> output)
    : m_output(std::move(output)), m_anchor(SystemNow()), m_anchorSystem(m_anchor), m_last(m_anchor),
      m_thread([this] { TimerLoop(); })
{
}

CAudioClock::~CAudioClock()
{
    {
        std::lock_guard lock(m_adviseLock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

REFERENCE_TIME CAudioClock::GetPrivateTime()
{
    const REFERENCE_TIME played = m_output->PlayedTime();
    const bool flowing = m_output->IsFlowing();
    const REFERENCE_TIME system = SystemNow();
    std::lock_guard lock(m_timeLock);
    REFERENCE_TIME t = m_flowing ? m_anchor + (played - m_anchorPlayed) : m_anchor + (system - m_anchorSystem);
    t = std::max(t, m_last);
    m_last = t;
    if (flowing != m_flowing) {
        m_flowing = flowing;
        m_anchor = t;
        m_anchorSystem = system;
        m_anchorPlayed = played;
    }
    return t;
}

void CAudioClock::OnAdviseAdded() { m_wake.notify_all(); }

void CAudioClock::TimerLoop()
{
    std::unique_lock lock(m_adviseLock);
    while (!m_quit) {
        const REFERENCE_TIME now = GetPrivateTime();
        const REFERENCE_TIME next = FireDue(now);
        if (next == MAX_TIME) {
            m_wake.wait(lock);
            continue;
        }
        const REFERENCE_TIME wait = std::min(next - now, kTimerSlice);
        if (wait > 0)
            m_wake.wait_for(lock, std::chrono::nanoseconds(wait * 100));
    }
}

// ---- CDSoundRender: states -------------------------------------------------------------

CDSoundRender::CDSoundRender(std::shared_ptr<AudioOutput> output)
    : CBaseRenderer(CLSID_DSoundRender, L"DirectSound Audio Renderer"),
      m_output(output ? std::move(output) : std::make_shared<AudioOutput>()),
      m_clock(MakeCom<CAudioClock>(m_output))
{
    m_pInputPin = std::make_unique<CAudioInputPin>(this, &m_InterfaceLock);
}

CDSoundRender::~CDSoundRender()
{
    m_output->Close();
}

HRESULT CDSoundRender::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
    if (riid == IID_IBasicAudio)
        return GetInterface(static_cast<IBasicAudio *>(this), ppv);
    if (riid == IID_IReferenceClock)
        return GetInterface(static_cast<IReferenceClock *>(m_clock.Get()), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

void CDSoundRender::BeginStateChange()
{
    {
        std::lock_guard lock(m_waitLock);
        ++m_stateChanges;
    }
    m_waitWake.notify_all();
}

void CDSoundRender::EndStateChange()
{
    std::lock_guard lock(m_waitLock);
    --m_stateChanges;
}

HRESULT CDSoundRender::Stop()
{
    BeginStateChange();
    const HRESULT hr = CBaseRenderer::Stop();  // closes the output (OnStopStreaming)
    EndStateChange();
    return hr;
}

HRESULT CDSoundRender::Pause()
{
    BeginStateChange();
    m_output->SetRunning(false);
    const HRESULT hr = CBaseRenderer::Pause();
    EndStateChange();
    return hr;
}

HRESULT CDSoundRender::Run(REFERENCE_TIME tStart)
{
    const HRESULT hr = CBaseRenderer::Run(tStart);
    if (SUCCEEDED(hr))
        m_output->SetRunning(true);
    return hr;
}

HRESULT CDSoundRender::OnStartStreaming()
{
    WAVEFORMATEX format;
    {
        std::lock_guard lock(m_waitLock);
        format = m_format;
    }
    return m_output->Open(format) ? S_OK : E_FAIL;
}

HRESULT CDSoundRender::OnStopStreaming()
{
    m_output->Close();
    return S_OK;
}

// ---- Samples (streaming thread) ---------------------------------------------------------

HRESULT CDSoundRender::CheckMediaType(const CMediaType *pmt)
{
    if (!pmt || pmt->Type() != MEDIATYPE_Audio || pmt->FormatType() != FORMAT_WaveFormatEx
        || (pmt->Subtype() != MEDIASUBTYPE_PCM && pmt->Subtype() != GUID_NULL))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto *wfx = pmt->FormatAs<WAVEFORMATEX>();
    if (!wfx || wfx->wFormatTag != WAVE_FORMAT_PCM || wfx->wBitsPerSample != 16
        || wfx->nChannels == 0 || wfx->nChannels > 8 || wfx->nSamplesPerSec == 0
        || wfx->nSamplesPerSec > 384000 || wfx->nBlockAlign != wfx->nChannels * 2)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CDSoundRender::SetMediaType(const CMediaType *pmt)
{
    if (FAILED(CheckMediaType(pmt)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard lock(m_waitLock);
    m_format = *pmt->FormatAs<WAVEFORMATEX>();
    return S_OK;
}

// Written at Run (RenderPending), when the device starts: writing it now too
// would play it twice.
void CDSoundRender::OnReceiveFirstSample(IMediaSample *) {}

// Now when it follows what is queued (or comes early); a later one waits
// for its time, and the device plays silence through the gap.
HRESULT CDSoundRender::ShouldDrawSampleNow(IMediaSample *pMediaSample, REFERENCE_TIME *,
                                           REFERENCE_TIME *)
{
    REFERENCE_TIME start = 0, stop = 0, now = 0;
    if (FAILED(pMediaSample->GetTime(&start, &stop)) || FAILED(StreamTime(now)))
        return S_OK;
    constexpr REFERENCE_TIME kSlack = 400000;  // 40 ms of jitter in the times
    return start <= now + m_output->QueuedTime() + kSlack ? S_OK : S_FALSE;
}

HRESULT CDSoundRender::DoRenderSample(IMediaSample *pMediaSample)
{
    if (IsWhollyLate(pMediaSample))
        return S_OK;
    BYTE *data = nullptr;
    const LONG length = pMediaSample->GetActualDataLength();
    if (FAILED(pMediaSample->GetPointer(&data)) || !data || length <= 0)
        return S_OK;
    WORD channels = 0;
    {
        std::lock_guard lock(m_waitLock);
        channels = m_format.nChannels;
    }
    const size_t count = size_t(length) / sizeof(int16_t);
    std::vector<int16_t> samples(count);
    std::memcpy(samples.data(), data, count * sizeof(int16_t));
    ApplyGain(samples.data(), count, channels, m_volume.load(), m_balance.load());
    WaitForRoom();
    m_output->Write(reinterpret_cast<const BYTE *>(samples.data()), count * sizeof(int16_t));
    return S_OK;
}

// Sound that would be heard well after its time while running: a run that
// resumed from a picture ahead of the clock (pictures swallowed on the way
// to a target) leaves the sound before that picture behind; playing it would
// put the sound that far behind the picture for good.
bool CDSoundRender::IsWhollyLate(IMediaSample *pMediaSample)
{
    REFERENCE_TIME start = 0, stop = 0, now = 0;
    if (State() != State_Running || FAILED(pMediaSample->GetTime(&start, &stop)) || FAILED(StreamTime(now)))
        return false;
    constexpr REFERENCE_TIME kLateness = 2500000;  // 250 ms: more than any jitter
    return stop + kLateness < now + m_output->QueuedTime();
}

// Until no more than `most` is queued, or a state change or flush is under
// way. The queue drains by the device (or the silent sink's clock), which
// does not tell us: sleep for the time the excess takes to play. The test is
// of a change in progress, not of one seen since we started: a pause that
// began before we got here is still waiting for the lock we hold.
void CDSoundRender::WaitForRoom() { WaitUntilQueued(kLead); }

void CDSoundRender::WaitForDrain() { WaitUntilQueued(0); }

void CDSoundRender::WaitUntilQueued(REFERENCE_TIME most)
{
    std::unique_lock lock(m_waitLock);
    for (;;) {
        if (m_stateChanges > 0 || State() != State_Running)
            return;
        const REFERENCE_TIME excess = m_output->QueuedTime() - most;
        if (excess <= 0)
            return;
        m_waitWake.wait_for(lock, std::chrono::nanoseconds(std::max<REFERENCE_TIME>(excess, 10000) * 100));
    }
}

// ---- IBasicAudio ----------------------------------------------------------------------------

void CDSoundRender::ApplyGain(int16_t *samples, size_t count, int channels, LONG volume, LONG balance)
{
    const double gain = Gain(volume);
    // Balance attenuates the other side: positive turns the left down.
    const double left = gain * (balance > 0 ? Gain(-balance) : 1.0);
    const double right = gain * (balance < 0 ? Gain(balance) : 1.0);
    if (left == 1.0 && right == 1.0)
        return;
    for (size_t i = 0; i < count; ++i) {
        const int channel = channels > 0 ? int(i % size_t(channels)) : 0;
        const double g = channels == 2 ? (channel == 0 ? left : right) : gain;
        const long v = std::lround(samples[i] * g);
        samples[i] = static_cast<int16_t>(std::clamp<long>(v, INT16_MIN, INT16_MAX));
    }
}

HRESULT CDSoundRender::put_Volume(LONG lVolume)
{
    if (lVolume < AUDIO_VOLUME_MIN || lVolume > AUDIO_VOLUME_MAX)
        return E_INVALIDARG;
    m_volume.store(lVolume);
    return S_OK;
}

HRESULT CDSoundRender::get_Volume(LONG *plVolume)
{
    if (!plVolume)
        return E_POINTER;
    *plVolume = m_volume.load();
    return S_OK;
}

HRESULT CDSoundRender::put_Balance(LONG lBalance)
{
    if (lBalance < -10000 || lBalance > 10000)
        return E_INVALIDARG;
    m_balance.store(lBalance);
    return S_OK;
}

HRESULT CDSoundRender::get_Balance(LONG *plBalance)
{
    if (!plBalance)
        return E_POINTER;
    *plBalance = m_balance.load();
    return S_OK;
}

HRESULT CreateDSoundRender(REFIID riid, void **ppv)
{
    ComPtr<CDSoundRender> renderer = MakeCom<CDSoundRender>();
    return renderer->NonDelegatingQueryInterface(riid, ppv);
}
