// Format-block layouts against the SDK's, and the media type value: format
// ownership, typed access, equality and partial matching.
#include "platform/dshow/MediaType.h"
#include "platform/dshow/Uuids.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>

// Offsets of the fields that readers use, as the SDK headers lay them out.
TEST(FormatBlocks, FieldOffsetsMatchTheSdk)
{
    EXPECT_EQ(offsetof(BITMAPINFOHEADER, biWidth), 4u);
    EXPECT_EQ(offsetof(BITMAPINFOHEADER, biBitCount), 14u);
    EXPECT_EQ(offsetof(BITMAPINFOHEADER, biCompression), 16u);
    EXPECT_EQ(offsetof(BITMAPINFOHEADER, biClrImportant), 36u);

    EXPECT_EQ(offsetof(VIDEOINFOHEADER, rcTarget), 16u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER, dwBitRate), 32u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER, AvgTimePerFrame), 40u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER, bmiHeader), 48u);

    EXPECT_EQ(offsetof(VIDEOINFOHEADER2, AvgTimePerFrame), 40u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER2, dwInterlaceFlags), 48u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER2, dwPictAspectRatioX), 56u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER2, dwPictAspectRatioY), 60u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER2, dwControlFlags), 64u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER2, bmiHeader), 72u);

    EXPECT_EQ(offsetof(MPEG1VIDEOINFO, dwStartTimeCode), 88u);
    EXPECT_EQ(offsetof(MPEG1VIDEOINFO, cbSequenceHeader), 92u);
    EXPECT_EQ(offsetof(MPEG1VIDEOINFO, bSequenceHeader), 96u);

    EXPECT_EQ(offsetof(MPEG2VIDEOINFO, dwStartTimeCode), 112u);
    EXPECT_EQ(offsetof(MPEG2VIDEOINFO, cbSequenceHeader), 116u);
    EXPECT_EQ(offsetof(MPEG2VIDEOINFO, dwFlags), 128u);
    EXPECT_EQ(offsetof(MPEG2VIDEOINFO, dwSequenceHeader), 132u);

    EXPECT_EQ(offsetof(DVINFO, dwDVVAuxSrc), 16u);

    // Byte-packed: no hole after the two leading WORDs.
    EXPECT_EQ(offsetof(WAVEFORMATEX, nSamplesPerSec), 4u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nBlockAlign), 12u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, wBitsPerSample), 14u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, cbSize), 16u);
    EXPECT_EQ(alignof(WAVEFORMATEX), 1u);
}

TEST(FormatBlocks, SequenceHeaderSizes)
{
    MPEG1VIDEOINFO m1{};
    m1.cbSequenceHeader = 12;
    EXPECT_EQ(SIZE_MPEG1VIDEOINFO(&m1), 108u);
    MPEG2VIDEOINFO m2{};
    m2.cbSequenceHeader = 0;
    EXPECT_EQ(SIZE_MPEG2VIDEOINFO(&m2), 132u);  // shorter than the struct
}

TEST(CMediaType, DefaultsAreTheSdks)
{
    CMediaType mt;
    EXPECT_EQ(mt.majortype, GUID_NULL);
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_FALSE(mt.bTemporalCompression);
    EXPECT_EQ(mt.lSampleSize, 1u);
    EXPECT_EQ(mt.FormatLength(), 0u);
    EXPECT_EQ(mt.Format(), nullptr);
    EXPECT_FALSE(mt.IsValid());
    EXPECT_TRUE(mt.IsPartiallySpecified());

    mt.SetSampleSize(0);
    EXPECT_FALSE(mt.IsFixedSize());
    EXPECT_EQ(mt.GetSampleSize(), 0u);
    mt.SetSampleSize(4096);
    EXPECT_EQ(mt.GetSampleSize(), 4096u);
}

TEST(CMediaType, TypedFormatNeedsTheWholeStruct)
{
    CMediaType mt(MEDIATYPE_Video, MEDIASUBTYPE_dvsd, FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biWidth = 720;
    vih.AvgTimePerFrame = 400000;
    const std::array<BYTE, 3> palette{1, 2, 3};
    mt.SetFormat(vih, palette);
    ASSERT_EQ(mt.FormatLength(), sizeof(VIDEOINFOHEADER) + 3);
    EXPECT_EQ(mt.Format()[sizeof(VIDEOINFOHEADER) + 2], 3);
    const VIDEOINFOHEADER *read = mt.FormatAs<VIDEOINFOHEADER>();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->bmiHeader.biWidth, 720);
    EXPECT_EQ(read->AvgTimePerFrame, 400000);
    EXPECT_EQ(mt.FormatAs<VIDEOINFOHEADER2>(), nullptr);  // 91 < 112 bytes

    mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER) - 1);  // one byte short
    EXPECT_EQ(mt.FormatAs<VIDEOINFOHEADER>(), nullptr);
    EXPECT_NE(mt.FormatAs<BITMAPINFOHEADER>(), nullptr);
    mt.ResetFormatBuffer();
    EXPECT_EQ(mt.FormatAs<BITMAPINFOHEADER>(), nullptr);
}

TEST(CMediaType, CopiesOwnTheirFormat)
{
    CMediaType a(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    a.SetFormat(wfx);
    CMediaType b = a;
    EXPECT_EQ(a, b);
    b.FormatAs<WAVEFORMATEX>()->nChannels = 1;
    EXPECT_EQ(a.FormatAs<WAVEFORMATEX>()->nChannels, 2);
    EXPECT_NE(a, b);  // format bytes take part

    CMediaType c = a;
    c.SetSampleSize(0);
    c.bTemporalCompression = true;
    EXPECT_EQ(a, c);  // sample fields do not, as in the SDK
    c.subtype = MEDIASUBTYPE_IEEE_FLOAT;
    EXPECT_NE(a, c);
}

TEST(CMediaType, PartialMatchTreatsNullAsWildcard)
{
    CMediaType full(MEDIATYPE_Video, MEDIASUBTYPE_YV12, FORMAT_VideoInfo);
    full.SetFormat(VIDEOINFOHEADER{});

    struct Case {
        GUID major, sub, format;
        bool withSameBlock;
        bool expected;
    } cases[] = {
        {GUID_NULL, GUID_NULL, GUID_NULL, false, true},
        {MEDIATYPE_Video, GUID_NULL, GUID_NULL, false, true},
        {MEDIATYPE_Audio, GUID_NULL, GUID_NULL, false, false},
        {MEDIATYPE_Video, MEDIASUBTYPE_YV12, GUID_NULL, false, true},
        {GUID_NULL, MEDIASUBTYPE_NV12, GUID_NULL, false, false},
        // A named format type also compares the format block.
        {MEDIATYPE_Video, MEDIASUBTYPE_YV12, FORMAT_VideoInfo, false, false},
        {MEDIATYPE_Video, MEDIASUBTYPE_YV12, FORMAT_VideoInfo, true, true},
        {GUID_NULL, GUID_NULL, FORMAT_VideoInfo2, true, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        CMediaType partial(c.major, c.sub, c.format);
        if (c.withSameBlock)
            partial.SetFormat(full.Format(), full.FormatLength());
        EXPECT_EQ(full.MatchesPartial(partial), c.expected) << "case " << i;
    }
}
