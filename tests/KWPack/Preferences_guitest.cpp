// The preferences component on a real top-level window: loading when shown,
// asking and saving when closed, and what ends up in the ini file or the hive.
#include "KWPack/uPreferences.h"
#include "KWPack/uSavePrefs.h"
#include "platform/registry/Registry.h"
#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace {

const QString kKey = QStringLiteral("Software\\Vostrel\\Vidstill");

class OwnerForm : public QWidget {
public:
    QStringList *log = nullptr;

protected:
    void showEvent(QShowEvent *) override { log->append("own show"); }
};

// Acts on the save dialog as soon as it runs modally; counts its showings.
class DialogDriver {
public:
    explicit DialogDriver(TSavePrefsForm *dialog) : m_dialog(dialog)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(5);
    }
    void Next(std::function<void(TSavePrefsForm *)> action) { m_actions.append(std::move(action)); }
    int shown = 0;
    QString caption;

private:
    void Poll()
    {
        if (!m_dialog || QApplication::activeModalWidget() != m_dialog || m_actions.isEmpty())
            return;
        ++shown;
        caption = m_dialog->windowTitle();
        m_actions.takeFirst()(m_dialog);
    }
    QPointer<TSavePrefsForm> m_dialog;
    QTimer m_timer;
    QList<std::function<void(TSavePrefsForm *)>> m_actions;
};

class PreferencesWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        owner = new OwnerForm;
        owner->log = &log;
        gp = new TVostrelPreferences(owner);
        gp->titre = "Vidstill";
        gp->version = "Vidstill 1.0 by Vostrel";
        gp->ExeFolder = dir.path() + "/";
        gp->ExeName = dir.path() + "/Vidstill";
        gp->OnChangeMode = [this](TSavePreferences m) { log.append(QString("mode %1").arg(int(m))); };
        gp->OnLoadPrefs = [this](TVostrelPreferences *p) {
            log.append("load");
            p->OpenKey("ShowForm");
            volume = p->ReadInteger("Volume", 5000);
            p->CloseKey();
        };
        gp->OnSavePrefs = [this](TVostrelPreferences *p) {
            log.append("save");
            p->OpenKey("ShowForm");
            p->WriteInteger("Volume", volume);
            p->CloseKey();
        };
    }
    void TearDown() override { delete owner; }
    QString Ini() const { return dir.filePath("Vidstill.ini"); }

    TempHive hive;
    QTemporaryDir dir;
    OwnerForm *owner = nullptr;
    TVostrelPreferences *gp = nullptr;
    QStringList log;
    int volume = 0;
};

}  // namespace

TEST_F(PreferencesWindow, ShowingDetectsTheModeRunsTheOwnHandlerThenLoads)
{
    reg::CreateKey(kKey + "\\ShowForm");
    reg::SetValue(kKey, "ExeName", reg::RegValue::String(gp->ExeName));
    reg::SetValue(kKey + "\\ShowForm", "Volume", reg::RegValue::Dword(1234));
    owner->show();
    EXPECT_EQ(gp->Mode(), spRegistre);
    EXPECT_EQ(log, (QStringList{"mode 0", "own show", "load"}));
    EXPECT_EQ(volume, 1234);
    owner->hide();
    owner->show();  // still hooked: every showing loads
    EXPECT_EQ(log.count("load"), 2);
}

