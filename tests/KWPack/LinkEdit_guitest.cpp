// The link label as a widget: what its document holds, the character and the
// link under the pointer, the cursor and hint rules and the click events.
#include "KWPack/uLinkEdit.h"

#include "common/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolTip>

#include <gtest/gtest.h>

namespace {

class LinkEditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TFont f;
        f.Name = QStringLiteral("Arial");
        f.Size = 12;
        edit.setFont(f.ToQFont());
        edit.resize(420, 220);
        edit.show();
        QApplication::processEvents();
    }

    void Assign(const QString &markup)
    {
        edit.SetRichText(markup);
        QApplication::processEvents();
    }

    QTextCharFormat FormatAt(int pos)
    {
        QTextCursor c(edit.document());
        c.setPosition(pos + 1);  // the format of the character before the cursor
        return c.charFormat();
    }

    Qt::Alignment AlignOf(int block) { return edit.document()->findBlockByNumber(block).blockFormat().alignment(); }

    // Middle of a character's glyph, in viewport coordinates.
    QPoint CharCenter(int pos)
    {
        QTextCursor c(edit.document());
        c.setPosition(pos);
        const QRect left = edit.cursorRect(c);
        c.setPosition(pos + 1);
        const QRect right = edit.cursorRect(c);
        return QPoint((left.x() + right.x()) / 2, left.center().y());
    }

    // Just past a line's last character, on the same line.
    QPoint PastLineEnd(int lastPos)
    {
        QTextCursor c(edit.document());
        c.setPosition(lastPos + 1);
        const QRect r = edit.cursorRect(c);
        return QPoint(r.x() + 30, r.center().y());
    }

    void Send(QEvent::Type type, const QPoint &p, Qt::MouseButton button = Qt::NoButton)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
        QMouseEvent e(type, QPointF(p), QPointF(edit.viewport()->mapToGlobal(p)), button, held,
                      Qt::NoModifier);
        QApplication::sendEvent(edit.viewport(), &e);
    }
    void MoveTo(const QPoint &p) { Send(QEvent::MouseMove, p); }
    void ClickAt(const QPoint &p)
    {
        Send(QEvent::MouseButtonPress, p, Qt::LeftButton);
        Send(QEvent::MouseButtonRelease, p, Qt::LeftButton);
    }
    Qt::CursorShape Shape() { return edit.viewport()->cursor().shape(); }

    TLinkEdit edit;
};

// "pre " 0-3, "web" 4-6, " " 7, "mail" 8-11, " " 12, "own" 13-15, break 16,
// "plain text" 17-26.
const QString kLinks = QStringLiteral("pre <url http://Example.org/A>web</url> <mail Me@Example.org>mail"
                                      "</mail> <link Page2>own</link><br>plain text");

TEST_F(LinkEditTest, DocumentGetsRunsAndParagraphAlignment)
{
    edit.UrlColor = clRed;
    Assign(QStringLiteral("<color green>Title<br center><b>bold</b> <url x>go</url> <size 20>big"
                          "<size nan>tiny<br right><i>tail"));
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("Title\nbold go bigtiny\ntail"));
    ASSERT_EQ(edit.document()->blockCount(), 3);
    EXPECT_EQ(AlignOf(0), Qt::AlignHCenter);
    EXPECT_EQ(AlignOf(1), Qt::AlignRight);
    EXPECT_EQ(AlignOf(2), Qt::AlignLeft);

    EXPECT_EQ(FormatAt(0).foreground().color(), QColor(0, 0x80, 0));
    EXPECT_EQ(FormatAt(6).fontWeight(), QFont::Bold);
    EXPECT_EQ(FormatAt(11).foreground().color(), QColor(Qt::red));
    EXPECT_TRUE(FormatAt(11).fontUnderline());
    EXPECT_FALSE(FormatAt(13).fontUnderline());
    EXPECT_EQ(FormatAt(14).fontPointSize(), 20);
    // "SIZE" with a bad argument keeps 0 in the mark-up and renders at 1 point.
    EXPECT_EQ(FormatAt(17).fontPointSize(), 1);
    // Text after the last tag keeps what the tags left in effect.
    EXPECT_TRUE(FormatAt(22).fontItalic());
    EXPECT_EQ(FormatAt(22).fontPointSize(), 1);
    EXPECT_EQ(FormatAt(22).foreground().color(), QColor(0, 0x80, 0));
}

