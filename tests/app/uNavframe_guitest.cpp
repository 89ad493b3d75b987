// The navigation bar on a real navigation manager and audio manager: each
// button runs its own action, Shift (mouse or keyboard) the larger step, a
// disabled action keeps its button still, the play button follows caPlay,
// and the edit, slider and gauge are the ones the managers drive.
#include "app/uNavframe.h"

#include "KWPack/uAudioMan.h"
#include "KWPack/uNavMan.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QSlider>
#include <QTest>

#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class NavBar : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(640, 80);
        bar = new Tnavframe(&window);
        nav = TKWActionComponent::New<TNavMan>(&window);
        aud = TKWActionComponent::New<TAudioMan>(&window);
        // Which action ran, by name; the managers' own handlers run as well.
        for (TCustomAbstractAction *a : nav->TypedActions())
            if (auto *n = qobject_cast<TNopeAction *>(a))
                n->OnBeforeApply = [this, n] { ran << n->Name(); };
        bar->Bind(nav, aud);
        window.show();
    }

    QString Click(QAbstractButton *b, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        ran.clear();
        QTest::mouseClick(b, Qt::LeftButton, mods);
        return ran.join(QLatin1Char(','));
    }

    QWidget window;
    Tnavframe *bar = nullptr;
    TNavMan *nav = nullptr;
    TAudioMan *aud = nullptr;
    QStringList ran;
};

TEST_F(NavBar, EachButtonRunsItsStepAndWithShiftTheLargerOne)
{
    const struct {
        TNavButton *button;
        const char *plain, *shifted;
    } table[] = {
        {bar->btDebut, "naReculeDebut", "naReculeTrack"},
        {bar->btReculeMinute, "naReculeMinute", "naRecule10Minutes"},
        {bar->btReculeSeconde, "naReculeSeconde", "naRecule10Secondes"},
        {bar->btReculeFrame, "naReculeFrame", "naRecule10Frames"},
        {bar->btAvanceFrame, "naAvanceFrame", "naAvance10Frames"},
        {bar->btAvanceSeconde, "naAvanceSeconde", "naAvance10Secondes"},
        {bar->btAvanceMinute, "naAvanceMinute", "naAvance10Minutes"},
        {bar->btFin, "naAvanceFin", "naAvanceTrack"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.plain);
        EXPECT_EQ(Click(row.button), QString::fromLatin1(row.plain));
        EXPECT_EQ(Click(row.button, Qt::ShiftModifier), QString::fromLatin1(row.shifted));
        // Shift does not stick to the next plain click.
        EXPECT_EQ(Click(row.button), QString::fromLatin1(row.plain));
        EXPECT_TRUE(row.button->toolTip().contains(QStringLiteral("Shift: ")));
    }
}

TEST_F(NavBar, ShiftWithTheKeyboardToo)
{
    bar->btAvanceSeconde->setFocus();
    ran.clear();
    QTest::keyClick(bar->btAvanceSeconde, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_EQ(ran, QStringList{QStringLiteral("naAvance10Secondes")});
    ran.clear();
    QTest::keyClick(bar->btAvanceSeconde, Qt::Key_Space);
    EXPECT_EQ(ran, QStringList{QStringLiteral("naAvanceSeconde")});
    // A click from code is a plain click.
    ran.clear();
    bar->btReculeFrame->click();
    EXPECT_EQ(ran, QStringList{QStringLiteral("naReculeFrame")});
}

TEST_F(NavBar, ADisabledActionKeepsItsButtonStill)
{
    nav->naAvanceMinute->SetEnabled(false);
    EXPECT_FALSE(bar->btAvanceMinute->isEnabled());
    EXPECT_EQ(Click(bar->btAvanceMinute, Qt::ShiftModifier), QString());
    nav->naAvanceMinute->SetEnabled(true);
    EXPECT_TRUE(bar->btAvanceMinute->isEnabled());
}

TEST_F(NavBar, PlayButtonFollowsCaPlay)
{
    const qint64 idle = bar->btPlay->icon().cacheKey();
    bool played = false;
    nav->caPlay->OnBeforeTrueApply = [&] { played = true; };
    QTest::mouseClick(bar->btPlay, Qt::LeftButton);
    EXPECT_TRUE(played);
    EXPECT_TRUE(nav->caPlay->Checked());
    EXPECT_NE(bar->btPlay->icon().cacheKey(), idle);
    EXPECT_EQ(bar->btPlay->toolTip(), QStringLiteral("Set Pause"));

    // An image given to the action shows on the button.
    TImageList images;
    QPixmap red(16, 16);
    red.fill(Qt::red);
    images.Images << QIcon(red);
    nav->Images = &images;
    nav->caPlay->SetImageIndex(0);
    EXPECT_EQ(bar->btPlay->icon().pixmap(16, 16).toImage().pixel(8, 8), QColor(Qt::red).rgb());

    nav->caPlay->SetEnabled(false);
    EXPECT_FALSE(bar->btPlay->isEnabled());
    nav->Images = nullptr;
}

TEST_F(NavBar, EditSliderAndGaugeAreTheManagers)
{
    EXPECT_EQ(nav->PositionEdit(), bar->CurrentEdit);
    EXPECT_EQ(nav->Slider(), bar->tb);
    EXPECT_EQ(aud->AudioGauge(), bar->gaugeVolume);
    aud->iaVolume->SetValue(7000);
    EXPECT_EQ(bar->gaugeVolume->value(), 7000);
    bar->ShowDuration(QStringLiteral("1:02:03:04"));
    EXPECT_EQ(bar->DureeLab->text(), QStringLiteral("1:02:03:04"));

    bar->resize(620, 62);
    const QString png = QDir(TestArtifactsDir()).filePath(QStringLiteral("navframe.png"));
    QImage shot = bar->grab().toImage();
    EXPECT_TRUE(shot.scaled(shot.size() * 2).save(png));
}

TEST_F(NavBar, UnboundButtonsDoNothing)
{
    Tnavframe lone;
    EXPECT_FALSE(lone.btFin->isEnabled());
    lone.Bind(nullptr, nullptr);
    lone.btFin->click();
    EXPECT_FALSE(lone.btPlay->isEnabled());
}

}  // namespace
