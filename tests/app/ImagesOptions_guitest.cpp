// The folders panel and the naming actions kept in step both ways: a value
// set by a script or switch shows in the panel without the panel writing it
// back; a change in the panel reaches the action and runs the window's
// follow-up exactly once.
#include "common/TestSupport.h"

#include "app/uImagesOptions.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class ImagesOptions : public ::testing::Test {
protected:
    QWidget form;
    TKWActionList gpal{&form};
    TNamingActions acts = CreateNamingActions(&gpal);
    TDossiersFrame frame{&form};
    int rebuilds = 0;
    int formats = 0;

    void SetUp() override
    {
        frame.Bind(acts, [this] { ++rebuilds; }, [this] { ++formats; });
        form.resize(300, 600);
        form.show();
        rebuilds = formats = 0;
    }

    // Counts of (rebuild, format) since the last call.
    std::pair<int, int> Taken()
    {
        const std::pair<int, int> c{rebuilds, formats};
        rebuilds = formats = 0;
        return c;
    }
};

using Calls = std::pair<int, int>;  // (rebuilds, formats)

}  // namespace

TEST_F(ImagesOptions, AnActionSetElsewhereShowsAndIsNotWrittenBack)
{
    // Bound: the values show, and showing them ran nothing.
    EXPECT_EQ(frame.NomRacineEdit->text(), QStringLiteral("Vidstill"));
    EXPECT_TRUE(frame.rbTimestamp->isChecked());
    EXPECT_EQ(frame.labQuality->text(), QStringLiteral("50"));
    EXPECT_EQ(Taken(), Calls(0, 0));

    int writes = 0;
    for (TCustomAbstractAction *a : gpal.TypedActions())
        if (auto *i = qobject_cast<TIntegerAction *>(a))
            i->OnBeforeApply = [&](const int32_t &) { ++writes; };

    acts.waDossierSave->SetValue(QStringLiteral("/shots/"));
    EXPECT_EQ(frame.deDossierSave->text(), QStringLiteral("/shots/"));
    EXPECT_EQ(Taken(), Calls(1, 0));
    acts.iaNomFichierImage->SetValue(1);
    EXPECT_TRUE(frame.rbUtiliserNomVideo->isChecked());
    EXPECT_FALSE(frame.rbUtiliserRacine->isChecked());
    acts.waDefaultRacine->SetValue(QStringLiteral("Trip"));
    EXPECT_EQ(frame.NomRacineEdit->text(), QStringLiteral("Trip"));
    acts.baLimiterLongueur->SetValue(true);
    EXPECT_TRUE(frame.cbLimiterLongueur->isChecked());
    acts.iaRacineLength->SetValue(4);
    EXPECT_EQ(frame.RacineLengthEdit->value(), 4);
    acts.iaImageAjouter->SetValue(1);
    EXPECT_TRUE(frame.rbNumero->isChecked());
    EXPECT_EQ(Taken(), Calls(5, 0));
    acts.iaDigits->SetValue(5);
    EXPECT_EQ(frame.DigitsEdit->value(), 5);
    EXPECT_EQ(Taken(), Calls(1, 1));
    acts.iaNextNum->SetValue(77);
    EXPECT_EQ(frame.seNextNum->value(), 77);
    EXPECT_EQ(Taken(), Calls(0, 1));  // a new number does not rename
    acts.naJpegExtension->Execute();
    EXPECT_TRUE(frame.rgExtensionJpeg->isChecked());
    acts.iaJpegCompressionQuality->SetValue(85);
    EXPECT_EQ(frame.TrackBar1->value(), 85);
    EXPECT_EQ(frame.labQuality->text(), QStringLiteral("85"));
    EXPECT_EQ(Taken(), Calls(1, 0));
    // Each integer set once above; a control writing back would count twice.
    EXPECT_EQ(writes, 7);

    // Values the panel cannot show do not come back clamped.
    acts.iaDigits->SetValue(40);
    acts.iaJpegCompressionQuality->SetValue(0);
    EXPECT_EQ(acts.iaDigits->Value(), 40);
    EXPECT_EQ(acts.iaJpegCompressionQuality->Value(), 0);
    // A naming mode that is neither: neither button.
    acts.iaImageAjouter->SetValue(2);
    EXPECT_FALSE(frame.rbTimestamp->isChecked());
    EXPECT_FALSE(frame.rbNumero->isChecked());
    acts.iaImageAjouter->SetValue(0);
    EXPECT_TRUE(frame.rbTimestamp->isChecked());
    // Any extension but 0 is JPEG.
    acts.iaImageExtension->SetValue(3);
    EXPECT_TRUE(frame.rgExtensionJpeg->isChecked());
}

