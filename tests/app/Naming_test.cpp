// The next image's name and the snapshot's size, from the settings alone.
#include "app/mainNaming.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;
constexpr REFERENCE_TIME kPal = 400'000;  // 25 fps

}  // namespace

TEST(Naming, NumberIsPaddedButNeverCut)
{
    EXPECT_EQ(FormatNumber(7, 3), QStringLiteral("007"));
    EXPECT_EQ(FormatNumber(1234, 3), QStringLiteral("1234"));
    EXPECT_EQ(FormatNumber(123, 2), QStringLiteral("123"));
    EXPECT_EQ(FormatNumber(5, -4), QStringLiteral("5"));
    // The zeros go after the sign, and a script asking for two billion
    // digits gets a name-sized number instead of an exhausted memory.
    EXPECT_EQ(FormatNumber(-5, 3), QStringLiteral("-05"));
    EXPECT_EQ(FormatNumber(INT64_MIN, 1), QStringLiteral("-9223372036854775808"));
    EXPECT_EQ(FormatNumber(1, INT32_MAX).size(), 255);
}

TEST(Naming, RootIsTheFixedRootOrTheVideoNameWithoutExtension)
{
    TNamingSettings s;
    s.DefaultRacine = QStringLiteral("Vidstill");
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("Vidstill"));
    s.NomFichierImage = 7;  // any value but 0 means the video's name
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("My.Trip"));
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v.d/noext")), QStringLiteral("noext"));
    EXPECT_EQ(RootNameFor(s, QStringLiteral("C:\\v\\clip.mp4")), QStringLiteral("clip"));
    EXPECT_EQ(RootNameFor(s, QString()), QString());
    s.LimiterLongueur = true;
    s.RacineLength = 4;
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("My.T"));
    s.RacineLength = 40;
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QStringLiteral("My.Trip"));
    // A negative length (a switch text that is not a number) keeps nothing.
    s.RacineLength = -1;
    EXPECT_EQ(RootNameFor(s, QStringLiteral("/v/My.Trip.avi")), QString());
}

TEST(Naming, NameByNumberByPositionOrUnchanged)
{
    TNamingSettings s;
    s.Folder = QStringLiteral("/out");
    s.ImageAjouter = 1;
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("Vidstill"), FormatNumber(1, 3), 0, 0, QString()),
              QStringLiteral("/out/Vidstill_001.bmp"));

    s.Folder = QStringLiteral("/pics/");
    s.ImageAjouter = 0;
    s.ImageExtension = 5;  // anything but 0 is JPEG
    const REFERENCE_TIME at = (3600 + 2 * 60 + 3) * kSecond + 4 * kPal;
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("holiday"), QString(), at, kPal, QString()),
              QStringLiteral("/pics/holiday_1.02.03.04.jpg"));
    // The last frame of a second that ends within half a frame of the next
    // one is named after the next second.
    EXPECT_EQ(ImageNameFor(s, QStringLiteral("h"), QString(), 9 * kSecond / 10, 3 * kSecond / 10, QString()),
              QStringLiteral("/pics/h_0.00.01.00.jpg"));

    for (int32_t mode : {2, -1}) {
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
    EXPECT_EQ(SnapshotSize(1, 1, grab), QSize(576, 576));
    EXPECT_EQ(SnapshotSize(0, 9, grab), grab);
    EXPECT_EQ(SnapshotSize(16, 0, grab), grab);
    // The thumbnail box: 252 x 376 inside a 276 x 400 panel; 4:3 gives
    // 252 x 189, moved down by (376 - 189) / 2 = 93.
    EXPECT_EQ(AspectFit(4, 3, QRect(0, 0, 276, 400), 12), QRect(12, 12 + 93, 252, 189));
}
