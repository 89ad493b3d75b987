// What a DV frame and an MPEG-2 sequence header say about themselves: the
// readers behind the stream notifier (DV after IEC 61834: DIF sequences of
// 12000 bytes, subcode and VAUX/AAUX packs of a type byte and four data
// bytes; MPEG-2 after ISO/IEC 13818-2).
//
// Pure functions; any thread. Every reader takes the buffer's real length and
// never reads past it: a sequence that does not fit whole is not looked at.
// Offsets below are within a DIF sequence.
#pragma once

#include "KWPack/uMediaFormats.h"

#include <cstddef>
#include <cstdint>

inline constexpr size_t kDIFSequenceSize = 12000;
inline constexpr size_t kDVFrameSize625 = 144000;  // 12 sequences, 625/50
inline constexpr size_t kDVFrameSize525 = 120000;  // 10 sequences, 525/60
// Only the first ten sequences are ever scanned for packs.
inline constexpr int kDVScannedSequences = 10;

// 0 (625/50) or 1 (525/60) by majority over sequences 0 to 9: byte 3 of a
// sequence 0xBF votes 625/50, 0x3F votes 525/60; a tie (or no vote) gives 2.
uint8_t DVBroadcastSystem(const uint8_t *frame, size_t size);

// The recording date and time of the first of sequences 0 to 9 that carries
// one: VAUX pack at 458 of type 0x62 (or 0) and pack at 463 of type 0x63
// (or 0). Day BCD of 460 (tens mask 0x30), month low four bits of 461 plus 10
// when bit 4 is set, year BCD of 462 (tens = high four bits) plus 2000 below
// 40 else 1900, hours BCD of 467 (0x30), minutes BCD of 466 (0x70), seconds
// BCD of 465 (0x70). The first sequence with those pack types decides: false
// when none has them or its values are no real date and time (then dateTime
// is left alone). dateTime: days since 30 December 1899, fraction = time of
// day (see platform/base/DateTimeText.h).
bool DVRecordingDate(const uint8_t *frame, size_t size, double &dateTime);

// The time code (hours, minutes, seconds, frames) of the first of sequences 0
// to 9 whose subcode packs at 110 and 190 both have type 0x13: bytes 111 to
// 114 are frames (tens mask 0x30), seconds (0x70), minutes (0x70), hours
// (0x30). False (timeCode untouched) when none has one.
bool DVTimeCode(const uint8_t *frame, size_t size, uint8_t timeCode[4]);

// acAspect16x9 when the first of sequences 0 to 9 whose byte 453 is 0x61
// (VAUX source control) has low three bits of byte 455 equal to 2, or to 7
// while the low three bits of its byte 7 are 0; acAspect4x3 otherwise.
int32_t DVAspectCode(const uint8_t *frame, size_t size);

// From the first of sequences 0 to 9 whose byte 4323 is 0x50 (AAUX source):
// rate by bits 5..3 of byte 4327 (0 48000, 1 44100, 2 32000, other 0) and
// quantisation by bits 2..0 (0 16, 1 12, other 0). Without such a sequence
// both are -1 and the result is false.
bool DVAudioFormat(const uint8_t *frame, size_t size, int32_t &rate, int32_t &bits);

// The DIF structure check: 12 sequences when size is 144000 (625/50), else 10
// (525/60), each with byte 3 0xBF (625/50) or 0x3F (525/60), bit 7 of byte 5
// clear, 0x60 at 243 and 0x61 at 248 (odd sequences) or 0x60 at 448 and 0x61
// at 453 (even), and the AAUX pack at 483 (odd) or 4323 (even) of type 0x50
// with bits 5..3 of its fourth data byte below 3 and 0x51 1280 bytes further.
// False when a sequence fails or does not fit in the buffer.
bool DVStructureValid(const uint8_t *frame, size_t size);

// The MPEG-2 sequence header check: the buffer starts 00 00 01 B3 and byte 7
// has a non-zero aspect ratio code (high four bits) and frame rate code (low
// four bits). Then fills `video`: Width = byte 4 x 16 + high nibble of byte 5,
// Height = low nibble of byte 5 x 256 + byte 6, AspectCode 0 for aspect code
// 2, 1 for 3, else 2, FrameRate by code 1..8 (23.976..60; 0 for codes 9 to
// 15), FormatText "MPEG2" plus " (4x3)" / " (16x9)" for aspect codes 0 and 1.
// False (video untouched) when the check fails or the buffer is shorter than 8.
bool MPEG2SequenceHeader(const uint8_t *data, size_t size, TVideoData &video);
