// The sound of one DV frame: libavformat's DV reader takes the samples out
// of the frame's audio blocks (undoing the shuffle, widening 12-bit sound).
// Pure function; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct DvFrameAudio {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved, the first pair of channels
};

// False for a frame that is not whole DV or carries no sound.
bool DecodeDvAudio(const uint8_t *frame, size_t size, DvFrameAudio *out);

// DVINFO's little-endian pack bytes: the picture system and the sound.
struct DvStreamInfo {
    bool pal = true;
    int rate = 48000;
};
DvStreamInfo DvInfoFromPacks(uint32_t vauxSource, uint32_t aauxSource);
