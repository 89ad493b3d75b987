// The last-snapshot panel: its three states as a person sees them, the layout
// around the thumbnail, and what a click on the name or the picture asks for.
#include "common/TestSupport.h"

#include "app/extraireunit.h"
#include "app/mainNaming.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QImage TestCard(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(QColor(30, 60, 120));
    QPainter p(&img);
    p.fillRect(QRect(0, 0, w / 2, h / 2), QColor(220, 180, 40));
    p.setPen(Qt::white);
    p.drawEllipse(QRect(w / 4, h / 4, w / 2, h / 2));
    return img;
}

class ExtraireFrame : public ::testing::Test {
protected:
    TExtraireFrame frame;
    QStringList clicks;

    void SetUp() override
    {
        frame.resize(276, 480);
        frame.OnSaveClick = [this] { clicks << QStringLiteral("save"); };
        frame.OnPositionClick = [this](const QString &pos) { clicks << QStringLiteral("go ") + pos; };
        frame.show();
    }

    void Render(const char *name)
    {
        EXPECT_TRUE(frame.grab().toImage().save(TestArtifactsDir() + QLatin1Char('/') + QLatin1String(name)));
    }
};

}  // namespace

TEST_F(ExtraireFrame, EmptyThenNotSavedThenSaved)
{
    EXPECT_EQ(frame.State(), TSnapshotState::Empty);
    EXPECT_TRUE(frame.PlaceholderBevel->isVisible());
    frame.LayoutThumbnail(frame.ThumbnailBox(4, 3));
    EXPECT_EQ(frame.Image->geometry(), AspectFit(4, 3, QRect(0, 0, 276, 480), 12));
    EXPECT_EQ(frame.PlaceholderBevel->geometry(), frame.Image->geometry());
    Render("extraire-empty.png");

    frame.ShowSnapshot(TestCard(720, 540), QStringLiteral("0:01:23:12"), QStringLiteral("/pics/holiday_0.01.23.12.jpg"));
    frame.HidePlaceholder();
    EXPECT_EQ(frame.State(), TSnapshotState::NotSaved);
    EXPECT_EQ(frame.labsnapname->text(), QStringLiteral("holiday_0.01.23.12.jpg"));
    EXPECT_EQ(frame.labImagetteTaille->text(), QStringLiteral("720 x 540"));
    EXPECT_EQ(frame.labsnapname->toolTip(),
              QStringLiteral("This picture has not yet been saved\r\nClick on this label to save it"));
    EXPECT_EQ(frame.labsnapname->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(frame.labsnapname->palette().color(QPalette::Window), frame.palette().color(QPalette::Button));
    EXPECT_FALSE(frame.PlaceholderBevel->isVisible());
    Render("extraire-not-saved.png");

    frame.MarkSaved();
    EXPECT_EQ(frame.State(), TSnapshotState::Saved);
    EXPECT_EQ(frame.labsnapname->toolTip(), QStringLiteral("This picture has already been saved"));
    EXPECT_EQ(frame.labsnapname->cursor().shape(), Qt::ArrowCursor);
    Render("extraire-saved.png");
    // The light green shows, not only sits in the palette.
    const QImage shot = frame.grab().toImage();
    EXPECT_EQ(shot.pixelColor(frame.labsnapname->geometry().topLeft() + QPoint(2, 2)), QColor(192, 220, 192));

    frame.Clear();
    EXPECT_EQ(frame.State(), TSnapshotState::Empty);
    EXPECT_TRUE(frame.labsnapname->text().isEmpty());
    EXPECT_TRUE(frame.SnapLab->text().isEmpty());
    EXPECT_TRUE(frame.Image->pixmap().isNull());
    EXPECT_TRUE(frame.PlaceholderBevel->isVisible());
    frame.MarkSaved();  // nothing to mark
    EXPECT_EQ(frame.State(), TSnapshotState::Empty);
}

TEST_F(ExtraireFrame, ClicksAskTheWindowToSaveOrToGoBack)
{
    frame.LayoutThumbnail(frame.ThumbnailBox(4, 3));
    // Nothing shown: a click on the empty name saves nothing.
    QTest::mouseClick(frame.labsnapname, Qt::LeftButton);
    QTest::mouseClick(frame.Image, Qt::LeftButton);
    EXPECT_TRUE(clicks.isEmpty());

    frame.ShowSnapshot(TestCard(320, 240), QStringLiteral("1:02:03:04"), QStringLiteral("/p/a_001.bmp"));
    QTest::mouseClick(frame.labsnapname, Qt::LeftButton);
    QTest::mouseClick(frame.labsnapname, Qt::RightButton);
    QTest::mouseClick(frame.Image, Qt::LeftButton);
    frame.MarkSaved();
    QTest::mouseClick(frame.labsnapname, Qt::LeftButton);  // saved: may be saved again
    EXPECT_EQ(clicks, QStringList({QStringLiteral("save"), QStringLiteral("go 1:02:03:04"), QStringLiteral("save")}));
}
