// The next image's name and the snapshot's size, from the settings alone.
#include "app/mainNaming.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr REFERENCE_TIME kPal = 400'000;  // 25 fps

TNamingSettings Numbered(const QString &folder)
{
    TNamingSettings s;
    s.Folder = folder;
    s.DefaultRacine = QStringLiteral("Vidstill");
    s.ImageAjouter = 1;
    return s;
}

}  // namespace

TEST(Naming, NumberIsPaddedButNeverCut)
{
    EXPECT_EQ(FormatNumber(1, 3), QStringLiteral("001"));
    EXPECT_EQ(FormatNumber(7, 3), QStringLiteral("007"));
    EXPECT_EQ(FormatNumber(1234, 3), QStringLiteral("1234"));
    EXPECT_EQ(FormatNumber(123, 2), QStringLiteral("123"));
    EXPECT_EQ(FormatNumber(0, 16), QString(16, QLatin1Char('0')));
    EXPECT_EQ(FormatNumber(5, 0), QStringLiteral("5"));
    EXPECT_EQ(FormatNumber(5, -4), QStringLiteral("5"));
    // The zeros go after the sign, not before it.
    EXPECT_EQ(FormatNumber(-5, 3), QStringLiteral("-05"));
    EXPECT_EQ(FormatNumber(INT64_MIN, 1), QStringLiteral("-9223372036854775808"));
    // A script asking for two billion digits gets a name-sized number.
    EXPECT_EQ(FormatNumber(1, INT32_MAX).size(), 255);
}

TEST(Naming, RootIsTheFixedRootOrTheVideoNameWithoutExtension)
{
    TNamingSettings s;
    s.DefaultRacine = QStringLiteral("Vidstill");
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("Vidstill"));

    s.NomFichierImage = 1;
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("My.Trip"));
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v.d/noext")), QStringLiteral("noext"));
    EXPECT_EQ(RootNameFor(s, QStringLiteral("C:\\v\\clip.mp4")), QStringLiteral("clip"));
    EXPECT_EQ(RootNameFor(s, QStringLiteral("D:clip.ts")), QStringLiteral("clip"));
    EXPECT_EQ(RootNameFor(s, QString()), QString());
    s.NomFichierImage = 7;  // any value but 0 means the video's name
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/a.mkv")), QStringLiteral("a"));

    s.LimiterLongueur = true;
    s.RacineLength = 4;
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("My.T"));
    s.RacineLength = 40;
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("My.Trip"));
    // A negative length (a switch text that is not a number) keeps nothing.
    s.RacineLength = -1;
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QString());
}

TEST(Naming, NumberedNameJoinsFolderRootNumberAndExtension)
{
    TNamingSettings s = Numbered(QStringLiteral("/out"));
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("Vidstill"), FormatNumber(1, 3), 0, 0, QString()),
              QStringLiteral("/out/Vidstill_001.bmp"));
    s.Folder = QStringLiteral("/out/");
    s.ImageExtension = 1;
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("Vidstill"), QStringLiteral("002"), 0, 0, QString()),
              QStringLiteral("/out/Vidstill_002.jpg"));
    s.ImageExtension = 5;  // anything but 0 is JPEG
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("R"), QStringLiteral("1"), 0, 0, QString()),
              QStringLiteral("/out/R_1.jpg"));
}

TEST(Naming, TimestampNameUsesThePositionWithDots)
{
    TNamingSettings s = Numbered(QStringLiteral("/pics"));
    s.ImageAjouter = 0;
    s.ImageExtension = 1;
    const REFERENCE_TIME at = (3600 + 2 * 60 + 3) * kSecond + 4 * kPal;
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("holiday"), QString(), at, kPal, QString()),
              QStringLiteral("/pics/holiday_1.02.03.04.jpg"));
    // Half a frame before the next second counts as that second's frame 0.
    const REFERENCE_TIME late = 5 * kSecond - kPal / 2 + 1;
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("h"), QString(), late, kPal, QString()),
              QStringLiteral("/pics/h_0.00.05.00.jpg"));
    // The last frame of a second that ends within half a frame of the next
    // one is named after the next second.
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("h"), QString(), 9 * kSecond / 10, 3 * kSecond / 10, QString()),
              QStringLiteral("/pics/h_0.00.01.00.jpg"));
    // No frame duration counts as one millisecond.
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("h"), QString(), kSecond + 20'000, 0, QString()),
              QStringLiteral("/pics/h_0.00.01.02.jpg"));
}

TEST(Naming, OtherNamingModesKeepThePreviousName)
{
    TNamingSettings s = Numbered(QStringLiteral("/pics"));
    for (int32_t mode : {2, -1, INT32_MAX}) {
        s.ImageAjouter = mode;
        EXPECT_EQ(ImageNameFor(s, QStringLiteral("r"), QStringLiteral("1"), 0, 0, QStringLiteral("/x/prev.bmp")),
                  QStringLiteral("/x/prev.bmp"));
    }
}

TEST(Naming, SnapshotTakesTheDisplayAspectOfTheGrab)
{
    const QSize grab(720, 576);
    EXPECT_EQ(SnapshotSize(16, 9, grab), QSize(720, 405));
    EXPECT_EQ(SnapshotSize(4, 3, grab), QSize(720, 540));
    EXPECT_EQ(SnapshotSize(720, 576, grab), grab);
    EXPECT_EQ(SnapshotSize(0, 9, grab), grab);
    EXPECT_EQ(SnapshotSize(16, 0, grab), grab);
    EXPECT_EQ(SnapshotSize(-4, -3, grab), grab);
    EXPECT_EQ(SnapshotSize(16, 9, QSize(0, 0)), QSize(0, 0));
    // Narrower than the grab: the width shrinks instead.
    EXPECT_EQ(SnapshotSize(1, 1, grab), QSize(576, 576));
}

TEST(Naming, AspectFitCentresInsideTheMargin)
{
    // 276 x 400 panel, margin 12: 252 x 376 inside; 4:3 gives 252 x 189,
    // moved down by (376 - 189) / 2 = 93 (rounded down).
    EXPECT_EQ(AspectFit(4, 3, QRect(0, 0, 276, 400), 12), QRect(12, 12 + 93, 252, 189));
    // Wide box: the width shrinks and the box moves right.
    EXPECT_EQ(AspectFit(4, 3, QRect(10, 20, 500, 100), 0), QRect(10 + 183, 20, 133, 100));
    EXPECT_EQ(AspectFit(0, 3, QRect(10, 20, 500, 100), 5), QRect(15, 25, 490, 90));
}
