// The splitters built on the libavformat splitter engine (CLavSplitter) and
// what each takes. "LAV Splitter Source" opens a file itself and takes
// whatever libavformat opens; the named system splitters read through a pull
// pin and take only their own containers, so that a graph falls back to the
// next choice exactly where the real ones would refuse; "WM ASF Reader" opens
// ASF files itself.
//
// Pure data and functions; any thread.
#pragma once

#include "platform/dshow/MediaType.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <string_view>
#include <vector>

struct SplitterProfile {
    CLSID clsid;
    const wchar_t *name;
    // IFileSourceFilter; otherwise pin 0 is an input taking a pull pin.
    bool fileSource;
    // A type-1 DV stream ('iavs') is one MEDIATYPE_Interleaved pin of whole frames.
    bool interleavedDv;
    // Whether the splitter takes what libavformat opened; `head` holds the
    // first bytes of the file.
    bool (*accepts)(const AVFormatContext *format, const std::vector<uint8_t> &head);
};

const SplitterProfile &LavSourceProfile();
const SplitterProfile &AviSplitterProfile();
const SplitterProfile &Mpeg2SplitterProfile();
const SplitterProfile &Mpeg1SplitterProfile();
const SplitterProfile &WaveParserProfile();
const SplitterProfile &AsfReaderProfile();

// Whether libavformat opened the file with the demuxer called `name`.
bool DemuxerIs(const AVFormatContext *format, std::string_view name);

// How many bytes of the file the checks look at.
inline constexpr size_t kSplitterHeadSize = 64 * 1024;

// 1 or 2 for an MPEG program/system stream whose first pack header says so,
// 0 when there is no pack header in `head`.
int MpegPackVersion(const std::vector<uint8_t> &head);

// True when the RIFF AVI headers in `head` declare a type-1 DV stream; its
// DVINFO (from the stream format chunk, zeros if absent) goes to *info.
bool FindInterleavedDv(const std::vector<uint8_t> &head, DVINFO *info);
