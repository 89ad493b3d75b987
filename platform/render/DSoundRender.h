// "DirectSound Audio Renderer": plays 16-bit PCM through an AudioOutput
// (SDL2, or the silent sink when no device opens), gives the graph its
// reference clock, and scales the samples by IBasicAudio's volume.
//
// Scheduling. A sample is written when its time has come, less what is
// still queued: contiguous sound goes at once, and DoRenderSample then
// waits while more than kLead is queued, so the device never starves and
// the queue stays short. A gap in the times waits on the clock, and the
// device plays silence through it.
//
// Locks. The waiting in DoRenderSample holds the renderer's streaming lock,
// which Stop, Pause and a flush need: they mark a state change as under way
// (m_waitLock, m_stateChanges) for as long as they take, and only then take
// the renderer's locks. A wait never starts while a change is under way, so
// a streaming thread that took the lock just before a pause does not wait
// for a queue the paused device no longer drains. The interrupted sample is
// still written; stop and flush clear the queue after the streaming thread
// has left. End of stream waits until the queue has been played, so the
// graph completes when the sound was heard.
//
// Threads: as CBaseRenderer. IBasicAudio: any thread.
#pragma once

#include "platform/dshow/Control.h"
#include "platform/dshow/RefClock.h"
#include "platform/dshow/Renderer.h"
#include "platform/render/AudioOutput.h"

#include <condition_variable>
#include <memory>
#include <mutex>

// The reference clock of an audio output: while sound flows it advances by
// what the device played, otherwise by the system clock; it never goes
// back. Advises are served by a timer thread.
class CAudioClock final : public CBaseReferenceClock {
public:
    explicit CAudioClock(std::shared_ptr<AudioOutput> output);
    ~CAudioClock() override;
    REFERENCE_TIME GetPrivateTime() override;

private:
    void OnAdviseAdded() override;
    void TimerLoop();

    const std::shared_ptr<AudioOutput> m_output;
    std::mutex m_timeLock;  // after m_adviseLock
    // Guarded by m_timeLock.
    bool m_flowing = false;
    REFERENCE_TIME m_anchor = 0;        // clock time at the last switch
    REFERENCE_TIME m_anchorSystem = 0;  // system time then
    REFERENCE_TIME m_anchorPlayed = 0;  // played time then
    REFERENCE_TIME m_last = 0;

    std::condition_variable m_wake;
    bool m_quit = false;  // m_adviseLock
    std::thread m_thread;
};

class CDSoundRender final : public CBaseRenderer, public IBasicAudio {
public:
    // output null: SDL2 with the silent fallback.
    explicit CDSoundRender(std::shared_ptr<AudioOutput> output = nullptr);
    ~CDSoundRender() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    HRESULT CheckMediaType(const CMediaType *pmt) override;
    HRESULT SetMediaType(const CMediaType *pmt) override;
    HRESULT DoRenderSample(IMediaSample *pMediaSample) override;
    void OnReceiveFirstSample(IMediaSample *pMediaSample) override;
    HRESULT ShouldDrawSampleNow(IMediaSample *pMediaSample, REFERENCE_TIME *ptrStart,
                                REFERENCE_TIME *ptrEnd) override;
    HRESULT OnStartStreaming() override;
    HRESULT OnStopStreaming() override;
    // What was written is ahead of what was heard: the graph goes by its
    // clock instead.
    HRESULT GetPresentedPosition(REFERENCE_TIME *) override { return E_NOTIMPL; }
    HRESULT GetPresentedStreamTime(REFERENCE_TIME *) override { return E_NOTIMPL; }
    // No still picture to lose.
    bool RepaintsWhenPaused() const override { return false; }

    // IBasicAudio: hundredths of a decibel, -10000 (silence) to 0.
    HRESULT put_Volume(LONG lVolume) override;
    HRESULT get_Volume(LONG *plVolume) override;
    HRESULT put_Balance(LONG lBalance) override;
    HRESULT get_Balance(LONG *plBalance) override;

    // Scales interleaved 16-bit samples in place (volume, then balance).
    static void ApplyGain(int16_t *samples, size_t count, int channels, LONG volume, LONG balance);

    AudioOutput *Output() const { return m_output.get(); }
    // The input pin's hooks; not for callers. Around a flush (the thread
    // that flushes); streaming thread: waits until everything queued was
    // played (or a state change or flush).
    void BeginStateChange();
    void EndStateChange();
    void WaitForDrain();

    static constexpr REFERENCE_TIME kLead = 2000000;  // 200 ms queued ahead

private:
    bool IsWhollyLate(IMediaSample *pMediaSample);
    void WaitForRoom();
    void WaitUntilQueued(REFERENCE_TIME most);

    const std::shared_ptr<AudioOutput> m_output;
    ComPtr<CAudioClock> m_clock;
    std::atomic<LONG> m_volume{0};
    std::atomic<LONG> m_balance{0};
    WAVEFORMATEX m_format{};  // set while connecting (no streaming)

    std::mutex m_waitLock;
    std::condition_variable m_waitWake;
    int m_stateChanges = 0;  // m_waitLock: Stop, Pause or a flush under way
};

HRESULT CreateDSoundRender(REFIID riid, void **ppv);
