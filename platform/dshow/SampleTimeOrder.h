// Between our splitter and our decoders: whether a pin stamps its samples
// with decoding times. AVI and elementary streams know no other: the decoder
// then times each picture by the decoding time it came out at, less its
// reordering delay, which stays right when pictures are dropped after a seek.
//
// Any thread; the answer is fixed while the pin is connected.
#pragma once

#include "platform/dshow/Unknown.h"

// {5A1D0C01-7E3B-4C52-9B61-2F10D43A8810}
inline constexpr IID IID_ISampleTimeOrder{0x5A1D0C01, 0x7E3B, 0x4C52, {0x9B, 0x61, 0x2F, 0x10, 0xD4, 0x3A, 0x88, 0x10}};

struct ISampleTimeOrder : IUnknown {
    static constexpr const IID &iid = IID_ISampleTimeOrder;
    virtual bool DecodingOrder() = 0;

protected:
    ~ISampleTimeOrder() = default;
};
