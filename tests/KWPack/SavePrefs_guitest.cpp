// The save-preferences dialog: its layout and texts, the three choices and
// the ways of closing it without one.
#include "KWPack/uSavePrefs.h"

#include "KWPack/uLinkEdit.h"
#include "common/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Pixels a picture actually covers (not fully transparent).
int CoveredPixels(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int covered = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            covered += qAlpha(argb.pixel(x, y)) > 0;
    return covered;
}

QImage IconImage(const QPushButton *b)
{
    return b->icon().pixmap(b->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
}

const char kExplanation[] =
    "<br><size 10><i>Do you want to save your preferences and find them again on next start?<br><br>"
    "Click on your choice:</i><br><br>* either to save them in the registry (normal mode).<br>* either "
    "to save them in an ini-file (portable mode).<br>* either not to save them. In the last case, all "
    "preferences will be lost, and the default values will be loaded on the next start.<br></size>";

TEST(SavePrefsForm, LayoutFollowsTheDesign)
{
    TSavePrefsForm dlg;
    EXPECT_EQ(dlg.size(), QSize(551, 364));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_EQ(dlg.font().family(), SubstituteFontFamily(QStringLiteral("MS Sans Serif")));
    EXPECT_EQ(dlg.font().pointSize(), 8);  // 14 pixels at 120 dpi

    TLinkEdit *text = dlg.LinkEdit1;
    EXPECT_EQ(text->geometry(), QRect(39, 20, 464, 247));
    EXPECT_EQ(text->frameShape(), QFrame::NoFrame);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->palette().color(QPalette::Base), ColorToQColor(clBtnFace));
    EXPECT_EQ(text->font().family(), SubstituteFontFamily(QStringLiteral("Arial")));
    EXPECT_EQ(text->font().pointSize(), 12);  // 20 pixels at 120 dpi
    EXPECT_EQ(text->UrlColor, clNavy);
    EXPECT_EQ(text->MailColor, clNavy);
    EXPECT_EQ(text->LinkColor, clNavy);
    EXPECT_FALSE(text->UseInternalCursor);

    EXPECT_EQ(dlg.NormalBtn->geometry(), QRect(39, 286, 120, 60));
    EXPECT_EQ(dlg.PortableBtn->geometry(), QRect(207, 286, 119, 60));
    EXPECT_EQ(dlg.AucunBtn->geometry(), QRect(374, 286, 120, 60));
    EXPECT_EQ(dlg.NormalBtn->nextInFocusChain(), dlg.PortableBtn);
    EXPECT_EQ(dlg.PortableBtn->nextInFocusChain(), dlg.AucunBtn);
    // Each button shows its own drawing, not an empty picture.
    const QImage normal = IconImage(dlg.NormalBtn);
    const QImage portable = IconImage(dlg.PortableBtn);
    const QImage none = IconImage(dlg.AucunBtn);
    for (const QImage &glyph : {normal, portable, none})
        EXPECT_GT(CoveredPixels(glyph), glyph.width() * glyph.height() / 10);
    EXPECT_NE(normal, portable);
    EXPECT_NE(portable, none);
    EXPECT_NE(normal, none);
    EXPECT_FALSE(dlg.chosen);
}

TEST(SavePrefsForm, TextsAreSetAtCreation)
{
    TSavePrefsForm dlg;
    EXPECT_EQ(dlg.LinkEdit1->RichText(), QString::fromUtf8(kExplanation));
    EXPECT_EQ(dlg.NormalBtn->text(), QStringLiteral("Normal"));
    EXPECT_EQ(dlg.PortableBtn->text(), QStringLiteral("Portable"));
    EXPECT_EQ(dlg.AucunBtn->text(), QStringLiteral("None"));
    EXPECT_EQ(dlg.NormalBtn->toolTip(),
              QStringLiteral("Save the Preferences in the registry.\r\nIf an ini file existed, it will be deleted."));
    EXPECT_EQ(dlg.PortableBtn->toolTip(),
              QStringLiteral("Saves the preferences to an ini file.\r\nDeletes the preferences from the registry."));
    EXPECT_EQ(dlg.AucunBtn->toolTip(),
              QStringLiteral("Exit without saving the preferences.\r\nIf they existed in an ini-file or in the "
                             "registry,\r\nthey will be deleted."));

    const QTextDocument *doc = dlg.LinkEdit1->document();
    EXPECT_TRUE(doc->toPlainText().startsWith(QStringLiteral("\nDo you want to save")));
    const QTextBlock question = doc->findBlockByNumber(1);
    QTextCursor c(question);
    c.movePosition(QTextCursor::NextCharacter);
    EXPECT_TRUE(c.charFormat().fontItalic());
    EXPECT_EQ(c.charFormat().fontPointSize(), 10);
    c.setPosition(doc->findBlockByNumber(5).position() + 1);
    EXPECT_FALSE(c.charFormat().fontItalic());
}

TEST(SavePrefsForm, ExplanationFitsWithoutScrolling)
{
    TSavePrefsForm dlg;
    dlg.show();
    QApplication::processEvents();
    const QTextDocument *doc = dlg.LinkEdit1->document();
    EXPECT_LE(doc->size().height(), dlg.LinkEdit1->viewport()->height());
    // The text is drawn: dark pixels of the text inside the edit's face.
    const QImage shot = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect area = dlg.LinkEdit1->geometry();
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            dark += qGray(shot.pixel(x, y)) < 100;
    EXPECT_GT(dark, 500);
    const QString file = QDir(TestArtifactsDir()).filePath(QStringLiteral("saveprefs.png"));
    EXPECT_TRUE(shot.save(file));
}

TEST(SavePrefsForm, EachButtonRecordsItsChoiceAndCloses)
{
    const struct {
        QPushButton *TSavePrefsForm::*button;
        TSavePreferences mode;
    } cases[] = {{&TSavePrefsForm::NormalBtn, spRegistre},
                 {&TSavePrefsForm::PortableBtn, spPortable},
                 {&TSavePrefsForm::AucunBtn, spNone}};
    for (const auto &c : cases) {
        TSavePrefsForm dlg;
        dlg.choice = c.mode == spNone ? spPortable : spNone;
        dlg.show();
        (dlg.*c.button)->click();
        EXPECT_TRUE(dlg.chosen);
        EXPECT_EQ(dlg.choice, c.mode);
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_FALSE(dlg.isVisible());
    }
}

TEST(SavePrefsForm, ModalRunEndsOnAButton)
{
    TSavePrefsForm dlg;
    QTimer::singleShot(0, dlg.PortableBtn, &QPushButton::click);
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(dlg.chosen);
    EXPECT_EQ(dlg.choice, spPortable);
}

TEST(SavePrefsForm, ClosingOtherwiseLeavesChosenAsItWas)
{
    TSavePrefsForm dlg;
    dlg.show();
    EXPECT_TRUE(dlg.close());
    EXPECT_FALSE(dlg.chosen);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);

    dlg.show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &esc);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.chosen);

    // A choice made before survives a later close without one.
    dlg.show();
    dlg.AucunBtn->click();
    dlg.show();
    dlg.reject();
    EXPECT_TRUE(dlg.chosen);
    EXPECT_EQ(dlg.choice, spNone);
}

}  // namespace