TEST_F(ImagesOptions, APanelChangeReachesItsActionAndRebuildsOnce)
{
    frame.rbUtiliserNomVideo->click();
    EXPECT_EQ(acts.iaNomFichierImage->Value(), 1);
    EXPECT_EQ(Taken(), Calls(1, 0));
    frame.rbUtiliserRacine->click();
    EXPECT_EQ(acts.iaNomFichierImage->Value(), 0);
    EXPECT_EQ(Taken(), Calls(1, 0));

    frame.NomRacineEdit->setFocus();
    frame.NomRacineEdit->selectAll();
    QTest::keyClicks(frame.NomRacineEdit, QStringLiteral("Hi+"));
    EXPECT_EQ(acts.waDefaultRacine->Value(), QStringLiteral("Hi+"));
    EXPECT_EQ(frame.NomRacineEdit->text(), QStringLiteral("Hi+"));
    EXPECT_EQ(Taken(), Calls(3, 0));  // every keystroke

    frame.cbLimiterLongueur->click();
    EXPECT_TRUE(acts.baLimiterLongueur->Value());
    frame.RacineLengthEdit->setValue(12);
    EXPECT_EQ(acts.iaRacineLength->Value(), 12);
    frame.rbNumero->click();
    EXPECT_EQ(acts.iaImageAjouter->Value(), 1);
    frame.rgExtensionJpeg->click();
    EXPECT_EQ(acts.iaImageExtension->Value(), 1);
    EXPECT_EQ(Taken(), Calls(4, 0));

    frame.DigitsEdit->setValue(6);
    EXPECT_EQ(acts.iaDigits->Value(), 6);
    EXPECT_EQ(Taken(), Calls(1, 1));
    frame.seNextNum->setValue(31);
    EXPECT_EQ(acts.iaNextNum->Value(), 31);
    EXPECT_EQ(Taken(), Calls(0, 1));
    frame.TrackBar1->setValue(70);
    EXPECT_EQ(acts.iaJpegCompressionQuality->Value(), 70);
    EXPECT_EQ(frame.labQuality->text(), QStringLiteral("70"));
    EXPECT_EQ(Taken(), Calls(0, 0));
}

TEST_F(ImagesOptions, TheFolderComesFromTheDialogOrTheEditWithATrailingSlash)
{
    QString offered;
    QString answer = QStringLiteral("/media/card/DCIM");
    frame.ChooseFolder = [&](const QString &start) {
        offered = start;
        return answer;
    };
    acts.waDossierSave->SetValue(QStringLiteral("/shots/"));
    Taken();
    frame.deDossierSaveButton->click();
    EXPECT_EQ(offered, QStringLiteral("/shots/"));
    EXPECT_EQ(acts.waDossierSave->Value(), QStringLiteral("/media/card/DCIM/"));
    EXPECT_EQ(frame.deDossierSave->text(), QStringLiteral("/media/card/DCIM/"));
    EXPECT_EQ(Taken(), Calls(1, 0));

    answer.clear();  // cancelled
    frame.deDossierSaveButton->click();
    EXPECT_EQ(acts.waDossierSave->Value(), QStringLiteral("/media/card/DCIM/"));
    EXPECT_EQ(Taken(), Calls(0, 0));

    frame.deDossierSave->setText(QStringLiteral("/typed"));
    emit frame.deDossierSave->editingFinished();
    EXPECT_EQ(acts.waDossierSave->Value(), QStringLiteral("/typed/"));
    frame.deDossierSave->setText(QStringLiteral("  "));
    emit frame.deDossierSave->editingFinished();
    EXPECT_EQ(acts.waDossierSave->Value(), QStringLiteral("/typed/"));
    EXPECT_EQ(frame.deDossierSave->text(), QStringLiteral("/typed/"));
    EXPECT_EQ(Taken(), Calls(1, 0));
}

TEST_F(ImagesOptions, EitherSideMayGoFirst)
{
    auto *panel = new TDossiersFrame;
    panel->Bind(acts, [this] { ++rebuilds; }, {});
    delete panel;
    acts.iaDigits->SetValue(4);  // the dead panel's handlers are skipped
    EXPECT_EQ(acts.iaDigits->Value(), 4);

    TKWActionList list(&form);
    TNamingActions mortal = CreateNamingActions(&list);
    TDossiersFrame survivor;
    survivor.Bind(mortal, {}, {});
    qDeleteAll(list.TypedActions());
    survivor.DigitsEdit->setValue(9);  // writes to no action, and does not crash
    survivor.rbNumero->click();
    EXPECT_EQ(survivor.DigitsEdit->value(), 9);
}

TEST_F(ImagesOptions, RendersForAPerson)
{
    acts.waDossierSave->SetValue(QStringLiteral("/home/user/Pictures/"));
    acts.iaImageAjouter->SetValue(1);
    acts.iaImageExtension->SetValue(1);
    frame.adjustSize();
    const QImage shot = frame.grab().toImage();
    EXPECT_EQ(shot.width(), 276);
    EXPECT_TRUE(shot.save(TestArtifactsDir() + QStringLiteral("/dossiers-frame.png")));
}
