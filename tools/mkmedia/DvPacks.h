// DV (IEC 61834, 25 Mbit/s) frame packs: writing the recording date, recording
// time, time code and audio auxiliary packs into frames from the dvvideo
// encoder, and reading them back the way a DV reader looks for them.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mkmedia {

constexpr size_t kDifSequenceSize = 12000;
constexpr size_t kDvPalFrameSize = 144000;  // 12 sequences, 625/50
constexpr size_t kDvNtscFrameSize = 120000; // 10 sequences, 525/60

struct DvDateTime {
    int year = 2004, month = 7, day = 15;
    int hour = 14, minute = 30, second = 0;
};

struct DvTimecode {
    int hours = 0, minutes = 0, seconds = 0, frames = 0;
};

// What one frame says about itself.
struct DvFrameCodes {
    bool pal = false;
    bool dateValid = false;
    DvDateTime date;
    bool timecodeValid = false;
    DvTimecode timecode;
    int audioRate = -1; // Hz from the AAUX source pack, -1 when absent
    int audioBits = -1;
    bool structureValid = false; // every sequence has the expected headers and packs
};

// Parses "YYYY-MM-DD hh:mm:ss"; false on anything else or an impossible date.
bool ParseDvDateTime(const char *text, DvDateTime &out);

// The date and time `seconds` after `start` (no time zones, no leap seconds).
DvDateTime AddSeconds(const DvDateTime &start, long long seconds);

// Audio samples per channel that 48 kHz DV carries in frame `frameNumber`.
int DvAudioSamples(bool pal, long long frameNumber);

// Samples per channel in the frames before `frameNumber`.
long long DvSamplesBefore(bool pal, long long frameNumber);

// The tone written into DV frames, sample `n` of channel 0 (left) or 1 (right).
int16_t DvToneSample(int channel, long long n);

// Writes into `frame` (one DV frame from the encoder) the time code, recording
// date and time packs in subcode and VAUX, and the AAUX packs and samples of a
// 48 kHz 16-bit stereo tone (DvToneSample). Returns false for a frame of the wrong size.
bool PatchDvFrame(uint8_t *frame, size_t size, long long frameNumber, const DvDateTime &start);

// Reads the packs of one DV frame (any size; sequences past the end are skipped).
DvFrameCodes ReadDvCodes(const uint8_t *frame, size_t size);

// The four data bytes of the first pack of `type` found in sequence 0's VAUX
// (0x60, 0x61) or AAUX (0x50, 0x51), little-endian as DVINFO stores them; 0 if absent.
uint32_t DvPackData(const uint8_t *frame, size_t size, uint8_t type);

} // namespace mkmedia
