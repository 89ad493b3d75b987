// The help window on real action lists: the three orders, one page for many
// lists, the detail texts, a double click running the action, and the object
// list box's own upkeep (counts, Delete, refused entries).
#include "common/TestSupport.h"

#include "KWPack/uLinkEdit.h"
#include "KWPack/uWndComponent.h"
#include "widgets/uHelpForm.h"

#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A manager-like list, made as the managers make theirs.
class TDemoMan : public TKWActionComponent {
public:
    using TKWActionComponent::TKWActionComponent;
    TNopeAction *naGrab = nullptr, *naAbout = nullptr, *naClose = nullptr;
    TCheckAction *caPlay = nullptr;
    TIntegerAction *iaJpegQuality = nullptr;
    TWidestringAction *waRoot = nullptr;

    void CreateActions() override
    {
        naGrab = NewAction<TNopeAction>(QStringLiteral("naGrab"), QStringLiteral("Grab"));
        naGrab->SetShortCut(QKeySequence(Qt::Key_F5));
        naGrab->Switch = QStringLiteral("swi_grab");
        naGrab->SetHint(QStringLiteral("Grab the <b>current</b> frame"));
        naGrab->Comments = {QStringLiteral("Saves the image"), QStringLiteral("in the chosen folder")};
        caPlay = NewAction<TCheckAction>(QStringLiteral("caPlay"), QStringLiteral("Play"));
        caPlay->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_Space));
        caPlay->Switch = QStringLiteral("swi_p");
        SetCheckTexts(caPlay, QStringLiteral("Pause"), QStringLiteral("Play"), QStringLiteral("Set Pause"),
                      QStringLiteral("Play the <i>video</i> and/or audio stream"));
        iaJpegQuality = NewAction<TIntegerAction>(QStringLiteral("iaJpegQuality"), QStringLiteral("JpegQuality"));
        iaJpegQuality->Switch = QStringLiteral("swi_jq");
        waRoot = NewAction<TWidestringAction>(QStringLiteral("waRoot"), QStringLiteral("Root"));
        naAbout = NewAction<TNopeAction>(QStringLiteral("naAbout"), QStringLiteral("About"));
        naClose = NewAction<TNopeAction>(QStringLiteral("naClose"), QStringLiteral("Close"));
        naClose->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_W));
    }
};

// A second list: one script name shared with TDemoMan, and a plain action.
class TOtherMan : public TKWActionComponent {
public:
    using TKWActionComponent::TKWActionComponent;
    TNopeAction *naGrab2 = nullptr, *naZoom = nullptr;

    void CreateActions() override
    {
        naGrab2 = NewAction<TNopeAction>(QStringLiteral("naGrab2"), QStringLiteral("grab"));
        naGrab2->SetHint(QStringLiteral("The later Grab, see <url http://example.org>the page</url>"));
        naGrab2->Switch = QStringLiteral("swi_grab2");
        naZoom = NewAction<TNopeAction>(QStringLiteral("naZoom"), QStringLiteral("Zoom"));
        naZoom->SetShortCut(QKeySequence(Qt::Key_F5 | Qt::SHIFT));
        auto *plain = new QAction(QStringLiteral("not typed"), this);
        AddAction(plain);
    }
};

std::string Lines(const TObjetListBox *lb)
{
    QStringList out;
    for (int i = 0; i < lb->count(); ++i)
        out << lb->item(i)->text();
    return out.join(QLatin1Char(',')).toStdString();
}

QString ScriptNameOf(const TAbstractListObjet *o)
{
    const auto *a = dynamic_cast<const TActionObjet *>(o);
    return a && a->Action() ? a->Action()->ScriptName : QString();
}

void SelectLine(TObjetListBox *lb, const QString &text)
{
    const auto found = lb->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    lb->setCurrentItem(found.first());
}

class HelpFormTest : public ::testing::Test {
protected:
    TDemoMan *demo = TKWActionComponent::New<TDemoMan>();
    TOtherMan *other = TKWActionComponent::New<TOtherMan>();
    THelpForm form;

