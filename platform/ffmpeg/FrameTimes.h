// Presentation times for decoded pictures.
//
// Containers with presentation times (MP4, MKV, MPEG) stamp samples out of
// order when pictures are reordered, and the decoder carries each time to its
// picture. AVI stamps samples in decoding order: a reordered picture must
// take the earliest time still waiting, not its own sample's. Samples stamped
// in order, every one of them, are taken as decoding order: where nothing is
// reordered, both readings give the same times.
//
// Streaming thread only (the decoder's streaming lock).
#pragma once

#include "platform/dshow/Strmif.h"

#include <set>

class FrameTimes {
public:
    // A new stream or a flush.
    void Clear();
    // An input sample; `timed` false when it carried no time.
    void Input(bool timed, REFERENCE_TIME start);
    // The time of the next decoded picture, whose own carried time is
    // `carried` (AV_NOPTS_VALUE when none); false when nothing is known.
    bool Output(int64_t carried, REFERENCE_TIME *start);

private:
    std::multiset<REFERENCE_TIME> m_pending;
    REFERENCE_TIME m_last = 0;
    bool m_any = false;
    bool m_presentationOrder = false;  // a time went back, or one was missing
};
