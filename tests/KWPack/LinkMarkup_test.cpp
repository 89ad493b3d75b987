// The link label's mark-up without a widget: texts, runs, alignment, links.
#include "KWPack/uLinkMarkup.h"

#include <gtest/gtest.h>

namespace {

TMarkupContext Ctx()
{
    TMarkupContext c;
    c.Base.Color = clBlack;
    c.Base.Size = 9;
    c.Base.FontName = QStringLiteral("Base Face");
    c.Alignment = TMarkupAlign::Left;
    // Distinct link colours, so a test sees which kind a run was given.
    c.UrlColor = clRed;
    c.MailColor = clGreen;
    c.LinkColor = clBlue;
    return c;
}

TMarkupAttrs At(const TMarkupLayout &l, int pos) { return AttrsAt(l, pos, Ctx().Base); }

TMarkupAttrs Base() { return Ctx().Base; }

TMarkupAttrs With(TColor color, TFontStyles style, int size = 9,
                  const QString &face = QStringLiteral("Base Face"))
{
    return TMarkupAttrs{color, style, size, face};
}

void CheckCoverage(const TMarkupLayout &l)
{
    int pos = 0;
    int plain = 0;
    for (const TMarkupRun &r : l.Runs) {
        EXPECT_EQ(r.Start, pos);
        EXPECT_EQ(r.PlainStart, plain);
        pos += r.Length;
        plain += r.PlainLength;
    }
    EXPECT_EQ(pos, l.DisplayText.size());
    EXPECT_EQ(plain, l.PlainText.size());
    EXPECT_EQ(l.ParagraphAlign.size(), size_t(l.DisplayText.count(QLatin1Char('\n')) + 1));
}

struct TextCase {
    const char *markup;
    const char *plain;
    const char *display;
};

class MarkupText : public ::testing::TestWithParam<TextCase> {};

TEST_P(MarkupText, PlainAndDisplayText)
{
    const TextCase &c = GetParam();
    const TMarkupLayout l = LayoutMarkup(QString::fromUtf8(c.markup), Ctx());
    EXPECT_EQ(l.PlainText, QString::fromUtf8(c.plain));
    EXPECT_EQ(l.DisplayText, QString::fromUtf8(c.display));
    CheckCoverage(l);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, MarkupText,
    ::testing::Values(TextCase{"plain words", "plain words", "plain words"},
                      TextCase{"a<br>b", "a\r\nb", "a\nb"},
                      TextCase{"a<Br  Center >b<BR>", "a\r\nb\r\n", "a\nb\n"},
                      TextCase{"a<br >b", "a\r\nb", "a\nb"},
                      // A leading blank makes the name empty: no break.
                      TextCase{"a< br>b", "ab", "ab"},
                      TextCase{"a<brx>b", "ab", "ab"},
                      TextCase{"x<b<<i>y", "x<<y", "x<<y"},
                      TextCase{"1 > 0 <b>", "1 > 0 ", "1 > 0 "},
                      TextCase{"a<nosuch tag>b<>c", "abc", "abc"},
                      TextCase{"unterminated <b", "unterminated ", "unterminated "},
                      TextCase{"<", "", ""},
                      TextCase{"<<<", "<<", "<<"},
                      TextCase{">>", ">>", ">>"},
                      TextCase{"r\r\nn\rc\nu\u2029e", "r\r\nn\rc\nu\u2029e", "r\nn\nc\nu\ne"},
                      TextCase{"f\uFDD0g", "f\uFDD0g", "f\uFFFDg"}));

TEST(LinkMarkup, TokenizerSplitsNameAndArgument)
{
    const auto t = TokenizeMarkup(u"a<Url  http://Host/Path x >b<i<>");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].Text, QStringLiteral("a"));
    EXPECT_TRUE(t[1].IsTag);
    EXPECT_EQ(t[1].Name, QStringLiteral("URL"));
    EXPECT_EQ(t[1].Arg, QStringLiteral("http://Host/Path x"));
    // The "<" inside the last tag is shown before the tag acts.
    EXPECT_EQ(t[2].Text, QStringLiteral("b<"));
    EXPECT_EQ(t[3].Name, QStringLiteral("I"));
}

