// TResampler: a transform filter that turns 16-bit PCM of any rate into one
// fixed output rate and channel count (1 or 2) by linear interpolation, so
// that the audio renderer always gets the same format. With resampling off
// it copies every sample unchanged. The audio manager holds one, set to
// 44100 Hz with resampling on; no connection path puts it into a graph.
//
// Interpolation: each output frame lies `phase` (0 <= phase < 1) of the way
// from input frame A to the next one, B; after each output frame the read
// position moves on by input rate / output rate frames. The phase is kept as
// an exact fraction (a numerator over the output rate), so a long stream
// gives exactly rate-ratio as many frames, with no drift. A and B may come
// from two successive input samples: the frame A that ends one sample is
// kept until the next sample brings B, and a step past the end of a sample
// is carried into the next one, so sample boundaries leave no trace.
//
// Threads: the setters run on the UI thread before the output connects
// (the output type is made from them). Receive, Transform and the state
// behind them belong to the streaming thread under the streaming lock;
// StartStreaming and the connection hooks write that state while no stream
// runs, EndFlush after the flush released the streaming thread.
#pragma once

#include "platform/dshow/TransformFilter.h"

#include <atomic>
#include <cstdint>

// {18BC11A5-B646-438D-A837-755D0EEDE20E}
inline constexpr CLSID CLSID_VostrelResampler{0x18BC11A5, 0xB646, 0x438D,
                                              {0xA8, 0x37, 0x75, 0x5D, 0x0E, 0xED, 0xE2, 0x0E}};

class TResampler final : public CTransformFilter {
public:
    static constexpr int kDefaultOutputRate = 44100;
    static constexpr int kDefaultOutputChannels = 2;

    // The read state of the interpolation.
    enum class ReadState { Ready = 0, LoadB = 1, LoadA = 2 };

    // Any thread.
    TResampler();

    // ---- For the audio manager (UI thread, output not connected) ----
    // E_INVALIDARG for a rate or channel count out of range (rates 1 Hz to
    // 768 kHz, 1 or 2 channels), VFW_E_ALREADY_CONNECTED once the output
    // type was made; the setting is then left as it was.
    HRESULT SetOutputRate(int rate);
    HRESULT SetOutputChannels(int channels);
    HRESULT SetResampling(bool on);
    int OutputRate() const { return FOutputRate; }
    int OutputChannels() const { return FOutputChannels; }
    bool Resampling() const { return FResampling; }

    // Input frames received and output frames written since the input type
    // was set or streaming started. Any thread.
    int64_t FramesIn() const { return FFramesIn; }
    int64_t FramesOut() const { return FFramesOut; }

    // ---- The filter (called by the graph) ----
    HRESULT CheckInputType(const CMediaType *mtIn) override;
    HRESULT CheckTransform(const CMediaType *mtIn, const CMediaType *mtOut) override;
    HRESULT GetMediaType(int iPosition, CMediaType *pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator *pAlloc, ALLOCATOR_PROPERTIES *pProp) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType *pmt) override;
    HRESULT StartStreaming() override;
    // Streaming thread. One input sample may fill more than one output
    // buffer (a type change to a lower rate mid-stream): each is delivered.
    HRESULT Receive(IMediaSample *pSample) override;
    // Streaming thread, streaming lock held: fills one output buffer from
    // the current input sample, from where the last call stopped.
    HRESULT Transform(IMediaSample *pIn, IMediaSample *pOut) override;
    HRESULT EndFlush() override;

private:
    struct Frame {
        int16_t left = 0;
        int16_t right = 0;  // the left value again for mono input
    };

    static bool RateInRange(int64_t rate);
    void ResetStream();
    void UpdateSteps();
    Frame ReadFrame(const BYTE *at) const;
    void WriteFrame(BYTE *at) const;
    HRESULT Copy(IMediaSample *pIn, IMediaSample *pOut);
    HRESULT Resample(IMediaSample *pIn, IMediaSample *pOut);

    // Settings: UI thread, read when connecting and when streaming starts.
    std::atomic<int> FOutputRate{kDefaultOutputRate};
    std::atomic<int> FOutputChannels{kDefaultOutputChannels};
    std::atomic<bool> FResampling{false};

    // Counters: streaming thread writes, any thread reads.
    std::atomic<int64_t> FFramesIn{0};
    std::atomic<int64_t> FFramesOut{0};

    // Streaming lock (or the UI thread while no stream runs).
    int FInRate = 0;
    int FInChannels = 0;
    int FRate = kDefaultOutputRate;  // the output's, as streaming uses them
    int FChannels = kDefaultOutputChannels;
    bool FResample = false;
    int FIntStep = 0;           // trunc(input rate / output rate)
    int FFracStep = 0;          // the fractional step, in 1/FRate
    int FPhase = 0;             // the phase, in 1/FRate
    Frame FA, FB;
    bool FHaveB = false;        // B belongs to the current A
    ReadState FReadState = ReadState::LoadA;
    int64_t FCarry = 0;         // bytes: where the next sample's read starts
    int64_t FPos = 0;           // bytes: read position in the current sample
    bool FInputDone = true;     // the current sample is used up
    int64_t FWrittenThisSample = 0;
    bool FDiscontinuity = false;  // for the next output that carries frames
};