    ~HelpFormTest() override
    {
        delete demo;
        delete other;
    }
    TObjetListBox *Box() { return form.ListBoxOf(0); }
};

TEST_F(HelpFormTest, SortsByNameShortcutAndSwitchKeepingTheCurrentEntry)
{
    form.AddActionList(QStringLiteral("Vidstill"), demo);
    TObjetListBox *lb = Box();
    ASSERT_NE(lb, nullptr);
    EXPECT_EQ(Lines(lb), "About,Close,Grab,JpegQuality,Play,Root");
    EXPECT_EQ(lb->currentRow(), 0);
    SelectLine(lb, QStringLiteral("Grab"));

    // Without a shortcut or a switch an entry goes last, by script name.
    form.rierparRaccourcis1->trigger();
    EXPECT_EQ(lb->SortIndex().Key, QStringLiteral("shortcut"));
    EXPECT_EQ(Lines(lb), "Play,Close,Grab,About,JpegQuality,Root");
    EXPECT_EQ(ScriptNameOf(lb->CurrentObjet()), QStringLiteral("Grab"));

    form.rierparswitch1->trigger();
    EXPECT_EQ(Lines(lb), "Grab,JpegQuality,Play,About,Close,Root");
    EXPECT_EQ(ScriptNameOf(lb->CurrentObjet()), QStringLiteral("Grab"));

    form.Ordrealphabtique1->trigger();
    EXPECT_EQ(Lines(lb), "About,Close,Grab,JpegQuality,Play,Root");
    EXPECT_EQ(form.Ordrealphabtique1->text(), QStringLiteral("Alphabetical order"));
    EXPECT_EQ(form.rierparRaccourcis1->text(), QStringLiteral("Sort by shortcuts"));
    EXPECT_EQ(form.rierparswitch1->text(), QStringLiteral("Sort by Switch"));
}

TEST_F(HelpFormTest, ManyListsUnderOneNameShareOnePageAndTheLastOfANameWins)
{
    TKWActionList empty;
    for (int i = 0; i < 3; ++i) {
        form.AddActionList(QStringLiteral("Vidstill"), demo);
        form.AddActionList(QStringLiteral("Vidstill"), other);
    }
    ASSERT_EQ(form.pc->count(), 1);
    TObjetListBox *lb = Box();
    EXPECT_EQ(lb->objectName(), QStringLiteral("lb1"));
    // "grab" and "Grab" are one entry, the later one; the plain action is not listed.
    EXPECT_EQ(Lines(lb), "About,Close,grab,JpegQuality,Play,Root,Zoom");
    const auto *grab = dynamic_cast<const TActionObjet *>(lb->Objet(2));
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->Action(), other->naGrab2);

    // A list without typed actions: a page, but nothing current and nothing shown.
    form.leName->SetRichText(QStringLiteral("before"));
    form.AddActionList(QStringLiteral("Empty"), &empty);
    ASSERT_EQ(form.pc->count(), 2);
    EXPECT_EQ(form.ListBoxOf(1)->objectName(), QStringLiteral("lb2"));
    EXPECT_EQ(form.ListBoxOf(1)->count(), 0);
    EXPECT_EQ(form.ListBoxOf(1)->currentRow(), -1);
    form.pc->setCurrentIndex(1);
    EXPECT_EQ(form.leName->RichText(), QStringLiteral("before"));
}

