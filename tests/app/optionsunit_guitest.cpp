// The options panel on real actions: each control sets its action once, each
// action shows in its control without writing back, handlers the window set
// before still run, the store mode goes through the callbacks, the private
// folder gets its trailing separator, and the precise-navigation settings
// reach a real navigation manager. Also a picture of each page.
#include "app/optionsunit.h"

#include "KWPack/uNavMan.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <memory>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Clicks a check box or radio button on its indicator (a click right of
// its text would not count).
void ClickBox(QAbstractButton *b)
{
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(8, b->height() / 2));
}

template <class A>
A *NewAction(TKWActionList *list, const char *name)
{
    auto *a = new A(QString::fromLatin1(name), list);
    a->SetName(QString::fromLatin1(name));
    a->ScriptName = QString::fromLatin1(name).mid(2);
    return a;
}

class OptionsPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(500, 380);
        frame = new TOptionsFrame(&window);
        nav = TKWActionComponent::New<TNavMan>(&window);
        acts.GetMode = [this] { return mode; };
        acts.SetMode = [this](TSavePreferences m) {
            mode = m;
            ++modeSets;
        };
        acts.iaForcerAspectRatio = NewAction<TIntegerAction>(&list, "iaForcerAspectRatio");
        acts.baRAZWhenOpenFile = NewAction<TBooleanAction>(&list, "baRAZWhenOpenFile");
        acts.baSauverQuandClic = NewAction<TBooleanAction>(&list, "baSauverQuandClic");
        acts.baConfirmerImage = NewAction<TBooleanAction>(&list, "baConfirmerImage");
        acts.baUsePrivateFilters = NewAction<TBooleanAction>(&list, "baUsePrivateFilters");
        acts.waPrivateFolder = NewAction<TWidestringAction>(&list, "waPrivateFolder");
        acts.baImageDeinterlacer = NewAction<TBooleanAction>(&list, "baImageDeinterlacer");
        acts.caSeekPrecision = nav->caSeekPrecision;
        acts.iaSeekPrepos = nav->iaSeekPrepos;
        acts.waPrivateFolder->SetDefaultValue(QStringLiteral("/opt/vidstill/"));
        acts.baUsePrivateFilters->SetDefaultValue(true);
        // The window's own follow-up, set before the panel binds.
        acts.baUsePrivateFilters->OnAfterApply = [this](const bool &v) { windowSaw << v; };
        frame->Bind(acts);
        window.show();
    }

    // Brings a page to the front with its layout done, so clicks land.
    void ShowPage(int index)
    {
        frame->pcOptions->setCurrentIndex(index);
        QCoreApplication::processEvents();
        ASSERT_TRUE(frame->pcOptions->currentWidget()->isVisible());
    }

    QWidget window;
    TOptionsFrame *frame = nullptr;
    TNavMan *nav = nullptr;
    TKWActionList list;
    TOptionsActions acts;
    TSavePreferences mode = spPortable;
    int modeSets = 0;
    QList<bool> windowSaw;
};

TEST_F(OptionsPanel, ShowsTheActionsWhenBound)
{
    EXPECT_EQ(frame->pcOptions->tabText(0), QStringLiteral("Preferences"));
    EXPECT_EQ(frame->pcOptions->tabText(2), QStringLiteral("Advanced"));
    EXPECT_TRUE(frame->PrefsGroup()->button(1)->isChecked());
    EXPECT_EQ(frame->PrefsGroup()->button(1)->text(), QStringLiteral("Portable Mode (USB key)"));
    EXPECT_TRUE(frame->AspectGroup()->button(0)->isChecked());
    EXPECT_TRUE(frame->cbUsePrivateFilters->isChecked());
    EXPECT_EQ(frame->dePrivateFolder->text(), QStringLiteral("/opt/vidstill/"));
    EXPECT_TRUE(frame->cbNavPrecise->isChecked());  // the manager's default
    EXPECT_EQ(frame->seSeekPrepos->value(), 1000);
    EXPECT_EQ(modeSets, 0);
}

