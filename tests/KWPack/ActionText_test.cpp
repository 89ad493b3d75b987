// Switch value texts and recorded-line pieces of typed actions.
#include "KWPack/uActionText.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace ActionText;

TEST(ActionText, BooleanWords)
{
    struct Case {
        const char *text;
        bool expected;
    } cases[] = {
        {"  VRAI  ", true}, {"1", true}, {"v", true}, {"T", true}, {"true", true}, {"-3", true},
        {"0", false},       {"false", false}, {"non", false}, {"", false}, {"yes", false},
        {"truex", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BooleanFromText(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(ActionText, IntegersAndDoubles)
{
    EXPECT_EQ(IntegerFromText(QStringLiteral(" 42 ")), 42);
    EXPECT_EQ(IntegerFromText(QStringLiteral("-7")), -7);
    EXPECT_EQ(IntegerFromText(QStringLiteral("abc")), -1);
    EXPECT_EQ(IntegerFromText(QString()), -1);
    EXPECT_EQ(IntegerFromText(QStringLiteral("4294967296")), -1);  // does not fit 32 bits
    EXPECT_EQ(IntegerFromText(QStringLiteral("2.5")), -1);

    EXPECT_DOUBLE_EQ(DoubleFromText(QStringLiteral("2.5")), 2.5);
    EXPECT_DOUBLE_EQ(DoubleFromText(QStringLiteral("abc")), -1.0);
    EXPECT_DOUBLE_EQ(DoubleFromText(QStringLiteral("nan")), -1.0);
}

TEST(ActionText, DoublesReadEitherSeparatorAndWriteAPoint)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    EXPECT_DOUBLE_EQ(DoubleFromText(QStringLiteral("0,5")), 0.5);
    EXPECT_DOUBLE_EQ(DoubleFromText(QStringLiteral("0.5")), 0.5);
    EXPECT_EQ(FormatDouble(0.5), QStringLiteral("0.5"));
    EXPECT_EQ(FormatDouble(1.0 / 3.0), QStringLiteral("0.333333333333333"));
    QLocale::setDefault(saved);
    // In a locale whose separator is a point, a comma is no separator: "1,5"
    // must not read as fifteen.
    QLocale::setDefault(QLocale::c());
    EXPECT_NE(DoubleFromText(QStringLiteral("1,5")), 15.0);
    QLocale::setDefault(saved);
}

TEST(ActionText, Points)
{
    EXPECT_EQ(PointFromText(QStringLiteral("(10, 20)")), (TPoint{10, 20}));
    EXPECT_EQ(PointFromText(QStringLiteral("  ( -1 ,x )  ")), (TPoint{-1, 0}));
    EXPECT_EQ(PointFromText(QStringLiteral("(1,2,3)")), (TPoint{1, 0}));
    EXPECT_FALSE(PointFromText(QStringLiteral("10, 20")));
    EXPECT_FALSE(PointFromText(QStringLiteral("(10 20)")));
    EXPECT_FALSE(PointFromText(QStringLiteral("(")));
    EXPECT_FALSE(PointFromText(QString()));
}

TEST(ActionText, Rectangles)
{
    EXPECT_EQ(RectFromText(QStringLiteral("(1, 2, 3, 4)")), (TRect{1, 2, 3, 4}));
    EXPECT_FALSE(RectFromText(QStringLiteral("(1, 2, 3)")));
    EXPECT_FALSE(RectFromText(QStringLiteral("1, 2, 3, 4")));
}

TEST(ActionText, Colours)
{
    EXPECT_EQ(ColorFromText(QStringLiteral("clRed")), clRed);
    EXPECT_EQ(ColorFromText(QStringLiteral("CLBTNFACE")), clBtnFace);
    EXPECT_EQ(ColorFromText(QStringLiteral("255")), 255);
    EXPECT_EQ(ColorFromText(QStringLiteral("$FF0000")), clBlue);
    EXPECT_FALSE(ColorFromText(QStringLiteral("reddish")));
    EXPECT_EQ(ColorHex(clRed), QStringLiteral("$0000FF"));
    EXPECT_EQ(ColorHex(clBtnFace), QStringLiteral("$FF00000F"));
}

TEST(ActionText, QuotedStringsDoubleTheirQuotes)
{
    EXPECT_EQ(QuotedString(QStringLiteral("it's")), QStringLiteral("'it''s'"));
    EXPECT_EQ(QuotedString(QString()), QStringLiteral("''"));
}
