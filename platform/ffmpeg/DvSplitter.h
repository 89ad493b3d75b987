// "DV Splitter": whole DV frames in (MEDIATYPE_Interleaved, 'dvsd'), the
// frames again as 'dvsd' video (FORMAT_VideoInfo) on "DVVidOut0" and their
// sound as 16-bit PCM on "AudOut00", each with the frame's times. The
// picture system and sampling rate come from the input's DVINFO (PAL and
// 48 kHz when it has none); frames of the wrong size are skipped.
//
// Threads: as CFanOutFilter.
#pragma once

#include "platform/dshow/FanOutFilter.h"

class CDvSplitter final : public CFanOutFilter {
public:
    CDvSplitter();

    HRESULT CheckInputType(const CMediaType *pmt) override;
    HRESULT InputConnected(const CMediaType &type) override;
    bool OutputType(int index, CMediaType *pmt) override;
    void OutputBuffers(int index, LONG *count, LONG *size) override;
    HRESULT Process(IMediaSample *sample) override;

private:
    HRESULT DeliverSound(IMediaSample *sample, const BYTE *frame, LONG length);

    // Set at connection (state lock), read by the streaming thread.
    bool m_pal = true;
    int m_rate = 48000;
};

// Output indexes.
inline constexpr int kDvVideoOut = 0;
inline constexpr int kDvAudioOut = 1;
