// GUID text form, ordering, hashing, FourCC identifiers and the SDK values
// that remembered decoder keys depend on.
#include "platform/dshow/Guid.h"
#include "platform/dshow/Uuids.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <unordered_set>

// Failures show the registry text rather than raw bytes.
void PrintTo(const GUID &g, std::ostream *os) { *os << GuidToString(g); }

TEST(Guid, TextRoundTripsInUpperCase)
{
    const GUID g{0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    EXPECT_EQ(GuidToString(g), "{0123ABCD-4567-89EF-0123-456789ABCDEF}");
    EXPECT_EQ(StringToGuid(GuidToString(g)), g);
    EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
    // Lower case is read too, and gives the same identifier.
    EXPECT_EQ(StringToGuid("{0123abcd-4567-89ef-0123-456789abcdef}"), g);
}

TEST(Guid, MalformedTextIsRefused)
{
    const char *bad[] = {
        "",
        "{}",
        "0123ABCD-4567-89EF-0123-456789ABCDEF",     // no braces
        "{0123ABCD-4567-89EF-0123-456789ABCDEF",    // no closing brace
        "{0123ABCD-4567-89EF-0123-456789ABCDEF} ",  // trailing blank
        " {0123ABCD-4567-89EF-0123-456789ABCDEF}",
        "{0123ABCD-4567-89EF-0123-456789ABCDEG}",   // not hex
        "{0123ABCD-4567-89EF-0123456789ABCDEF0}",   // dash moved
        "{0123ABCD:4567-89EF-0123-456789ABCDEF}",
        "{+123ABCD-4567-89EF-0123-456789ABCDEF}",   // sign is not a digit
        "{0123ABCD-4567-89EF-0123-456789ABCDEF0}",  // too long
    };
    for (const char *text : bad)
        EXPECT_FALSE(StringToGuid(text).has_value()) << text;
}

TEST(Guid, OrderAndHashUseEveryField)
{
    const GUID a = FourCCGuid(1);
    GUID b = a;
    b.Data4[7] ^= 1;
    GUID c = a;
    c.Data2 = 1;
    EXPECT_NE(a, b);
    EXPECT_TRUE(a < b || b < a);
    EXPECT_LT(FourCCGuid(1), FourCCGuid(2));
    // Data1 decides before the later fields.
    const GUID high{1, 0xFFFF, 0xFFFF, {0xFF}};
    const GUID low{2, 0, 0, {}};
    EXPECT_LT(high, low);

    const std::set<GUID> ordered{a, b, c, a};
    EXPECT_EQ(ordered.size(), 3u);
    const std::unordered_set<GUID> hashed{a, b, c, FourCCGuid(2), a};
    EXPECT_EQ(hashed.size(), 4u);
    EXPECT_NE(std::hash<GUID>{}(a), std::hash<GUID>{}(b));
}

TEST(Guid, FourCCIdentifiersAndTexts)
{
    EXPECT_EQ(MAKEFOURCC('d', 'v', 's', 'd'), 0x64737664u);
    EXPECT_EQ(GuidToString(FourCCGuid(MAKEFOURCC('H', '2', '6', '4'))),
              "{34363248-0000-0010-8000-00AA00389B71}");
    EXPECT_TRUE(IsFourCCGuid(MEDIATYPE_Video));
    EXPECT_TRUE(IsFourCCGuid(MEDIASUBTYPE_PCM));
    EXPECT_FALSE(IsFourCCGuid(MEDIASUBTYPE_RGB24));
    EXPECT_FALSE(IsFourCCGuid(GUID_NULL));
    GUID nearly = MEDIASUBTYPE_dvsd;
    nearly.Data4[7] = 0x72;
    EXPECT_FALSE(IsFourCCGuid(nearly));

    EXPECT_EQ(FourCCText(MEDIASUBTYPE_dvsd.Data1), "dvsd");
    EXPECT_EQ(FourCCText(MAKEFOURCC('A', 'V', 'C', '1')), "AVC1");
    EXPECT_EQ(FourCCText(0x55), std::string("U\0\0\0", 4));  // always four bytes
}

// Values written as text by the decoder memory must match the SDK's.
TEST(Guid, KnownSdkValues)
{
    struct Case {
        const GUID &guid;
        const char *text;
        const char *name;
    } cases[] = {
        {MEDIATYPE_Video, "{73646976-0000-0010-8000-00AA00389B71}", "MEDIATYPE_Video"},
        {MEDIATYPE_Audio, "{73647561-0000-0010-8000-00AA00389B71}", "MEDIATYPE_Audio"},
        {MEDIATYPE_Interleaved, "{73766169-0000-0010-8000-00AA00389B71}", "MEDIATYPE_Interleaved"},
        {MEDIATYPE_Stream, "{E436EB83-524F-11CE-9F53-0020AF0BA770}", "MEDIATYPE_Stream"},
        {MEDIASUBTYPE_RGB24, "{E436EB7D-524F-11CE-9F53-0020AF0BA770}", "MEDIASUBTYPE_RGB24"},
        {MEDIASUBTYPE_ARGB32, "{773C9AC0-3274-11D0-B724-00AA006C1A01}", "MEDIASUBTYPE_ARGB32"},
        {MEDIASUBTYPE_MPEG2_VIDEO, "{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}", "MEDIASUBTYPE_MPEG2_VIDEO"},
        {MEDIASUBTYPE_MPEG1AudioPayload, "{00000050-0000-0010-8000-00AA00389B71}",
         "MEDIASUBTYPE_MPEG1AudioPayload"},
        {MEDIASUBTYPE_Asf, "{3DB80F90-9412-11D1-ADED-0000F8754B99}", "MEDIASUBTYPE_Asf"},
        {FORMAT_VideoInfo, "{05589F80-C356-11CE-BF01-00AA0055595A}", "FORMAT_VideoInfo"},
        {FORMAT_VideoInfo2, "{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}", "FORMAT_VideoInfo2"},
        {FORMAT_MPEG2Video, "{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}", "FORMAT_MPEG2Video"},
        {FORMAT_None, "{0F6417D6-C318-11D0-A43F-00A0C9223196}", "FORMAT_None"},
        {TIME_FORMAT_MEDIA_TIME, "{7B785574-8C82-11CF-BC0C-00AA00AC74F6}", "TIME_FORMAT_MEDIA_TIME"},
        {PIN_CATEGORY_CAPTURE, "{FB6C4281-0353-11D1-905F-0000C0CC16BA}", "PIN_CATEGORY_CAPTURE"},
        {LOOK_DOWNSTREAM_ONLY, "{AC798BE1-98E3-11D1-B3F1-00AA003761C5}", "LOOK_DOWNSTREAM_ONLY"},
        {CLSID_CaptureGraphBuilder2, "{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}",
         "CLSID_CaptureGraphBuilder2"},
        {CLSID_AsyncReader, "{E436EBB5-524F-11CE-9F53-0020AF0BA770}", "CLSID_AsyncReader"},
        {CLSID_WAVEParser, "{D51BD5A1-7548-11CF-A520-0080C77EF58A}", "CLSID_WAVEParser"},
        {CLSID_DSoundRender, "{79376820-07D0-11CF-A24D-0020AFD79767}", "CLSID_DSoundRender"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(GuidToString(c.guid), c.text) << c.name;
        ASSERT_NE(GuidName(c.guid), nullptr) << c.name;
        EXPECT_STREQ(GuidName(c.guid), c.name);
    }
    // An alias answers with the first name; an unknown identifier with none.
    EXPECT_STREQ(GuidName(FORMAT_MPEG2_VIDEO), "FORMAT_MPEG2Video");
    EXPECT_STREQ(GuidName(TIME_FORMAT_NONE), "GUID_NULL");
    EXPECT_EQ(GuidName(FourCCGuid(MAKEFOURCC('Z', 'Z', 'Z', 'Z'))), nullptr);
}