TEST_F(OptionsPanel, ControlsSetTheirActionsOnceAndActionsShowWithoutWritingBack)
{
    int applies = 0;
    acts.baConfirmerImage->OnBeforeApply = [&](const bool &) { ++applies; };
    ShowPage(1);
    ClickBox(frame->cbConfirmerImage);
    EXPECT_TRUE(acts.baConfirmerImage->Value());
    EXPECT_EQ(applies, 1);

    acts.baConfirmerImage->SetValue(false);  // a script or a switch
    EXPECT_FALSE(frame->cbConfirmerImage->isChecked());
    EXPECT_EQ(applies, 2);

    ClickBox(frame->AspectGroup()->button(2));
    EXPECT_EQ(acts.iaForcerAspectRatio->Value(), 2);
    acts.iaForcerAspectRatio->SetValue(3);
    EXPECT_TRUE(frame->AspectGroup()->button(3)->isChecked());
    acts.iaForcerAspectRatio->SetValue(9);  // no button for it: none checked
    EXPECT_EQ(frame->AspectGroup()->checkedButton(), nullptr);

    // The window's handler still runs, after the box shows the value.
    ShowPage(2);
    ClickBox(frame->cbUsePrivateFilters);
    EXPECT_FALSE(acts.baUsePrivateFilters->Value());
    acts.baUsePrivateFilters->SetValue(true);
    EXPECT_TRUE(frame->cbUsePrivateFilters->isChecked());
    EXPECT_EQ(windowSaw, (QList<bool>{false, true}));
}

TEST_F(OptionsPanel, StoreModeGoesThroughTheCallbacks)
{
    ClickBox(frame->PrefsGroup()->button(2));
    EXPECT_EQ(mode, spNone);
    EXPECT_EQ(modeSets, 1);
    frame->ShowPrefsMode(spRegistre);  // the component's OnChangeMode
    EXPECT_TRUE(frame->PrefsGroup()->button(0)->isChecked());
    EXPECT_EQ(modeSets, 1);
}

TEST_F(OptionsPanel, PrivateFolderGetsATrailingSeparator)
{
    QString asked;
    frame->ChooseFolder = [&](const QString &start) {
        asked = start;
        return QStringLiteral("/home/me/decoders");
    };
    ShowPage(2);
    QTest::mouseClick(frame->dePrivateFolderButton, Qt::LeftButton);
    EXPECT_EQ(asked, QStringLiteral("/opt/vidstill/"));
    EXPECT_EQ(acts.waPrivateFolder->Value(), QStringLiteral("/home/me/decoders/"));
    EXPECT_EQ(frame->dePrivateFolder->text(), QStringLiteral("/home/me/decoders/"));

    // Cancelled: nothing changes.
    frame->ChooseFolder = [](const QString &) { return QString(); };
    QTest::mouseClick(frame->dePrivateFolderButton, Qt::LeftButton);
    EXPECT_EQ(acts.waPrivateFolder->Value(), QStringLiteral("/home/me/decoders/"));

    // Typed: taken when the edit is left; emptied: the setting comes back.
    frame->dePrivateFolder->setText(QStringLiteral("/srv/lav/"));
    emit frame->dePrivateFolder->editingFinished();
    EXPECT_EQ(acts.waPrivateFolder->Value(), QStringLiteral("/srv/lav/"));
    frame->dePrivateFolder->setText(QStringLiteral("  "));
    emit frame->dePrivateFolder->editingFinished();
    EXPECT_EQ(acts.waPrivateFolder->Value(), QStringLiteral("/srv/lav/"));
    EXPECT_EQ(frame->dePrivateFolder->text(), QStringLiteral("/srv/lav/"));
}

TEST_F(OptionsPanel, PreciseNavigationReachesTheNavigationManager)
{
    ShowPage(2);
    ClickBox(frame->cbNavPrecise);
    EXPECT_FALSE(nav->caSeekPrecision->Checked());
    nav->caSeekPrecision->SetChecked(true);
    EXPECT_TRUE(frame->cbNavPrecise->isChecked());

    frame->seSeekPrepos->setValue(2500);
    EXPECT_EQ(nav->iaSeekPrepos->Value(), 2500);
    EXPECT_EQ(nav->SeekPrepos, 2500 * 10000);
    nav->iaSeekPrepos->SetValue(400);
    EXPECT_EQ(frame->seSeekPrepos->value(), 400);
}

TEST_F(OptionsPanel, PicturesOfThePages)
{
    const QDir dir(TestArtifactsDir());
    for (int i = 0; i < frame->pcOptions->count(); ++i) {
        frame->pcOptions->setCurrentIndex(i);
        const QString png = dir.filePath(QStringLiteral("options-page%1.png").arg(i));
        EXPECT_TRUE(frame->grab().save(png)) << png.toStdString();
    }
}

}  // namespace