TEST_F(HelpFormTest, ShowsNameShortcutHintDeclarationSwitchAndComments)
{
    form.AddActionList(QStringLiteral("Vidstill"), demo);
    TObjetListBox *lb = Box();
    SelectLine(lb, QStringLiteral("Grab"));
    EXPECT_EQ(form.leName->RichText(), QStringLiteral("Grab    <size 12><color Black>F5</color></size>"));
    EXPECT_EQ(form.leName->toPlainText(), QStringLiteral("Grab    F5"));
    EXPECT_EQ(form.leHint->toPlainText(), QStringLiteral("Grab the current frame"));
    EXPECT_EQ(form.leSyntaxe->toPlainText(), QStringLiteral("procedure Grab;"));
    QString syntax;
    demo->naGrab->GetSwitchSyntax(syntax);
    EXPECT_EQ(form.leSwitch->toPlainText(), QStringLiteral("Switch:    ") + syntax);
    EXPECT_EQ(form.leCommentaire->RichText(), QStringLiteral("Saves the image<BR>in the chosen folder"));
    // Two lines on screen, whatever separator the document uses.
    QString shown = form.leCommentaire->toPlainText();
    shown.replace(QChar::LineSeparator, QLatin1Char('\n')).replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    EXPECT_EQ(shown.toStdString(), "Saves the image\nin the chosen folder");

    SelectLine(lb, QStringLiteral("Play"));
    EXPECT_EQ(form.leName->toPlainText(), QStringLiteral("Play    ") +
                                              QKeySequence(Qt::CTRL | Qt::Key_Space).toString(QKeySequence::NativeText));
    QString decl;
    demo->caPlay->GetScriptDeclaration(decl);
    EXPECT_EQ(form.leSyntaxe->toPlainText(), decl);
    EXPECT_TRUE(form.leCommentaire->toPlainText().isEmpty());

    SelectLine(lb, QStringLiteral("Root"));
    EXPECT_EQ(form.leName->toPlainText(), QStringLiteral("Root    "));
    EXPECT_EQ(form.leSwitch->toPlainText(), QStringLiteral("Switch:     N/A "));
}

