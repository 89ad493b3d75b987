// The application manager on real widgets: pages that replace one another,
// frames kept centred as the window resizes, the about texts, the close links
// clicked with the mouse, the help and script windows closed by the user, the
// window's bounds through a real preferences store, and the mail and home
// page addresses as the desktop would get them.
#include "widgets/uAppliMan.h"
#include "KWPack/uKWScript.h"
#include "KWPack/uKWSwitch.h"
#include "KWPack/uLinkEdit.h"
#include "KWPack/uPreferences.h"
#include "KWPack/uScriptForm.h"
#include "widgets/uHelpForm.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QTextCursor>
#include <QUrlQuery>

#include <memory>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QRect &r, std::ostream *os)
{
    *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}

namespace {

class AppliMan : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(800, 600);
        am = TKWActionComponent::New<TKWAppliMan>(window.get());
        am->OnOpenUrl = [this](const QUrl &u) {
            opened << u;
            return true;
        };
        am->ScreenSize = [] { return QSize(1920, 1080); };
        am->SetWinControl(window.get());
        options = new QWidget;
        options->setProperty("TFrame", true);
        options->resize(300, 200);
        about = new TAboutPanel;
        custom = new QWidget;
        custom->resize(100, 50);
        am->SetOptionsFrame(options);
        am->SetAboutFrame(about);
        am->SetCustomFrame(custom);
        window->show();
    }

    // Clicks the first link of a close label where it is drawn.
    void ClickLink(TLinkEdit *label)
    {
        ASSERT_FALSE(label->Layout().Links.empty());
        QTextCursor c(label->document());
        c.setPosition(label->Layout().Links.front().Start + 2);
        const QPoint at = label->cursorRect(c).center();
        ASSERT_TRUE(label->LinkAt(at).has_value());
        QMouseEvent press(QEvent::MouseButtonPress, at, label->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, label->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label->viewport(), &press);
        QApplication::sendEvent(label->viewport(), &release);
    }

    std::unique_ptr<QWidget> window;
    TKWAppliMan *am = nullptr;
    QWidget *options = nullptr;
    TAboutPanel *about = nullptr;
    QWidget *custom = nullptr;
    QList<QUrl> opened;
};

TEST_F(AppliMan, TitleAndTheOneEngineAndSwitchProcessor)
{
    EXPECT_EQ(am->AppTitle, QStringLiteral("Vidstill 6.0.0 en"));
    EXPECT_EQ(am->LastUpdate, QStringLiteral("28/07/2019"));
    // Named "Script" so that the script window's own toggle stays out of macros.
    EXPECT_EQ(am->caScript->ScriptName, QStringLiteral("Script"));
    EXPECT_EQ(am->PascalScript(), am->ScriptForm()->KWScript);
    EXPECT_EQ(am->TCustomKWActionList::Switch(), am->Switch());
}