TEST(LinkMarkup, StylesTurnOnAndOff)
{
    const auto l = LayoutMarkup(u"n<b>b<i>bi</b>i<u>iu</i>u<s>us</u>s</s>n", Ctx());
    CheckCoverage(l);
    EXPECT_EQ(At(l, 0), Base());
    EXPECT_EQ(At(l, 1), With(clBlack, fsBold));
    EXPECT_EQ(At(l, 2), With(clBlack, fsBold | fsItalic));
    EXPECT_EQ(At(l, 4).Style, fsItalic);
    EXPECT_EQ(At(l, 5).Style, fsItalic | fsUnderline);
    EXPECT_EQ(At(l, 7).Style, fsUnderline);
    EXPECT_EQ(At(l, 8).Style, fsUnderline | fsStrikeOut);
    EXPECT_EQ(At(l, 10).Style, fsStrikeOut);
    EXPECT_EQ(At(l, 11), Base());
}

TEST(LinkMarkup, ColoursSizesAndFaces)
{
    const auto l = LayoutMarkup(u"<COLOR Red>r<color lime>k</Color>b<size 14>s<size big>z"
                                u"</size>n<font Courier New>c</font>f<color btnface>y"
                                u"<color AppWorkSpace>w",
                                Ctx());
    EXPECT_EQ(l.DisplayText, QStringLiteral("rkbsznc" "fyw"));
    EXPECT_EQ(At(l, 0).Color, clRed);
    EXPECT_EQ(At(l, 1).Color, clRed);  // not in the table: unchanged
    EXPECT_EQ(At(l, 2).Color, clBlack);
    EXPECT_EQ(At(l, 3).Size, 14);
    EXPECT_EQ(At(l, 4).Size, 0);  // not a number
    EXPECT_EQ(At(l, 5).Size, 9);
    EXPECT_EQ(At(l, 6).FontName, QStringLiteral("Courier New"));
    EXPECT_EQ(At(l, 7).FontName, QStringLiteral("Base Face"));
    EXPECT_EQ(At(l, 8).Color, clBtnFace);
    EXPECT_EQ(At(l, 9).Color, clAppWorkSpace);
}

TEST(LinkMarkup, ColourTableIsExactlyTheNamedOnes)
{
    const struct {
        const char *name;
        uint32_t bgr;
    } table[] = {{"RED", 0x0000FF},     {"GREEN", 0x008000},      {"YELLOW", 0x00FFFF},
                 {"BLUE", 0xFF0000},    {"BLACK", 0x000000},      {"WHITE", 0xFFFFFF},
                 {"AQUA", 0xFFFF00},    {"DKGRAY", 0x808080},     {"OLIVE", 0x008080},
                 {"PURPLE", 0x800080},  {"FUCHSIA", 0xFF00FF},    {"GRAY", 0x808080},
                 {"MAROON", 0x000080},  {"NAVY", 0x800000},       {"LTGRAY", 0xC0C0C0},
                 {"MEDGRAY", 0xA4A0A0}, {"SILVER", 0xC0C0C0},     {"TEAL", 0x808000},
                 {"MONEYGREEN", 0xC0DCC0}, {"CREAM", 0xF0FBFF},   {"SKYBLUE", 0xF0CAA6}};
    for (const auto &e : table)
        EXPECT_EQ(MarkupColor(QLatin1String(e.name)), TColor(e.bgr)) << e.name;
    for (const char *missing : {"LIME", "CLRED", "", "RED ", "WINDOW"})
        EXPECT_FALSE(MarkupColor(QLatin1String(missing)).has_value()) << missing;
}

TEST(LinkMarkup, TextAfterTheLastTagKeepsTheAttributesInEffect)
{
    const auto l = LayoutMarkup(u"a<b><color red>tail", Ctx());
    EXPECT_EQ(At(l, 0), Base());
    EXPECT_EQ(At(l, 1), With(clRed, fsBold));
    EXPECT_EQ(At(l, 4), With(clRed, fsBold));
}

TEST(LinkMarkup, LinksTakeTheirColourAndRestoreTheOneBefore)
{
    const auto l = LayoutMarkup(u"<b><color teal>a<url x>u</url>b<mail m>m</mail>"
                                u"<link c>c</link>d",
                                Ctx());
    EXPECT_EQ(At(l, 1), With(clRed, fsBold | fsUnderline));
    EXPECT_EQ(At(l, 2), With(clTeal, fsBold));
    EXPECT_EQ(At(l, 3), With(clGreen, fsBold | fsUnderline));
    EXPECT_EQ(At(l, 4), With(clBlue, fsBold | fsUnderline));
    EXPECT_EQ(At(l, 5), With(clTeal, fsBold));
}