TEST_F(HelpFormTest, DoubleClickRunsTheActionAndAGoneActionRunsNothing)
{
    int grabs = 0;
    demo->naGrab->OnAfterApply = [&grabs] { ++grabs; };
    form.AddActionList(QStringLiteral("Vidstill"), demo);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TObjetListBox *lb = Box();
    const auto doubleClick = [lb](const QString &text) {
        QListWidgetItem *it = lb->findItems(text, Qt::MatchExactly).value(0);
        ASSERT_NE(it, nullptr);
        const QPoint at = lb->visualItemRect(it).center();
        QTest::mouseClick(lb->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(lb->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(QStringLiteral("Grab"));
    EXPECT_EQ(grabs, 1);
    EXPECT_EQ(form.leSyntaxe->toPlainText(), QStringLiteral("procedure Grab;"));
    ASSERT_FALSE(demo->caPlay->Checked());
    doubleClick(QStringLiteral("Play"));
    EXPECT_TRUE(demo->caPlay->Checked());

    // The entry outlives its action: it then shows and runs nothing.
    delete demo->naAbout;
    SelectLine(lb, QStringLiteral("About"));
    doubleClick(QStringLiteral("About"));
    form.trier(SortShortcut());
    EXPECT_EQ(lb->count(), 6);
}

// ---- The object list box alone ---------------------------------------------------

std::unique_ptr<TAbstractListObjet> Entry(const QString &text)
{
    return std::make_unique<TAbstractListObjet>(text, text);
}

TEST(ObjetListBox, CountsCurrentEntryAndDeleteKey)
{
    TObjetListBox lb;
    std::vector<std::pair<int, int>> counts;
    std::vector<TAbstractListObjet *> actives;
    lb.OnCountsChange = [&counts](int sel, int total) { counts.emplace_back(sel, total); };
    lb.OnActiveChange = [&actives](TAbstractListObjet *o) { actives.push_back(o); };
    for (const char *t : {"delta", "Alpha", "charlie", "bravo", "echo"})
        lb.AddObjet(Entry(QString::fromLatin1(t)));
    EXPECT_EQ(Lines(&lb), "Alpha,bravo,charlie,delta,echo");
    // The first line became current when it was the only one, and stays the same entry.
    ASSERT_FALSE(actives.empty());
    EXPECT_EQ(actives.front()->DisplayText, QStringLiteral("delta"));
    EXPECT_EQ(lb.CurrentObjet()->DisplayText, QStringLiteral("delta"));
    EXPECT_EQ(counts.back(), std::make_pair(1, 5));
    EXPECT_EQ(lb.toolTip(), QStringLiteral("one item seleteced on 5"));

    lb.item(1)->setSelected(true);
    lb.item(2)->setSelected(true);
    lb.item(3)->setSelected(false);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(&lb, &up);
    EXPECT_EQ(counts.back(), std::make_pair(2, 5));
    EXPECT_EQ(lb.toolTip(), QStringLiteral("2 items selected on 5"));

    // Delete without KeyDelete keeps every line; with it the selection goes.
    QKeyEvent del(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&lb, &del);
    EXPECT_EQ(lb.count(), 5);
    lb.KeyDelete = true;
    QKeyEvent shiftDel(QEvent::KeyRelease, Qt::Key_Delete, Qt::ShiftModifier);
    QApplication::sendEvent(&lb, &shiftDel);
    EXPECT_EQ(lb.count(), 5);
    QApplication::sendEvent(&lb, &del);
    EXPECT_EQ(Lines(&lb), "Alpha,delta,echo");
    EXPECT_EQ(lb.currentRow(), 1);  // the line before charlie, the last removed
    EXPECT_EQ(counts.back().second, 3);
    EXPECT_EQ(actives.back(), lb.CurrentObjet());

    // A re-sort puts the entries back where their keys go, current kept.
    lb.AddObjet(Entry(QStringLiteral("bravo")));
    lb.setCurrentRow(3);
    lb.Resort();
    EXPECT_EQ(Lines(&lb), "Alpha,bravo,delta,echo");
    EXPECT_EQ(lb.CurrentObjet()->DisplayText, QStringLiteral("echo"));
}

TEST(ObjetListBox, RefusedAndSameKeyEntries)
{
    TObjetListBox lb;
    lb.OnAccept = [](const TAbstractListObjet *o) { return !o->DisplayText.startsWith(QLatin1Char('x')); };
    EXPECT_EQ(lb.AddObjet(Entry(QStringLiteral("xray"))), -1);
    EXPECT_EQ(lb.count(), 0);
    EXPECT_EQ(lb.currentRow(), -1);
    EXPECT_EQ(lb.AddObjet(Entry(QStringLiteral("Mike"))), 0);
    auto later = std::make_unique<TAbstractListObjet>(QStringLiteral("other text"), QStringLiteral("MIKE"));
    TAbstractListObjet *kept = later.get();
    EXPECT_EQ(lb.AddObjet(std::move(later)), 0);
    ASSERT_EQ(lb.count(), 1);
    EXPECT_EQ(lb.Objet(0), kept);
    EXPECT_EQ(lb.item(0)->text(), QStringLiteral("Mike"));
    EXPECT_EQ(lb.Objet(5), nullptr);

    // Entries already listed stay through a re-sort, whatever the test says now.
    lb.AddObjet(Entry(QStringLiteral("alpha")));
    lb.OnAccept = [](const TAbstractListObjet *) { return false; };
    lb.Resort();
    EXPECT_EQ(Lines(&lb), "alpha,other text");  // each line from its own entry again
}

TEST_F(HelpFormTest, RendersTheWindowWithARealList)
{
    form.AddActionList(QStringLiteral("Vidstill"), demo);
    form.AddActionList(QStringLiteral("Vidstill"), other);
    SelectLine(Box(), QStringLiteral("Play"));
    SelectLine(Box(), QStringLiteral("grab"));
    other->naGrab2->Comments = {QStringLiteral("Registered last, so listed."), QStringLiteral("<b>Bold</b> second line")};
    form.show();
    form.resize(900, 640);
    form.lbClick(Box());
    QApplication::processEvents();
    const QImage img = form.grab().toImage();
    EXPECT_EQ(form.leName->width(), 900 - 335 - 8);
    EXPECT_EQ(form.pc->height(), 640 - 2 - 8);
    EXPECT_TRUE(img.save(QDir(TestArtifactsDir()).filePath(QStringLiteral("HelpForm.png"))));
}

}  // namespace