TEST_F(LinkEditTest, TextWithoutTagsShowsInTheOwnFont)
{
    edit.FontColor = clMaroon;
    Assign(QStringLiteral("no tags at all"));
    const QTextCharFormat f = FormatAt(3);
    EXPECT_EQ(f.fontFamilies().toStringList().value(0), edit.font().family());
    EXPECT_EQ(f.fontPointSize(), 12);
    EXPECT_EQ(f.fontWeight(), QFont::Normal);
    EXPECT_EQ(f.foreground().color(), QColor(0x80, 0, 0));
}

TEST_F(LinkEditTest, SystemColoursAndFacesResolve)
{
    Assign(QStringLiteral("<color btnface>f<color appworkspace>w<font arial>a<font>d"));
    EXPECT_EQ(FormatAt(0).foreground().color(), ColorToQColor(clBtnFace));
    EXPECT_EQ(FormatAt(1).foreground().color(), ColorToQColor(clAppWorkSpace));
    EXPECT_EQ(FormatAt(2).fontFamilies().toStringList().value(0), SubstituteFontFamily(QStringLiteral("Arial")));
    EXPECT_EQ(FormatAt(3).fontFamilies().toStringList().value(0), edit.font().family());
}

TEST_F(LinkEditTest, CharacterUnderThePointerNeedsAGlyph)
{
    Assign(kLinks);
    EXPECT_EQ(edit.CharIndexAt(CharCenter(0)), 0);
    EXPECT_EQ(edit.CharIndexAt(CharCenter(5)), 5);
    EXPECT_EQ(edit.CharIndexAt(CharCenter(17)), 17);
    EXPECT_EQ(edit.CharIndexAt(PastLineEnd(15)), -1);
    EXPECT_EQ(edit.CharIndexAt(PastLineEnd(26)), -1);
    EXPECT_EQ(edit.CharIndexAt(QPoint(5, edit.viewport()->height() - 3)), -1);

    ASSERT_TRUE(edit.LinkAt(CharCenter(14)));
    EXPECT_EQ(edit.LinkAt(CharCenter(14))->Target, QStringLiteral("Page2"));
    EXPECT_FALSE(edit.LinkAt(PastLineEnd(15)));
}

TEST_F(LinkEditTest, CharacterLookupFollowsScrolling)
{
    QString markup;
    for (int i = 0; i < 40; ++i)
        markup += QStringLiteral("line %1<br>").arg(i, 2, 10, QLatin1Char('0'));
    markup += QStringLiteral("<url end>last</url>");
    Assign(markup);
    edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum());
    QApplication::processEvents();
    const int last = int(edit.toPlainText().size()) - 2;
    EXPECT_EQ(edit.CharIndexAt(CharCenter(last)), last);
    EXPECT_EQ(edit.LinkAt(CharCenter(last))->Target, QStringLiteral("end"));
}

TEST_F(LinkEditTest, HoverWithoutHintHandlersChangesCursorOnlyWithInternalCursor)
{
    Assign(kLinks);
    const Qt::CursorShape own = Shape();
    MoveTo(CharCenter(5));
    EXPECT_EQ(Shape(), own);
    EXPECT_FALSE(edit.ShowHint());

    edit.UseInternalCursor = true;
    MoveTo(CharCenter(9));
    EXPECT_EQ(Shape(), Qt::PointingHandCursor);
    MoveTo(CharCenter(18));
    EXPECT_EQ(Shape(), Qt::ArrowCursor);
    MoveTo(PastLineEnd(15));  // beside the link, not on it
    EXPECT_EQ(Shape(), Qt::ArrowCursor);

    edit.UseInternalCursor = false;
    MoveTo(CharCenter(18));
    EXPECT_EQ(Shape(), own);
}