TEST(LinkMarkup, LinksShareOneSlotAndDoNotNest)
{
    const auto l = LayoutMarkup(u"<url a>x<mail b>y</mail>z</url>w", Ctx());
    // The mail link overwrote the slot: after it, url look stays.
    EXPECT_EQ(At(l, 2), With(clRed, fsUnderline));
    EXPECT_EQ(At(l, 3), With(clRed, fsUnderline));
    EXPECT_FALSE(FindLink(l, 0));
    ASSERT_TRUE(FindLink(l, 1));
    EXPECT_EQ(*FindLink(l, 1), (TMarkupLink{TLinkKind::Mail, QStringLiteral("b"), 1, 2}));
    EXPECT_FALSE(FindLink(l, 2));

    // A closing tag with nothing remembered restores the base look.
    const auto orphan = LayoutMarkup(u"<color red></url>x", Ctx());
    EXPECT_EQ(At(orphan, 0), Base());
    EXPECT_TRUE(orphan.Links.empty());
}

TEST(LinkMarkup, LinksAreFoundByDisplayPosition)
{
    // "go " 0-2, "Here" 3-6, " or " 7-10, "mail" 11-14, break 15, "c" 16.
    const auto l = LayoutMarkup(u"go <url  http://Example.com/X >Here</URL> or "
                                u"<Mail Me@X.org>mail</mail><br center><link Custom>c</link>",
                                Ctx());
    ASSERT_EQ(l.DisplayText, QStringLiteral("go Here or mail\nc"));
    const TMarkupLink url{TLinkKind::Url, QStringLiteral("http://Example.com/X"), 3, 7};
    EXPECT_FALSE(FindLink(l, 2));
    EXPECT_EQ(FindLink(l, 3), url);
    EXPECT_EQ(FindLink(l, 6), url);
    EXPECT_FALSE(FindLink(l, 7));
    EXPECT_EQ(FindLink(l, 11)->Target, QStringLiteral("Me@X.org"));
    EXPECT_EQ(FindLink(l, 14)->Kind, TLinkKind::Mail);
    EXPECT_FALSE(FindLink(l, 15));
    EXPECT_EQ(FindLink(l, 16), (TMarkupLink{TLinkKind::Custom, QStringLiteral("Custom"), 16, 17}));
    EXPECT_FALSE(FindLink(l, 17));
    EXPECT_FALSE(FindLink(l, -1));
}

TEST(LinkMarkup, LiteralLessThanInsideTagsCountsAsAPosition)
{
    const auto l = LayoutMarkup(u"<b<>x<url t<>y</url>", Ctx());
    ASSERT_EQ(l.DisplayText, QStringLiteral("<x<y"));
    ASSERT_TRUE(FindLink(l, 3));
    EXPECT_EQ(FindLink(l, 3)->Start, 3);
    EXPECT_EQ(FindLink(l, 3)->Target, QStringLiteral("t"));
    EXPECT_FALSE(FindLink(l, 2));
}

TEST(LinkMarkup, BreakAlignsTheParagraphItEnds)
{
    TMarkupContext ctx = Ctx();
    ctx.Alignment = TMarkupAlign::Right;
    const auto l = LayoutMarkup(u"<color red>Title<br center>one<br LEFT>two<br middle>"
                                u"x\r\ny<b>z<br Center>last",
                                ctx);
    ASSERT_EQ(l.ParagraphAlign.size(), 6u);
    EXPECT_EQ(l.ParagraphAlign[0], TMarkupAlign::Center);
    EXPECT_EQ(l.ParagraphAlign[1], TMarkupAlign::Left);
    EXPECT_EQ(l.ParagraphAlign[2], TMarkupAlign::Right);  // unknown word: own alignment
    // "x" ended by a raw break is outside the run the break tag closes.
    EXPECT_EQ(l.ParagraphAlign[3], TMarkupAlign::Right);
    EXPECT_EQ(l.ParagraphAlign[4], TMarkupAlign::Center);
    EXPECT_EQ(l.ParagraphAlign[5], TMarkupAlign::Right);
    EXPECT_EQ(At(l, 0).Color, clRed);

    const auto spanning = LayoutMarkup(u"a\r\nb<br center>c", Ctx());
    EXPECT_EQ(spanning.ParagraphAlign,
              (std::vector<TMarkupAlign>{TMarkupAlign::Center, TMarkupAlign::Center, TMarkupAlign::Left}));
}

TEST(LinkMarkup, HugeAndMalformedInputStaysLinear)
{
    QString big;
    for (int i = 0; i < 20000; ++i)
        big += QStringLiteral("<b>x<url u%1>y</url><br><<size 7");
    const auto l = LayoutMarkup(big, Ctx());
    CheckCoverage(l);
    EXPECT_EQ(l.Links.size(), 20000u);
    EXPECT_EQ(l.ParagraphAlign.size(), 20001u);
}

}  // namespace
