// Between our frame notifier and our decoders. A precise seek lets the
// notifier swallow every picture before its target; a decoder that knows
// which pictures those are can spare the work on them: send them unwritten
// (no data, marked preroll, which the notifier never passes on) and, well
// before the target, not decode the ones nothing refers to. The notifier's media times let the
// decoder keep decoded pictures and serve one again for a later target.
//
// Streaming thread: the decoder calls it from the thread that delivers to the
// notifier, so the answers hold for the picture it is about to deliver.
#pragma once

#include "platform/dshow/Unknown.h"
#include "platform/base/WinTypes.h"

// {0C9E3B52-4D7A-4F0B-8E21-6A93B5D2F417}
inline constexpr IID IID_IPictureGate{0x0C9E3B52, 0x4D7A, 0x4F0B, {0x8E, 0x21, 0x6A, 0x93, 0xB5, 0xD2, 0xF4, 0x17}};

struct IPictureGate : IUnknown {
    static constexpr const IID &iid = IID_IPictureGate;
    // The media time of a picture starting at sample time `start` of the
    // current segment, and back; false while no picture has fixed the
    // notifier's time base.
    virtual bool MediaTimeOf(REFERENCE_TIME start, REFERENCE_TIME *media) = 0;
    virtual bool SampleTimeOf(REFERENCE_TIME media, REFERENCE_TIME *start) = 0;
    // Before the first picture of a segment that starts at 0, whose start
    // sets the time base: the decoder knows that start (the same key frame
    // sent again) although another picture comes first. False once fixed.
    virtual bool AdoptTimeBase(REFERENCE_TIME start) = 0;
    // The target a precise seek waits for; false while pictures pass.
    virtual bool PendingTarget(REFERENCE_TIME *target) = 0;
    // Whether a picture of media time `media` would be swallowed; one that is
    // may be delivered unwritten: no data, marked preroll.
    virtual bool Swallows(REFERENCE_TIME media) = 0;
    // Half a frame: the tolerance within which a picture is on a time.
    virtual REFERENCE_TIME HalfFrame() = 0;

protected:
    ~IPictureGate() = default;
};