TEST_F(LinkEditTest, HintHandlersAreAskedByKind)
{
    Assign(kLinks);
    const Qt::CursorShape own = Shape();
    QStringList asked;
    edit.OnUrlHint = [&](const QString &link, QString &hint) {
        asked << QStringLiteral("url:") + link;
        EXPECT_TRUE(hint.isEmpty());
        hint = QStringLiteral("Open ") + link;
    };
    edit.OnCustomLinkHint = [&](const QString &link, QString &hint) {
        asked << QStringLiteral("own:") + link;
        hint = QStringLiteral("Go to ") + link;
    };
    MoveTo(CharCenter(4));
    EXPECT_EQ(Shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(edit.ShowHint());
    EXPECT_EQ(edit.toolTip(), QStringLiteral("Open http://Example.org/A"));

    MoveTo(CharCenter(15));
    EXPECT_EQ(edit.toolTip(), QStringLiteral("Go to Page2"));

    MoveTo(CharCenter(3));
    EXPECT_FALSE(edit.ShowHint());
    EXPECT_EQ(Shape(), own);

    // No mail hint handler: nothing asked, hints stay off.
    MoveTo(CharCenter(10));
    EXPECT_FALSE(edit.ShowHint());
    EXPECT_EQ(asked, (QStringList{QStringLiteral("url:http://Example.org/A"), QStringLiteral("own:Page2")}));
}

TEST_F(LinkEditTest, HintShowsOnlyWhileOverAHintedLink)
{
    Assign(kLinks);
    edit.OnMailHint = [](const QString &link, QString &hint) { hint = QStringLiteral("Write to ") + link; };
    auto askTip = [&](const QPoint &p) {
        QHelpEvent e(QEvent::ToolTip, p, edit.viewport()->mapToGlobal(p));
        QApplication::sendEvent(edit.viewport(), &e);
    };
    askTip(CharCenter(9));  // not hovered yet: hints are off
    EXPECT_FALSE(QToolTip::isVisible());

    MoveTo(CharCenter(9));
    askTip(CharCenter(9));
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Write to Me@Example.org"));

    // A tip fades out after a short delay.
    auto hiddenSoon = [] {
        QElapsedTimer t;
        t.start();
        while (QToolTip::isVisible() && t.elapsed() < 2000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return !QToolTip::isVisible();
    };
    MoveTo(CharCenter(20));
    EXPECT_TRUE(hiddenSoon());
    askTip(CharCenter(20));
    EXPECT_TRUE(hiddenSoon());
    EXPECT_FALSE(edit.ShowHint());
}

TEST_F(LinkEditTest, ReleaseOverALinkCallsTheClickOfItsKind)
{
    Assign(kLinks);
    ClickAt(CharCenter(5));  // nothing assigned: skipped
    QStringList clicked;
    edit.OnUrlClick = [&](const QString &l) { clicked << QStringLiteral("url:") + l; };
    edit.OnMailClick = [&](const QString &l) { clicked << QStringLiteral("mail:") + l; };
    edit.OnCustomLinkClick = [&](const QString &l) { clicked << QStringLiteral("own:") + l; };
    ClickAt(CharCenter(6));
    ClickAt(CharCenter(8));
    ClickAt(CharCenter(13));
    ClickAt(CharCenter(12));
    ClickAt(CharCenter(20));
    ClickAt(PastLineEnd(15));
    EXPECT_EQ(clicked, (QStringList{QStringLiteral("url:http://Example.org/A"),
                                    QStringLiteral("mail:Me@Example.org"), QStringLiteral("own:Page2")}));
}

TEST_F(LinkEditTest, MalformedMarkupStillRenders)
{
    Assign(QStringLiteral("<url a>x<mail b>y</mail>z</url><size -5>n<size 99999>h<b"));
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("xyznh"));
    EXPECT_EQ(FormatAt(3).fontPointSize(), 1);
    EXPECT_GT(FormatAt(4).fontPointSize(), 12);
    Assign(QString());
    EXPECT_TRUE(edit.toPlainText().isEmpty());
    EXPECT_FALSE(edit.LinkAt(QPoint(5, 5)));
}

TEST_F(LinkEditTest, RendersToAPicture)
{
    TFont f;
    f.Name = QStringLiteral("Arial");
    f.PixelsPerInch = 120;
    f.SetHeight(-20);
    edit.setFont(f.ToQFont());
    edit.resize(464, 247);
    edit.UrlColor = clRed;
    Assign(QStringLiteral("<b>Bold</b> <i>italic</i> <u>under</u> <s>struck</s><br center>"
                          "<color teal>centred teal<br right></color><size 8>small</size> "
                          "<font Courier New>mono</font><br>"
                          "<url http://example.org>web link</url>, <mail me@example.org>mail</mail>, "
                          "<link x>custom</link> 1 > 0 <<br><size 16><color purple>big purple"));
    const QString file = QDir(TestArtifactsDir()).filePath(QStringLiteral("linkedit.png"));
    EXPECT_TRUE(edit.grab().save(file));
}

}  // namespace
