// The naming and saving actions as the command line, the preferences and the
// commands see them; the saver writing real files; the overwrite question.
#include "common/TestSupport.h"

#include "app/mainNaming.h"
#include "KWPack/uKWSwitch.h"
#include "KWPack/uPreferences.h"
#include "platform/shell/PicturesFolder.h"

#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// The value of a naming action as text, whatever its kind.
QString ValueText(TCustomAbstractAction *a)
{
    if (auto *b = qobject_cast<TBooleanAction *>(a))
        return b->Value() ? QStringLiteral("true") : QStringLiteral("false");
    if (auto *i = qobject_cast<TIntegerAction *>(a))
        return QString::number(i->Value());
    if (auto *w = qobject_cast<TWidestringAction *>(a))
        return w->Value();
    return QStringLiteral("-");
}

class NamingActions : public ::testing::Test {
protected:
    TempHive hive;
    QWidget form;
    TKWActionList gpal{&form};
    TNamingActions acts = CreateNamingActions(&gpal);
};

struct Row {
    const char *name, *script, *sw, *def, *switchText, *after;
};

}  // namespace

TEST_F(NamingActions, NamesSwitchesAndDefaultsAndWhatASwitchLineSets)
{
    const QString pictures = WithTrailingSlash(PicturesFolder());
    const Row rows[] = {
        {"baConfirmerImage", "ConfirmerImage", "swi_ci", "false", "vrai", "true"},
        {"baSauverQuandClic", "SauverQuandClic", "swi_sq", "true", "0", "false"},
        {"iaDigits", "Digits", "swi_dig", "3", "5", "5"},
        {"iaImageExtension", "ImageExtension", "swi_iex", "0", "2", "2"},
        {"iaJpegCompressionQuality", "JpegCompressionQuality", "swi_qual", "50", "85", "85"},
        {"iaImageAjouter", "ImageAjouter", "swi_addi", "0", "3", "3"},
        {"waDossierSave", "FolderSave", "swi_savfold", "*", "/tmp/shots/", "/tmp/shots/"},
        {"iaNomFichierImage", "NomFichierImage", "swi_fname", "0", "1", "1"},
        {"baLimiterLongueur", "LimiterLongueur", "swi_limit", "false", "t", "true"},
        {"iaRacineLength", "RacineLength", "swi_rootlen", "8", "x", "-1"},
        {"waDefaultRacine", "DefaultRacine", "swi_root", "Vidstill", "Trip", "Trip"},
        {"iaNextNum", "NextNum", "swi_n", "1", "42", "42"},
        {"naJpegExtension", "JpegExtension", "swi_swi_ej", "-", "", "-"},
        {"naBmpExtension", "BmpExtension", "swi_eb", "-", "", "-"},
        {"naAjouterTimeStamp", "AjouterTimeStamp", "swi_as", "-", "", "-"},
        {"naAjouterNumero", "AjouterNumero", "swi_an", "-", "", "-"},
        {"baRAZWhenOpenFile", "RAZWhenOpenFile", "swi_raz", "true", "false", "false"},
    };
    const QList<TCustomAbstractAction *> all = gpal.TypedActions();
    ASSERT_EQ(all.size(), 17);
    QStringList line;
    for (int n = 0; n < 17; ++n) {
        const Row &r = rows[n];
        TCustomAbstractAction *a = all[n];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(a->Name(), QLatin1String(r.name));
        EXPECT_EQ(a->InternalId, QLatin1String(r.name));
        EXPECT_EQ(a->ScriptName, QLatin1String(r.script));
        EXPECT_EQ(a->Switch, QLatin1String(r.sw));
        EXPECT_EQ(a->Category, QStringLiteral("cat_Images"));
        EXPECT_TRUE(a->IncludePrefs);
        // Settings show their loaded value; a command is never run by a load.
        EXPECT_EQ(a->ApplyWhenLoad, qobject_cast<TNopeAction *>(a) == nullptr);
        EXPECT_EQ(ValueText(a), r.def[0] == '*' ? pictures : QLatin1String(r.def));
        if (r.after[0] != '-')
            line << QLatin1Char('/') + QLatin1String(r.sw) + QLatin1Char('=') + QLatin1String(r.switchText);
    }
    TKWSwitch sw;
    gpal.SetSwitch(&sw);
    sw.RunCommandLine(line);
    for (int n = 0; n < 17; ++n) {
        SCOPED_TRACE(rows[n].name);
        if (rows[n].after[0] != '-') {
            EXPECT_EQ(ValueText(all[n]), QLatin1String(rows[n].after));
        }
    }
    // The commands go through the settings they stand for.
    sw.RunCommandLine({QStringLiteral("/swi_eb"), QStringLiteral("/swi_as")});
    EXPECT_EQ(acts.iaImageExtension->Value(), 0);
    EXPECT_EQ(acts.iaImageAjouter->Value(), 0);
    sw.RunCommandLine({QStringLiteral("/swi_swi_ej"), QStringLiteral("/swi_an")});
    EXPECT_EQ(acts.iaImageExtension->Value(), 1);
    EXPECT_EQ(acts.iaImageAjouter->Value(), 1);
    gpal.SetSwitch(nullptr);
}

TEST_F(NamingActions, SettingsComeBackFromThePreferencesAndTheFolderDefaultsToPictures)
{
    QTemporaryDir dir;
    TVostrelPreferences gp(nullptr);
    gp.titre = QStringLiteral("NamingTest");
    gp.ExeFolder = dir.path() + QLatin1Char('/');
    gp.SetMode(spPortable);

    // Nothing stored yet: every value is its default, the folder the pictures'.
    acts.waDossierSave->SetValue(QStringLiteral("/elsewhere/"));
    ASSERT_TRUE(gpal.LoadFromPrefs(&gp));
    EXPECT_EQ(acts.waDossierSave->Value(), WithTrailingSlash(PicturesFolder()));
    EXPECT_TRUE(acts.waDossierSave->Value().endsWith(QLatin1Char('/')));

    acts.waDossierSave->SetValue(QStringLiteral("/shots/"));
    acts.iaNextNum->SetValue(12);
    acts.baConfirmerImage->SetValue(true);
    acts.waDefaultRacine->SetValue(QStringLiteral("Trip"));
    acts.iaImageExtension->SetValue(1);
    ASSERT_TRUE(gpal.SaveToPrefs(&gp));

    QWidget other;
    TKWActionList again(&other);
    const TNamingActions back = CreateNamingActions(&again);
    int shown = 0;
    back.iaNextNum->OnAfterApply = [&](const int32_t &) { ++shown; };
    ASSERT_TRUE(again.LoadFromPrefs(&gp));
    EXPECT_EQ(back.waDossierSave->Value(), QStringLiteral("/shots/"));
    EXPECT_EQ(back.iaNextNum->Value(), 12);
    EXPECT_TRUE(back.baConfirmerImage->Value());
    EXPECT_EQ(back.waDefaultRacine->Value(), QStringLiteral("Trip"));
    EXPECT_EQ(shown, 1);  // applied on load, so the panel shows it
    // The BMP command comes after the setting in the list: loading must not run it.
    EXPECT_EQ(back.iaImageExtension->Value(), 1);
}