TEST_F(AppliMan, OnePageAtATime)
{
    am->caAbout->SetChecked(true);
    EXPECT_TRUE(am->AboutPanel()->isVisible());
    EXPECT_EQ(about->TitleLab->text(), QStringLiteral("Vidstill 6.0.0 en"));

    // Options while about shows: about goes, options comes, in front.
    am->caOptions->SetChecked(true);
    EXPECT_FALSE(am->caAbout->Checked());
    EXPECT_FALSE(am->AboutPanel()->isVisible());
    EXPECT_TRUE(am->OptionsPanel()->isVisible());
    EXPECT_TRUE(options->isVisible());
    EXPECT_EQ(window->childAt(400, 300), options);

    am->caCustom->SetChecked(true);
    EXPECT_FALSE(am->caOptions->Checked());
    EXPECT_FALSE(am->OptionsPanel()->isVisible());
    EXPECT_TRUE(am->CustomPanel()->isVisible());

    // The shortcut of a page toggles it (F11 twice: shown, then hidden).
    am->caAbout->Execute();
    EXPECT_TRUE(am->caAbout->Checked());
    EXPECT_FALSE(am->caCustom->Checked());
    am->caAbout->Execute();
    EXPECT_FALSE(am->AboutPanel()->isVisible());
    EXPECT_EQ(am->OptionsPanel()->palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
}

TEST_F(AppliMan, FramesStayCentredAndLargerFramesGetOffsetsRoundedTowardZero)
{
    am->caOptions->SetChecked(true);
    EXPECT_EQ(am->OptionsPanel()->geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(options->pos(), QPoint(250, 200));

    window->resize(201, 151);  // (201-300)/2 = -49.5, (151-200)/2 = -24.5
    EXPECT_EQ(am->OptionsPanel()->size(), QSize(201, 151));
    EXPECT_EQ(options->pos(), QPoint(-49, -24));
    am->caCustom->SetChecked(true);  // a hidden page is centred when it shows
    EXPECT_EQ(custom->pos(), QPoint(50, 50));
    am->caOptions->SetChecked(true);

    // A frame that changes size is centred again too.
    window->resize(800, 600);
    options->resize(400, 300);
    EXPECT_EQ(options->pos(), QPoint(200, 150));
}

TEST_F(AppliMan, AboutTextNamesTheUsesOnlyWhenThereAreSome)
{
    EXPECT_EQ(am->UsesText(), QString());
    am->caAbout->SetChecked(true);
    const QString plain = about->AboutLab->toPlainText();
    EXPECT_FALSE(plain.contains(QStringLiteral("It uses")));
    EXPECT_FALSE(plain.contains(QStringLiteral("..")));
    EXPECT_TRUE(plain.contains(QStringLiteral("28/07/2019")));

    am->TitreUses = {QStringLiteral("Qt"), QStringLiteral("FFmpeg")};
    am->UrlUses = {QStringLiteral("https://www.qt.io"), QStringLiteral("https://ffmpeg.org")};
    EXPECT_EQ(am->UsesText(), QStringLiteral("It uses <url https://www.qt.io>Qt</url>, "
                                             "<url https://ffmpeg.org>FFmpeg</url>.<br><br>"));
    // Rebuilt each time the page is shown.
    am->caAbout->SetChecked(false);
    am->caAbout->SetChecked(true);
    EXPECT_TRUE(about->AboutLab->toPlainText().contains(QStringLiteral("It uses Qt, FFmpeg.")));

    // Its links open through the desktop.
    const auto &links = about->AboutLab->Layout().Links;
    ASSERT_GE(links.size(), 4u);
    about->AboutLab->OnUrlClick(links[1].Target);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://www.qt.io")));

    const QString png = QDir(TestArtifactsDir()).filePath(QStringLiteral("appliman-about.png"));
    window->resize(700, 460);
    EXPECT_TRUE(window->grab().save(png));
}

TEST_F(AppliMan, CloseLinksSitInTheirFramesAndCloseThePage)
{
    TLinkEdit *link = am->OptionsCloseLink();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->parentWidget(), options);
    EXPECT_EQ(link->geometry(), QRect(300 - 16 - 180, 200 - 16 - 40, 180, 40));
    EXPECT_EQ(link->toPlainText(), QStringLiteral("Type F10 to close this page or click here."));
    EXPECT_TRUE(link->font().bold() && link->font().italic());
    QString hint;
    link->OnCustomLinkHint(QStringLiteral("closeOptions"), hint);
    EXPECT_EQ(hint, QStringLiteral("Click to close that page\r\nand return to the application"));

    am->caOptions->SetChecked(true);
    ClickLink(link);
    EXPECT_FALSE(am->caOptions->Checked());
    EXPECT_FALSE(am->OptionsPanel()->isVisible());

    am->caAbout->SetChecked(true);
    EXPECT_EQ(am->AboutCloseLink()->toPlainText(), QStringLiteral("Type F11 to close this page or click here."));
    ClickLink(am->AboutCloseLink());
    EXPECT_FALSE(am->caAbout->Checked());

    am->SetOptionsCloseVisible(false);
    am->caOptions->SetChecked(true);
    EXPECT_FALSE(link->isVisible());
}

TEST_F(AppliMan, ClosingTheHelpOrScriptWindowUnchecksItsAction)
{
    am->caHelp->SetChecked(true);
    ASSERT_TRUE(am->HelpForm()->isVisible());
    am->HelpForm()->close();
    EXPECT_FALSE(am->caHelp->Checked());
    EXPECT_FALSE(am->HelpForm()->isVisible());

    am->caScript->SetChecked(true);
    ASSERT_TRUE(am->ScriptForm()->isVisible());
    am->ScriptForm()->close();
    EXPECT_FALSE(am->caScript->Checked());

    // Unchecking hides without a close: the action stays as set.
    am->caHelp->SetChecked(true);
    am->caHelp->SetChecked(false);
    EXPECT_FALSE(am->HelpForm()->isVisible());
}

TEST_F(AppliMan, FormSaveDefaultsToTheCentreOfTheScreenAndRoundTrips)
{
    TempHive hive;
    window->hide();
    window->setGeometry(10, 10, 800, 600);
    TVostrelPreferences gp(nullptr);
    gp.titre = QStringLiteral("AppliManTest");
    gp.SetMode(spRegistre);

    // Nothing stored: 800 x 600 on 1920 x 1080 lands at 560, 240.
    ASSERT_TRUE(am->LoadFromPrefs(&gp));
    EXPECT_EQ(am->raFormSave->Value(), (TRect{560, 240, 1360, 840}));
    EXPECT_EQ(window->geometry(), QRect(560, 240, 800, 600));

    window->setGeometry(30, 40, 640, 480);
    ASSERT_TRUE(am->SaveToPrefs(&gp));
    EXPECT_EQ(am->raFormSave->Value(), (TRect{30, 40, 670, 520}));

    QWidget other;
    other.resize(300, 200);
    TKWAppliMan *second = TKWActionComponent::New<TKWAppliMan>(&other);
    second->ScreenSize = [] { return QSize(1920, 1080); };
    second->SetWinControl(&other);
    ASSERT_TRUE(second->LoadFromPrefs(&gp));
    EXPECT_EQ(other.geometry(), QRect(30, 40, 640, 480));

    // An inverted rectangle (a script's typo) leaves the window where it is.
    second->raFormSave->SetValue(500, 100, 400, 300);
    EXPECT_EQ(other.geometry(), QRect(30, 40, 640, 480));
}

TEST_F(AppliMan, MailAndHomePageGoToTheDesktop)
{
    am->naEMail->Execute();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(opened[0].path(), am->AuthorMail);
    const QUrlQuery query(opened[0]);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("About Vidstill 6.0.0 en"));
    EXPECT_TRUE(query.hasQueryItem(QStringLiteral("body")));
    EXPECT_FALSE(opened[0].toEncoded().contains(' '));

    am->HomePage = QStringLiteral("https://vidstill.example.org/\u00A9");
    am->naHomePage->Execute();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1], QUrl(QStringLiteral("https://vidstill.example.org/")));
}

TEST_F(AppliMan, QuitClosesTheWindowAndFreedPartsAreForgotten)
{
    ASSERT_TRUE(window->isVisible());
    am->naQuit->Execute();
    EXPECT_FALSE(window->isVisible());

    delete custom;
    EXPECT_EQ(am->CustomFrame(), nullptr);
    am->caCustom->SetChecked(true);  // no frame: the empty page, no crash
    EXPECT_TRUE(am->CustomPanel()->isVisibleTo(window.get()));
}

}  // namespace
