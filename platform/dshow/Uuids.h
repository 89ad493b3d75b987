// Identifiers of media types, subtypes, format blocks, time formats, pin
// categories and the system filter classes, with the Windows SDK's names and
// values (remembered decoder keys are written with these values).
//
// Constants; any thread.
#pragma once

#include "platform/dshow/Guid.h"

namespace dshow_uuids_detail {
// The SDK's three families of non-FourCC media identifiers.
constexpr GUID Quartz(uint32_t d1)  // {XXXXXXXX-524F-11CE-9F53-0020AF0BA770}
{
    return GUID{d1, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
}
constexpr GUID Mpeg2(uint32_t d1)  // {XXXXXXXX-DB46-11CF-B4D1-00805F6CBBEA}
{
    return GUID{d1, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
}
constexpr GUID FormatBlock(uint32_t d1)  // {XXXXXXXX-C356-11CE-BF01-00AA0055595A}
{
    return GUID{d1, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
}
constexpr GUID TimeFormat(uint32_t d1)  // {XXXXXXXX-8C82-11CF-BC0C-00AA00AC74F6}
{
    return GUID{d1, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};
}
constexpr GUID PinCategory(uint32_t d1)  // {XXXXXXXX-0353-11D1-905F-0000C0CC16BA}
{
    return GUID{d1, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
}
constexpr GUID Tag(char a, char b, char c, char d) { return FourCCGuid(MAKEFOURCC(a, b, c, d)); }
} // namespace dshow_uuids_detail

// ---- Major types ----------------------------------------------------------
inline constexpr GUID MEDIATYPE_NULL = GUID_NULL;
inline constexpr GUID MEDIATYPE_Video = dshow_uuids_detail::Tag('v', 'i', 'd', 's');
inline constexpr GUID MEDIATYPE_Audio = dshow_uuids_detail::Tag('a', 'u', 'd', 's');
inline constexpr GUID MEDIATYPE_Text = dshow_uuids_detail::Tag('t', 'x', 't', 's');
inline constexpr GUID MEDIATYPE_Midi = dshow_uuids_detail::Tag('m', 'i', 'd', 's');
inline constexpr GUID MEDIATYPE_Interleaved = dshow_uuids_detail::Tag('i', 'a', 'v', 's');
inline constexpr GUID MEDIATYPE_File = dshow_uuids_detail::Tag('f', 'i', 'l', 'e');
inline constexpr GUID MEDIATYPE_ScriptCommand = dshow_uuids_detail::Tag('d', 'm', 'c', 's');
inline constexpr GUID MEDIATYPE_Stream = dshow_uuids_detail::Quartz(0xE436EB83);
inline constexpr GUID MEDIATYPE_MPEG1SystemStream = dshow_uuids_detail::Quartz(0xE436EB82);
inline constexpr GUID MEDIATYPE_Timecode{0x0482DEE3, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
inline constexpr GUID MEDIATYPE_MPEG2_PACK{0x36523B13, 0x8EE5, 0x11D1, {0x8C, 0xA3, 0x00, 0x60, 0xB0, 0x57, 0x66, 0x4A}};
inline constexpr GUID MEDIATYPE_MPEG2_PES = dshow_uuids_detail::Mpeg2(0xE06D8020);

// ---- Subtypes ---------------------------------------------------------------
inline constexpr GUID MEDIASUBTYPE_NULL = GUID_NULL;
inline constexpr GUID MEDIASUBTYPE_None = dshow_uuids_detail::Quartz(0xE436EB8E);

// Uncompressed RGB.
inline constexpr GUID MEDIASUBTYPE_RGB1 = dshow_uuids_detail::Quartz(0xE436EB78);
inline constexpr GUID MEDIASUBTYPE_RGB4 = dshow_uuids_detail::Quartz(0xE436EB79);
inline constexpr GUID MEDIASUBTYPE_RGB8 = dshow_uuids_detail::Quartz(0xE436EB7A);
inline constexpr GUID MEDIASUBTYPE_RGB565 = dshow_uuids_detail::Quartz(0xE436EB7B);
inline constexpr GUID MEDIASUBTYPE_RGB555 = dshow_uuids_detail::Quartz(0xE436EB7C);
inline constexpr GUID MEDIASUBTYPE_RGB24 = dshow_uuids_detail::Quartz(0xE436EB7D);
inline constexpr GUID MEDIASUBTYPE_RGB32 = dshow_uuids_detail::Quartz(0xE436EB7E);
inline constexpr GUID MEDIASUBTYPE_ARGB32{0x773C9AC0, 0x3274, 0x11D0, {0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01}};

// YUV, by FourCC.
inline constexpr GUID MEDIASUBTYPE_YV12 = dshow_uuids_detail::Tag('Y', 'V', '1', '2');
inline constexpr GUID MEDIASUBTYPE_I420 = dshow_uuids_detail::Tag('I', '4', '2', '0');
inline constexpr GUID MEDIASUBTYPE_IYUV = dshow_uuids_detail::Tag('I', 'Y', 'U', 'V');
inline constexpr GUID MEDIASUBTYPE_NV12 = dshow_uuids_detail::Tag('N', 'V', '1', '2');
inline constexpr GUID MEDIASUBTYPE_YUY2 = dshow_uuids_detail::Tag('Y', 'U', 'Y', '2');
inline constexpr GUID MEDIASUBTYPE_YUYV = dshow_uuids_detail::Tag('Y', 'U', 'Y', 'V');
inline constexpr GUID MEDIASUBTYPE_UYVY = dshow_uuids_detail::Tag('U', 'Y', 'V', 'Y');
inline constexpr GUID MEDIASUBTYPE_YVYU = dshow_uuids_detail::Tag('Y', 'V', 'Y', 'U');
inline constexpr GUID MEDIASUBTYPE_AYUV = dshow_uuids_detail::Tag('A', 'Y', 'U', 'V');

// DV. The SDK's dvsd is lower case; DVSD and DVCS are other codes. 'dvcp'
// (DVCPRO) has no SDK name but is how DV type 1 streams are tagged.
inline constexpr GUID MEDIASUBTYPE_dvsd = dshow_uuids_detail::Tag('d', 'v', 's', 'd');
inline constexpr GUID MEDIASUBTYPE_dvhd = dshow_uuids_detail::Tag('d', 'v', 'h', 'd');
inline constexpr GUID MEDIASUBTYPE_dvsl = dshow_uuids_detail::Tag('d', 'v', 's', 'l');
inline constexpr GUID MEDIASUBTYPE_dv25 = dshow_uuids_detail::Tag('d', 'v', '2', '5');
inline constexpr GUID MEDIASUBTYPE_dv50 = dshow_uuids_detail::Tag('d', 'v', '5', '0');
inline constexpr GUID MEDIASUBTYPE_dvh1 = dshow_uuids_detail::Tag('d', 'v', 'h', '1');
inline constexpr GUID MEDIASUBTYPE_dvcp = dshow_uuids_detail::Tag('d', 'v', 'c', 'p');
inline constexpr GUID MEDIASUBTYPE_DVSD = dshow_uuids_detail::Tag('D', 'V', 'S', 'D');
inline constexpr GUID MEDIASUBTYPE_DVCS = dshow_uuids_detail::Tag('D', 'V', 'C', 'S');

// Compressed video by FourCC, as a libavformat splitter tags it.
inline constexpr GUID MEDIASUBTYPE_H264 = dshow_uuids_detail::Tag('H', '2', '6', '4');
inline constexpr GUID MEDIASUBTYPE_h264 = dshow_uuids_detail::Tag('h', '2', '6', '4');
inline constexpr GUID MEDIASUBTYPE_AVC1 = dshow_uuids_detail::Tag('A', 'V', 'C', '1');
inline constexpr GUID MEDIASUBTYPE_avc1 = dshow_uuids_detail::Tag('a', 'v', 'c', '1');
inline constexpr GUID MEDIASUBTYPE_MP4V = dshow_uuids_detail::Tag('M', 'P', '4', 'V');
inline constexpr GUID MEDIASUBTYPE_XVID = dshow_uuids_detail::Tag('X', 'V', 'I', 'D');
inline constexpr GUID MEDIASUBTYPE_MJPG = dshow_uuids_detail::Tag('M', 'J', 'P', 'G');
inline constexpr GUID MEDIASUBTYPE_WMV3 = dshow_uuids_detail::Tag('W', 'M', 'V', '3');
inline constexpr GUID MEDIASUBTYPE_WVC1 = dshow_uuids_detail::Tag('W', 'V', 'C', '1');

// MPEG-1.
inline constexpr GUID MEDIASUBTYPE_MPEG1Packet = dshow_uuids_detail::Quartz(0xE436EB80);
inline constexpr GUID MEDIASUBTYPE_MPEG1Payload = dshow_uuids_detail::Quartz(0xE436EB81);
inline constexpr GUID MEDIASUBTYPE_MPEG1System = dshow_uuids_detail::Quartz(0xE436EB84);
inline constexpr GUID MEDIASUBTYPE_MPEG1VideoCD = dshow_uuids_detail::Quartz(0xE436EB85);
inline constexpr GUID MEDIASUBTYPE_MPEG1Video = dshow_uuids_detail::Quartz(0xE436EB86);
inline constexpr GUID MEDIASUBTYPE_MPEG1Audio = dshow_uuids_detail::Quartz(0xE436EB87);
inline constexpr GUID MEDIASUBTYPE_MPEG1AudioPayload = FourCCGuid(0x0050);

// MPEG-2 and DVD.
inline constexpr GUID MEDIASUBTYPE_MPEG2_VIDEO = dshow_uuids_detail::Mpeg2(0xE06D8026);
inline constexpr GUID MEDIASUBTYPE_MPEG2_PROGRAM = dshow_uuids_detail::Mpeg2(0xE06D8022);
inline constexpr GUID MEDIASUBTYPE_MPEG2_TRANSPORT = dshow_uuids_detail::Mpeg2(0xE06D8023);
inline constexpr GUID MEDIASUBTYPE_MPEG2_AUDIO = dshow_uuids_detail::Mpeg2(0xE06D802B);
inline constexpr GUID MEDIASUBTYPE_DOLBY_AC3 = dshow_uuids_detail::Mpeg2(0xE06D802C);
inline constexpr GUID MEDIASUBTYPE_DVD_SUBPICTURE = dshow_uuids_detail::Mpeg2(0xE06D802D);
inline constexpr GUID MEDIASUBTYPE_DVD_LPCM_AUDIO = dshow_uuids_detail::Mpeg2(0xE06D8032);

// Audio by wave format tag (the tag is the first 32 bits).
inline constexpr GUID MEDIASUBTYPE_PCM = FourCCGuid(0x0001);
inline constexpr GUID MEDIASUBTYPE_IEEE_FLOAT = FourCCGuid(0x0003);
inline constexpr GUID MEDIASUBTYPE_DOLBY_AC3_SPDIF = FourCCGuid(0x0092);
inline constexpr GUID MEDIASUBTYPE_MPEG_LAYER3 = FourCCGuid(0x0055);
inline constexpr GUID MEDIASUBTYPE_RAW_AAC1 = FourCCGuid(0x00FF);
inline constexpr GUID MEDIASUBTYPE_WMAUDIO2 = FourCCGuid(0x0161);

// Byte streams (subtypes of MEDIATYPE_Stream).
inline constexpr GUID MEDIASUBTYPE_Avi = dshow_uuids_detail::Quartz(0xE436EB88);
inline constexpr GUID MEDIASUBTYPE_QTMovie = dshow_uuids_detail::Quartz(0xE436EB89);
inline constexpr GUID MEDIASUBTYPE_WAVE = dshow_uuids_detail::Quartz(0xE436EB8B);
inline constexpr GUID MEDIASUBTYPE_AU = dshow_uuids_detail::Quartz(0xE436EB8C);
inline constexpr GUID MEDIASUBTYPE_AIFF = dshow_uuids_detail::Quartz(0xE436EB8D);
inline constexpr GUID MEDIASUBTYPE_Asf{0x3DB80F90, 0x9412, 0x11D1, {0xAD, 0xED, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99}};

// ---- Format block types -----------------------------------------------------
inline constexpr GUID FORMAT_None{0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID FORMAT_VideoInfo = dshow_uuids_detail::FormatBlock(0x05589F80);
inline constexpr GUID FORMAT_WaveFormatEx = dshow_uuids_detail::FormatBlock(0x05589F81);
inline constexpr GUID FORMAT_MPEGVideo = dshow_uuids_detail::FormatBlock(0x05589F82);
inline constexpr GUID FORMAT_MPEGStreams = dshow_uuids_detail::FormatBlock(0x05589F83);
inline constexpr GUID FORMAT_DvInfo = dshow_uuids_detail::FormatBlock(0x05589F84);
inline constexpr GUID FORMAT_VideoInfo2{0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID FORMAT_MPEG2Video = dshow_uuids_detail::Mpeg2(0xE06D80E3);
inline constexpr GUID FORMAT_MPEG2_VIDEO = FORMAT_MPEG2Video;  // the SDK's second name
inline constexpr GUID FORMAT_DolbyAC3 = dshow_uuids_detail::Mpeg2(0xE06D80E4);
inline constexpr GUID FORMAT_MPEG2Audio = dshow_uuids_detail::Mpeg2(0xE06D80E5);
inline constexpr GUID FORMAT_DVD_LPCMAudio = dshow_uuids_detail::Mpeg2(0xE06D80E6);

// ---- Time formats (IMediaSeeking) -------------------------------------------
inline constexpr GUID TIME_FORMAT_NONE = GUID_NULL;
inline constexpr GUID TIME_FORMAT_FRAME = dshow_uuids_detail::TimeFormat(0x7B785570);
inline constexpr GUID TIME_FORMAT_BYTE = dshow_uuids_detail::TimeFormat(0x7B785571);
inline constexpr GUID TIME_FORMAT_SAMPLE = dshow_uuids_detail::TimeFormat(0x7B785572);
inline constexpr GUID TIME_FORMAT_FIELD = dshow_uuids_detail::TimeFormat(0x7B785573);
inline constexpr GUID TIME_FORMAT_MEDIA_TIME = dshow_uuids_detail::TimeFormat(0x7B785574);

// ---- Pin categories and search directions (ICaptureGraphBuilder2) -----------
inline constexpr GUID PIN_CATEGORY_CAPTURE = dshow_uuids_detail::PinCategory(0xFB6C4281);
inline constexpr GUID PIN_CATEGORY_PREVIEW = dshow_uuids_detail::PinCategory(0xFB6C4282);
inline constexpr GUID PIN_CATEGORY_ANALOGVIDEOIN = dshow_uuids_detail::PinCategory(0xFB6C4283);
inline constexpr GUID PIN_CATEGORY_VBI = dshow_uuids_detail::PinCategory(0xFB6C4284);
inline constexpr GUID PIN_CATEGORY_VIDEOPORT = dshow_uuids_detail::PinCategory(0xFB6C4285);
inline constexpr GUID PIN_CATEGORY_NABTS = dshow_uuids_detail::PinCategory(0xFB6C4286);
inline constexpr GUID PIN_CATEGORY_EDS = dshow_uuids_detail::PinCategory(0xFB6C4287);
inline constexpr GUID PIN_CATEGORY_TELETEXT = dshow_uuids_detail::PinCategory(0xFB6C4288);
inline constexpr GUID PIN_CATEGORY_CC = dshow_uuids_detail::PinCategory(0xFB6C4289);
inline constexpr GUID PIN_CATEGORY_STILL = dshow_uuids_detail::PinCategory(0xFB6C428A);
inline constexpr GUID PIN_CATEGORY_TIMECODE = dshow_uuids_detail::PinCategory(0xFB6C428B);
inline constexpr GUID PIN_CATEGORY_VIDEOPORT_VBI = dshow_uuids_detail::PinCategory(0xFB6C428C);
inline constexpr GUID LOOK_UPSTREAM_ONLY{0xAC798BE0, 0x98E3, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr GUID LOOK_DOWNSTREAM_ONLY{0xAC798BE1, 0x98E3, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};

// ---- Graph objects and system filters ----------------------------------------
inline constexpr GUID CLSID_FilterGraph = dshow_uuids_detail::Quartz(0xE436EBB3);
inline constexpr GUID CLSID_FilterGraphNoThread = dshow_uuids_detail::Quartz(0xE436EBB8);
inline constexpr GUID CLSID_SystemClock = dshow_uuids_detail::Quartz(0xE436EBB1);
inline constexpr GUID CLSID_CaptureGraphBuilder2{0xBF87B6E1, 0x8C27, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
// "File Source (Async.)"
inline constexpr GUID CLSID_AsyncReader = dshow_uuids_detail::Quartz(0xE436EBB5);
// "LAV Splitter Source" (source and splitter in one)
inline constexpr GUID CLSID_LAVSplitterSource{0xB98D13E7, 0x55DB, 0x4385, {0xA3, 0x3D, 0x09, 0xFD, 0x1B, 0xA2, 0x63, 0x38}};
// "AVI Splitter"
inline constexpr GUID CLSID_AviSplitter{0x1B544C20, 0xFD0B, 0x11CE, {0x8C, 0x63, 0x00, 0xAA, 0x00, 0x44, 0xB5, 0x1E}};
// "MPEG-2 Splitter"
inline constexpr GUID CLSID_MMSPLITTER{0x3AE86B20, 0x7BE8, 0x11D1, {0xAB, 0xE6, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
// "MPEG-I Stream Splitter"
inline constexpr GUID CLSID_MPEG1Splitter{0x336475D0, 0x942A, 0x11CE, {0xA8, 0x70, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};
// "WM ASF Reader"
inline constexpr GUID CLSID_WMAsfReader{0x187463A0, 0x5BB7, 0x11D3, {0xAC, 0xBE, 0x00, 0x80, 0xC7, 0x5E, 0x24, 0x6E}};
// "Wave Parser"
inline constexpr GUID CLSID_WAVEParser{0xD51BD5A1, 0x7548, 0x11CF, {0xA5, 0x20, 0x00, 0x80, 0xC7, 0x7E, 0xF5, 0x8A}};
// "DV Splitter"
inline constexpr GUID CLSID_DVSplitter{0x4EB31670, 0x9FC6, 0x11CF, {0xAF, 0x6E, 0x00, 0xAA, 0x00, 0xB6, 0x7A, 0x42}};
// "MPEG-2 Demultiplexer"
inline constexpr GUID CLSID_MPEG2Demultiplexer{0xAFB6C280, 0x2C41, 0x11D3, {0x8A, 0x60, 0x00, 0x00, 0xF8, 0x1E, 0x0E, 0x4A}};
// "Smart Tee"
inline constexpr GUID CLSID_SmartTee{0xCC58E280, 0x8AA1, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
// "Video Mixing Renderer 9"
inline constexpr GUID CLSID_VideoMixingRenderer9{0x51B4ABF3, 0x748F, 0x4E3B, {0xA2, 0x76, 0xC8, 0x28, 0x33, 0x0E, 0x92, 0x6A}};
// "DirectSound Audio Renderer"
inline constexpr GUID CLSID_DSoundRender{0x79376820, 0x07D0, 0x11CF, {0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};

// The SDK name of an identifier above ("MEDIATYPE_Video"), for probes and
// logs; nullptr for one that is not listed. Aliases answer with one name.
const char *GuidName(REFGUID guid);
