// Random DV frames through the sound reader the DV splitter uses: a frame of
// either size built from the input (cut or padded), then the sound taken out
// of it. It must not read past the frame, and what it gives must fit a
// frame: at most 1920 samples per channel, whole samples, a known rate.
#include "platform/ffmpeg/DvAudio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t frameSize = size > 0 && (data[0] & 1) ? 144000 : 120000;
    std::vector<uint8_t> frame(frameSize, 0);
    if (size > 1)
        std::memcpy(frame.data(), data + 1, std::min(size - 1, frameSize));
    DvFrameAudio audio;
    if (!DecodeDvAudio(frame.data(), frame.size(), &audio))
        return 0;
    const bool sane = audio.channels > 0 && audio.channels <= 8 && audio.rate >= 8000 && audio.rate <= 48000
        && audio.samples.size() % size_t(audio.channels) == 0
        && audio.samples.size() / size_t(audio.channels) <= 1920;
    if (!sane) {
        std::fprintf(stderr, "fuzz_dvaudio: %d channels at %d Hz, %zu samples\n", audio.channels, audio.rate,
                     audio.samples.size());
        std::abort();
    }
    return 0;
}
