// Where the audio renderer's sound goes: a byte queue that an SDL2 audio
// device plays from, or, when no device can be opened (or none is wanted),
// a silent sink that consumes the queue as fast as a device would, by the
// system clock, and throws the sound away. Either way the time played is
// known, and the audio renderer's clock runs on it.
//
// Locks: m_lock guards the queue and the counters; it is never held while
// SDL is called (SDL's device lock is held around our callback).
//
// Threads: Open, Close, SetRunning: UI thread. Write, Clear: streaming
// thread (Clear also UI thread with no streaming). The rest: any thread.
#pragma once

#include "platform/dshow/MediaType.h"

#include <cstdint>
#include <deque>
#include <mutex>

class AudioOutput {
public:
    // allowDevice false: always the silent sink.
    explicit AudioOutput(bool allowDevice = DeviceWanted());
    // False when VIDSTILL_AUDIO is "silent": tools and test runs keep the
    // clock without a sound device (and without its library's complaints).
    static bool DeviceWanted();
    virtual ~AudioOutput();
    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // 16-bit PCM only. Tries the device, else goes silent; false only for a
    // format nothing can play. Starts paused.
    bool Open(const WAVEFORMATEX &format);
    void Close();
    void SetRunning(bool running);
    // True while a real device plays (not the silent sink).
    bool UsesDevice();

    void Write(const BYTE *data, size_t size);
    void Clear();

    // Everything consumed since construction, in 100 ns; never goes back.
    REFERENCE_TIME PlayedTime();
    // Running and holding sound not yet played.
    bool IsFlowing();
    // Sound waiting to be played, in 100 ns.
    REFERENCE_TIME QueuedTime();

protected:
    // The device: open (paused), close, run or pause. The default is SDL2.
    virtual bool OpenDevice(const WAVEFORMATEX &format);
    virtual void CloseDevice();
    virtual void RunDevice(bool running);
    // The device's thread: fills `out` from the queue, silence after it.
    void Consume(BYTE *out, size_t size);

private:
    static void SdlCallback(void *self, uint8_t *stream, int len);
    void ConsumeLocked(size_t bytes);
    void CatchUpLocked();  // the silent sink consumes what the time played
    REFERENCE_TIME BytesToTime(int64_t bytes) const;

    const bool m_allowDevice;
    uint32_t m_sdlDevice = 0;  // UI thread
    bool m_sdlInit = false;    // UI thread

    std::mutex m_lock;
    // Guarded by m_lock.
    std::deque<BYTE> m_queue;
    bool m_open = false;
    bool m_device = false;   // a device consumes; else the silent sink
    bool m_running = false;
    DWORD m_bytesPerSecond = 0;
    WORD m_blockAlign = 0;
    REFERENCE_TIME m_playedBase = 0;  // played before the current format
    int64_t m_playedBytes = 0;        // in the current format
    int64_t m_silentStart = 0;        // steady time (100 ns) the sink last caught up
};
