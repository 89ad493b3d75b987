#include "platform/base/Graphics.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const TColor kSystemColors[] = {
    clScrollBar, clBackground, clActiveCaption, clInactiveCaption, clMenu,
    clWindow, clWindowFrame, clMenuText, clWindowText, clCaptionText,
    clActiveBorder, clInactiveBorder, clAppWorkSpace, clHighlight, clHighlightText,
    clBtnFace, clBtnShadow, clGrayText, clBtnText, clInactiveCaptionText,
    clBtnHighlight, cl3DDkShadow, cl3DLight, clInfoText, clInfoBk,
};

TEST(Graphics, SystemColorsCarryTheirIndexUnderHighByteFF)
{
    std::set<uint32_t> seen;
    for (uint32_t i = 0; i < std::size(kSystemColors); ++i) {
        const auto c = static_cast<uint32_t>(kSystemColors[i]);
        EXPECT_EQ(c >> 24, 0xFFu) << i;
        EXPECT_EQ(c & 0x00FFFFFFu, i) << "COLOR_* index";
        seen.insert(c);
    }
    EXPECT_EQ(seen.size(), std::size(kSystemColors));
    EXPECT_EQ(static_cast<uint32_t>(clBtnFace), 0xFF00000Fu);
    // Plain colours are 0x00BBGGRR.
    EXPECT_EQ(clRed, 0x0000FF);
    EXPECT_EQ(clBlue, 0xFF0000);
}

TEST(Graphics, ColourIdentsRoundTrip)
{
    for (TColor c : kSystemColors) {
        const QString ident = ColorToIdent(c);
        ASSERT_FALSE(ident.isEmpty()) << std::hex << c;
        EXPECT_EQ(IdentToColor(ident), c) << ident.toStdString();
        EXPECT_EQ(IdentToColor(ident.toUpper()), c) << "idents ignore case";
    }
    for (TColor c : {clBlack, clMaroon, clSilver, clRed, clFuchsia, clWhite, clMoneyGreen,
                     clCream, clMedGray, clNone, clDefault}) {
        const QString ident = ColorToIdent(c);
        ASSERT_FALSE(ident.isEmpty()) << std::hex << c;
        EXPECT_EQ(IdentToColor(ident), c) << ident.toStdString();
    }
    EXPECT_EQ(ColorToIdent(clRed), QStringLiteral("clRed"));
    EXPECT_EQ(ColorToIdent(clLtGray), QStringLiteral("clSilver")) << "aliases keep one name";
    EXPECT_TRUE(ColorToIdent(0x123456).isEmpty());
    EXPECT_FALSE(IdentToColor(QStringLiteral("clNoSuchColour")));
    EXPECT_FALSE(IdentToColor(QString()));
}

TEST(Graphics, StringToColorReadsNamesAndNumbers)
{
    const struct {
        const char *text;
        TColor expected;
    } good[] = {
        {"$FF", clRed},
        {"$ff0000", clBlue},
        {"clRed", clRed},
        {"CLRED", clRed},
        {" clWindowText ", clWindowText},
        {"0x10", 0x10},
        {"0X1f", 0x1F},
        {"16", 16},
        {"$000000FF", clRed},
        {"$FF00000F", clBtnFace},
        {"-16777201", clBtnFace},
        {"$FFFFFFFF", static_cast<TColor>(0xFFFFFFFFu)},
    };
    for (const auto &g : good) {
        const auto c = StringToColor(QString::fromLatin1(g.text));
        ASSERT_TRUE(c) << g.text;
        EXPECT_EQ(*c, g.expected) << g.text;
    }
    // Signs, blanks or a second prefix after "$"/"0x" are not numbers: "0x-10"
    // must not become the system colour code 0xFFFFFFF0.
    for (const char *bad : {"", "  ", "$", "0x", "red", "clRedd", "$GG", "12abc", "1e3",
                            "$100000000", "4294967296", "-2147483649", "$0x10", "0x-10",
                            "$-1", "$+1", "$ FF", "0x0x1"})
        EXPECT_FALSE(StringToColor(QString::fromLatin1(bad))) << bad;
}

TEST(Graphics, QColorConversion)
{
    EXPECT_EQ(ColorToQColor(clRed), QColor(255, 0, 0));
    EXPECT_EQ(ColorToQColor(0x00332211), QColor(0x11, 0x22, 0x33));
    for (TColor c : {clRed, clBlue, clMoneyGreen, TColor(0x00102030)})
        EXPECT_EQ(QColorToColor(ColorToQColor(c)), c);
    // System colours resolve even without a GUI application (tools, these
    // tests), and text colours stay readable on their backgrounds.
    const std::pair<TColor, TColor> textOn[] = {
        {clWindowText, clWindow},         {clBtnText, clBtnFace},
        {clHighlightText, clHighlight},   {clCaptionText, clActiveCaption},
        {clMenuText, clMenu},             {clInactiveCaptionText, clInactiveCaption},
    };
    for (const auto &[text, back] : textOn) {
        EXPECT_TRUE(ColorToQColor(text).isValid());
        EXPECT_NE(ColorToQColor(text), ColorToQColor(back)) << ColorToIdent(text).toStdString();
    }
}

TEST(Graphics, FontHeightFollowsPointSize)
{
    TFont f;
    EXPECT_EQ(f.Height(), -11) << "8 pt at 96 dpi";
    f.SetHeight(-16);
    EXPECT_EQ(f.Size, 12);
    f.PixelsPerInch = 120;
    f.SetHeight(-20);
    EXPECT_EQ(f.Size, 12);
    EXPECT_EQ(f.Height(), -20);
    EXPECT_EQ(SubstituteFontFamily(QStringLiteral("arial")), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(SubstituteFontFamily(QStringLiteral("Fira")), QStringLiteral("Fira"));
    f.Style = fsBold | fsItalic;
    const QFont q = f.ToQFont();
    EXPECT_TRUE(q.bold());
    EXPECT_TRUE(q.italic());
    EXPECT_FALSE(q.underline());
}

}  // namespace

TEST(Graphics, FontHeightsAndSizesConvertThroughTheResolution)
{
    TFont f;
    f.PixelsPerInch = 120;
    f.SetHeight(-20);
    EXPECT_EQ(f.Size, 12);
    EXPECT_EQ(f.Height(), -20);
    f.PixelsPerInch = 0;  // a broken stored value must not divide by zero
    f.SetHeight(-16);
    EXPECT_EQ(f.Size, 12);
}