TEST_F(PreferencesWindow, ClosingTheDialogWithoutAChoiceKeepsTheWindowOpen)
{
    owner->show();
    ASSERT_EQ(gp->Mode(), spNone);
    volume = 77;
    DialogDriver driver(gp->SaveDialog());
    driver.Next([](TSavePrefsForm *d) { d->reject(); });
    EXPECT_FALSE(owner->close());
    EXPECT_TRUE(owner->isVisible());
    EXPECT_EQ(driver.shown, 1);
    EXPECT_EQ(driver.caption, "Saving the preferences of Vidstill");
    EXPECT_FALSE(log.contains("save"));
    EXPECT_FALSE(QFile::exists(Ini()));
    EXPECT_FALSE(reg::KeyExists(kKey));

    driver.Next([](TSavePrefsForm *d) { d->PortableBtn->click(); });
    EXPECT_TRUE(owner->close());  // asked again
    EXPECT_EQ(driver.shown, 2);
    EXPECT_FALSE(owner->isVisible());
    EXPECT_EQ(gp->Mode(), spPortable);
    EXPECT_EQ(log.mid(log.size() - 2), (QStringList{"mode 1", "save"}));

    delete owner;  // the ini store writes its file with the component
    owner = nullptr;
    QFile f(Ini());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = TIniPreferencesMan::Decode(f.readAll());
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], "[]");
    EXPECT_EQ(lines[1], "Version=Vidstill 1.0 by Vostrel");
    EXPECT_TRUE(QRegularExpression(QString::fromUtf8("^Dernière Sauvegarde=\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(lines[2]).hasMatch()) << qPrintable(lines[2]);
    EXPECT_EQ(lines[3], "ExeName=" + dir.path() + "/Vidstill");
    EXPECT_EQ(lines.mid(4), (QStringList{"", "[ShowForm]", "Volume=77"}));
}

TEST_F(PreferencesWindow, ABatchRunWithNoStoreClosesWithoutAskingOrSaving)
{
    owner->show();
    ASSERT_EQ(gp->Mode(), spNone);
    gp->AskOnClose = false;
    volume = 5;
    DialogDriver driver(gp->SaveDialog());
    driver.Next([](TSavePrefsForm *d) { d->PortableBtn->click(); });
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(owner->close());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Vidstill: no preferences store is chosen; the settings of this run are not saved\n");
    EXPECT_EQ(driver.shown, 0);
    EXPECT_EQ(gp->Mode(), spNone);
    EXPECT_FALSE(log.contains("save"));
    EXPECT_FALSE(QFile::exists(Ini()));
    EXPECT_FALSE(reg::KeyExists(kKey));
}

TEST_F(PreferencesWindow, NoneSavesNothingAndRemovesWhatWasStored)
{
    owner->show();
    ASSERT_EQ(gp->Mode(), spNone);
    // Settings that turned up meanwhile (another copy saving, say).
    QFile f(Ini());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[]\r\n");
    f.close();
    reg::CreateKey(kKey + "\\ShowForm");
    DialogDriver driver(gp->SaveDialog());
    driver.Next([](TSavePrefsForm *d) { d->AucunBtn->click(); });
    EXPECT_TRUE(owner->close());
    EXPECT_FALSE(log.contains("save"));
    EXPECT_FALSE(QFile::exists(Ini()));
    EXPECT_FALSE(reg::KeyExists("Software\\Vostrel"));
    delete owner;
    owner = nullptr;
    EXPECT_FALSE(QFile::exists(Ini()));
}

TEST_F(PreferencesWindow, WithAModeClosingSavesWithoutAskingAndUnhooks)
{
    reg::CreateKey(kKey);
    reg::SetValue(kKey, "ExeName", reg::RegValue::String(gp->ExeName.toUpper()));
    owner->show();
    ASSERT_EQ(gp->Mode(), spRegistre);
    volume = 42;
    DialogDriver driver(gp->SaveDialog());
    driver.Next([](TSavePrefsForm *d) { d->reject(); });
    EXPECT_TRUE(owner->close());
    EXPECT_EQ(driver.shown, 0);
    EXPECT_EQ(reg::QueryValue(kKey, "Version"), reg::RegValue::String("Vidstill 1.0 by Vostrel"));
    EXPECT_EQ(reg::QueryValue(kKey, "ExeName"), reg::RegValue::String(gp->ExeName));
    EXPECT_TRUE(reg::QueryValue(kKey, QString::fromUtf8("Dernière Sauvegarde")));
    EXPECT_EQ(reg::QueryValue(kKey + "\\ShowForm", "Volume"), reg::RegValue::Dword(42));
    EXPECT_EQ(reg::ValueNames(kKey + "\\ShowForm"), QStringList{"Volume"});

    log.clear();
    owner->show();  // the hooks were given back
    EXPECT_EQ(log, QStringList{"own show"});
}
