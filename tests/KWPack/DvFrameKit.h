// Real DV frames for tests: the dvvideo encoder's output, given its time
// code, recording date and sound packs by the test-media generator (which
// writes them independently of the readers under test).
#pragma once

#include "tools/mkmedia/DvPacks.h"
#include "tools/mkmedia/Encoders.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dvkit {

using Frame = std::vector<uint8_t>;

// `count` frames of 625/50 (pal) or 525/60, numbered from `first` (which sets
// their time code and how far the recording time has run from `start`).
inline std::vector<Frame> MakeFrames(bool pal, int count, const mkmedia::DvDateTime &start, int first = 0)
{
    mkmedia::VideoSettings s;
    s.encoder = "dvvideo";
    s.width = 720;
    s.height = pal ? 576 : 480;
    s.rate = pal ? mkmedia::Rational{25, 1} : mkmedia::Rational{30000, 1001};
    s.sar = {1, 1};
    s.gop = 1;
    mkmedia::VideoEncoder encoder;
    std::vector<Frame> frames;
    if (!encoder.Open(s).empty())
        return frames;
    const auto keep = [&](AVPacket *pkt) {
        Frame f(pkt->data, pkt->data + pkt->size);
        mkmedia::PatchDvFrame(f.data(), f.size(), first + static_cast<long long>(frames.size()), start);
        frames.push_back(std::move(f));
        return true;
    };
    for (int i = 0; i < count; ++i)
        encoder.Encode(i, keep);
    encoder.Encode(-1, keep);
    return frames;
}

inline mkmedia::DvDateTime Date(const char *text)
{
    mkmedia::DvDateTime t;
    mkmedia::ParseDvDateTime(text, t);
    return t;
}

}  // namespace dvkit
