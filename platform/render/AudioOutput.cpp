#include "platform/render/AudioOutput.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

constexpr REFERENCE_TIME kUnits = 10000000;

int64_t SteadyNow()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
}

} // namespace

AudioOutput::AudioOutput(bool allowDevice) : m_allowDevice(allowDevice) {}

bool AudioOutput::DeviceWanted()
{
    const char *mode = std::getenv("VIDSTILL_AUDIO");
    return !mode || std::strcmp(mode, "silent") != 0;
}

AudioOutput::~AudioOutput()
{
    // A derived device is gone by now; only our own SDL device is closed here.
    if (m_sdlDevice != 0 || m_sdlInit)
        AudioOutput::CloseDevice();
}

bool AudioOutput::Open(const WAVEFORMATEX &format)
{
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 || format.nChannels == 0
        || format.nSamplesPerSec == 0 || format.nBlockAlign != format.nChannels * 2)
        return false;
    Close();
    const bool device = m_allowDevice && OpenDevice(format);
    std::lock_guard lock(m_lock);
    m_playedBase += BytesToTime(m_playedBytes);
    m_playedBytes = 0;
    m_bytesPerSecond = format.nSamplesPerSec * format.nBlockAlign;
    m_blockAlign = format.nBlockAlign;
    m_queue.clear();
    m_open = true;
    m_device = device;
    m_running = false;
    return true;
}

void AudioOutput::Close()
{
    bool device = false;
    {
        std::lock_guard lock(m_lock);
        CatchUpLocked();
        device = m_device;
        m_open = m_device = m_running = false;
        m_queue.clear();
    }
    if (device)
        CloseDevice();
}

void AudioOutput::SetRunning(bool running)
{
    bool device = false;
    {
        std::lock_guard lock(m_lock);
        CatchUpLocked();
        if (!m_open)
            return;
        m_running = running;
        m_silentStart = SteadyNow();
        device = m_device;
    }
    if (device)
        RunDevice(running);
}

bool AudioOutput::UsesDevice()
{
    std::lock_guard lock(m_lock);
    return m_device;
}

void AudioOutput::Write(const BYTE *data, size_t size)
{
    std::lock_guard lock(m_lock);
    CatchUpLocked();
    if (m_open)
        m_queue.insert(m_queue.end(), data, data + size);
}

void AudioOutput::Clear()
{
    std::lock_guard lock(m_lock);
    CatchUpLocked();
    m_queue.clear();
}

REFERENCE_TIME AudioOutput::PlayedTime()
{
    std::lock_guard lock(m_lock);
    CatchUpLocked();
    return m_playedBase + BytesToTime(m_playedBytes);
}

bool AudioOutput::IsFlowing()
{
    std::lock_guard lock(m_lock);
    CatchUpLocked();
    return m_running && !m_queue.empty();
}

REFERENCE_TIME AudioOutput::QueuedTime()
{
    std::lock_guard lock(m_lock);
    CatchUpLocked();
    return BytesToTime(static_cast<int64_t>(m_queue.size()));
}

void AudioOutput::Consume(BYTE *out, size_t size)
{
    std::lock_guard lock(m_lock);
    const size_t n = std::min(size, m_queue.size());
    std::copy_n(m_queue.begin(), n, out);
    std::memset(out + n, 0, size - n);
    ConsumeLocked(n);
}

void AudioOutput::ConsumeLocked(size_t bytes)
{
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(bytes));
    m_playedBytes += static_cast<int64_t>(bytes);
}

// The silent sink plays in whole blocks, by the time gone since it last
// looked; time with nothing queued is lost, as a device plays silence then.
void AudioOutput::CatchUpLocked()
{
    if (m_device || !m_open || !m_running || m_bytesPerSecond == 0)
        return;
    const int64_t now = SteadyNow();
    const int64_t blocks = (now - m_silentStart) * (m_bytesPerSecond / m_blockAlign) / kUnits;
    if (blocks <= 0)
        return;
    const int64_t wanted = blocks * m_blockAlign;
    const size_t take = static_cast<size_t>(std::min<int64_t>(wanted, int64_t(m_queue.size())));
    ConsumeLocked(take);
    // Advance by exactly the blocks counted, so no fraction is lost or gained.
    m_silentStart += blocks * kUnits / (m_bytesPerSecond / m_blockAlign);
}

REFERENCE_TIME AudioOutput::BytesToTime(int64_t bytes) const
{
    return m_bytesPerSecond ? bytes * kUnits / m_bytesPerSecond : 0;
}

// ---- SDL2 ------------------------------------------------------------------------

bool AudioOutput::OpenDevice(const WAVEFORMATEX &format)
{
    if (!m_sdlInit) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return false;
        m_sdlInit = true;
    }
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(format.nSamplesPerSec);
    want.format = AUDIO_S16LSB;
    want.channels = static_cast<Uint8>(std::min<WORD>(format.nChannels, 8));
    want.samples = 1024;
    want.callback = &AudioOutput::SdlCallback;
    want.userdata = this;
    if (want.channels != format.nChannels)
        return false;
    SDL_AudioSpec have{};
    m_sdlDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);  // SDL converts for us
    return m_sdlDevice != 0;
}

void AudioOutput::CloseDevice()
{
    if (m_sdlDevice != 0)
        SDL_CloseAudioDevice(m_sdlDevice);  // waits for a callback in progress
    m_sdlDevice = 0;
    if (m_sdlInit)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    m_sdlInit = false;
}

void AudioOutput::RunDevice(bool running)
{
    if (m_sdlDevice != 0)
        SDL_PauseAudioDevice(m_sdlDevice, running ? 0 : 1);
}

void AudioOutput::SdlCallback(void *self, uint8_t *stream, int len)
{
    static_cast<AudioOutput *>(self)->Consume(stream, static_cast<size_t>(std::max(len, 0)));
}
