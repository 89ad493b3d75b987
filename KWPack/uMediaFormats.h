// Texts and geometry of media formats: the video and audio descriptions that
// the main window shows, the "h:mm:ss:ff" position text and its parser, and
// the aspect fit that letterboxes a picture.
//
// Pure functions without state; any thread (the notifier filters call them on
// streaming threads). The records are plain values owned by whoever holds them.
#pragma once

#include "platform/base/Graphics.h"
#include "platform/base/WinTypes.h"
#include "platform/dshow/MediaType.h"

#include <QString>

#include <cstdint>

// Aspect codes of TVideoData.
constexpr int32_t acAspect4x3 = 0;
constexpr int32_t acAspect16x9 = 1;
constexpr int32_t acAspectNone = 2;   // no picture aspect given (or one from a DV or MPEG-2 header)
constexpr int32_t acAspectOther = 3;  // another ratio from the media type

// What a video stream says about itself.
struct TVideoData {
    bool VideoPresent = false;
    int32_t Width = 0;   // pixels, as the bitmap header has them
    int32_t Height = 0;  // negative for top-down pictures
    int32_t BitsPerPixel = 0;
    REFERENCE_TIME FrameDuration = 0;  // 100 ns; 0 when not declared
    QString SubtypeText;               // "H264", "DV Type 2", "RGB32", "MPEG2" ...
    int32_t AspectX = 0;               // picture aspect ratio, 0:0 when not given
    int32_t AspectY = 0;
    uint32_t BitRate = 0;
    double FrameRate = 0;  // frames per second, 0 when not declared
    QString SizeText;      // "720x576 - 25 fps"
    int32_t AspectCode = acAspect4x3;
    QString FormatText;  // "H264 (16x9)"
};

// What one sample of a stream says: DV codes and the audio description.
// Written by the stream notifier on its streaming thread and handed out as
// copies.
struct TframeData {
    int32_t FrameCounter = 0;  // analysed samples
    bool InterleavedDV = false;
    bool DifValid = false;
    uint8_t BroadcastSystem = 0;  // 0 = 625/50, 1 = 525/60, 2 = undecided
    bool DateValid = false;
    double RecordingDate = 0;  // days since 30 December 1899, fraction = time of day
    double EarliestDate = 0;
    QString DateText;  // "No Datecode" after reset, "N/A" when the frame has none
    bool TimeCodeValid = false;
    uint8_t TimeCode[4] = {};  // hours, minutes, seconds, frames
    QString TimeCodeText;      // "No Timecode" after reset, "N/A" when absent
    QString AudioTypeText;     // AudioTypeText() of the connected type
    int32_t Channels = 0;
    int32_t BitsPerSample = 0;
    int32_t SamplingRate = 0;  // Hz
    int32_t BitRate = 0;       // bits per second
    QString AudioLabel;        // AudioLabel(), or the DV audio text
};

// Copies that share no text with the original, for records one thread hands
// to another without waiting for it (posts, snapshots). Qt frees a shared
// text in whichever thread lets go of it last, through a count that
// ThreadSanitizer cannot see (QtCore is not instrumented); unshared copies
// keep every text to one thread, so every other access stays checked.
TVideoData Unshared(const TVideoData &data);
TframeData Unshared(const TframeData &data);

// The video description of a media type. The readers for DV, MPEG-2,
// VIDEOINFOHEADER, VIDEOINFOHEADER2 and MPEG-1 blocks are tried in that order;
// a block too short for its struct is not read. VideoPresent is false when no
// reader took the type (then the other fields keep their defaults).
TVideoData VideoDataFromMediaType(const CMediaType &mt);

// Short name of a video subtype: the FourCC ("H264"; "DV Type 1" for dvcp,
// "DV Type 2" for dvsd), an RGB name, the bitmap header's compression code,
// "MPEG1" or "MPEG2".
QString VideoSubtypeText(const CMediaType &mt);

// "MPEG2", "DOLBY AC3", "LPCM", ... or the first four characters of the wave
// format tag's name ("MP3", "WMA", "IEEE", "Unkn" for tag 0); "???" for a
// type that is not audio or has no wave format block.
QString AudioTypeText(const CMediaType &mt);

// Name of a wave format tag ("PCM", "MPEG Audio", "WMA"); empty when unknown.
QString WaveFormatTagName(uint16_t tag);

// "PCM 48000Hz 16bits  stereo": the audio type text followed by the rate,
// the sample size (or the bit rate in Kb/s) and the channels of the block.
QString AudioLabel(const QString &audioTypeText, const WAVEFORMATEX &wfx);

// Fills the audio fields of `data` (channels, rate, bits, bit rate, label from
// data.AudioTypeText) from a FORMAT_WaveFormatEx type. False, leaving `data`
// alone, when the type has no complete WAVEFORMATEX.
bool ReadAudioData(const CMediaType &mt, TframeData &data);

// "h:mm:ss:ff" for a position, both in 100 ns; a frame duration of 0 (or
// less) counts as 10000.
QString PositionText(REFERENCE_TIME position, REFERENCE_TIME frameDuration);
// Reads a text of the form above: fields sit at fixed places from the end and
// count as 0 when missing or not a number. Saturates instead of overflowing.
REFERENCE_TIME PositionFromText(const QString &text, REFERENCE_TIME frameDuration);

// The largest a:b rectangle inside `rect` shrunk by `margin` on every side,
// centred; the shrunk rectangle itself unless a and b are both above 0.
// With `relative`, the result is relative to rect's top-left corner.
TRect AspectFit(int32_t a, int32_t b, const TRect &rect, int32_t margin, bool relative);
