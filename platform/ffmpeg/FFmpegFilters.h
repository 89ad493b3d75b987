// The filters backed by FFmpeg, their class identifiers and their entry in
// the filter catalogue.
//
// UI thread at start-up.
#pragma once

#include "platform/dshow/Strmif.h"

// Our own decoders. The frame-threaded one is preferred; the single-threaded
// one is the next choice when it is refused.
inline constexpr CLSID CLSID_VidstillVideoDecoder{0x5A1D0C01, 0x7E3B, 0x4C52,
                                                  {0x9B, 0x61, 0x2F, 0x10, 0xD4, 0x3A, 0x88, 0x01}};
inline constexpr CLSID CLSID_VidstillVideoDecoderST{0x5A1D0C01, 0x7E3B, 0x4C52,
                                                    {0x9B, 0x61, 0x2F, 0x10, 0xD4, 0x3A, 0x88, 0x02}};
inline constexpr CLSID CLSID_VidstillAudioDecoder{0x5A1D0C01, 0x7E3B, 0x4C52,
                                                  {0x9B, 0x61, 0x2F, 0x10, 0xD4, 0x3A, 0x88, 0x03}};
// The system's own H.264 decoder, which outranks ours for H.264 alone. The
// video manager keeps it away from a first connection of such a stream.
// {212690FB-83E5-4526-8FD7-74478B7939CD}
inline constexpr CLSID CLSID_SystemH264Decoder{0x212690FB, 0x83E5, 0x4526,
                                               {0x8F, 0xD7, 0x74, 0x47, 0x8B, 0x79, 0x39, 0xCD}};

// Registers "LAV Splitter Source", "File Source (Async.)", the named system
// splitters, "WM ASF Reader", "DV Splitter", "Smart Tee", "MPEG-2
// Demultiplexer", the video decoders (ours and "DTV-DVD Video Decoder") and
// the audio decoder.
// Calling it again replaces the entries.
void RegisterFFmpegFilters();
