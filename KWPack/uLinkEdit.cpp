#include "uLinkEdit.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>

namespace {

// A "SIZE" tag may give 0, a negative or an absurd size; a font needs a
// positive one, and a huge one would only make the layout crawl.
constexpr int kMinPointSize = 1;
constexpr int kMaxPointSize = 400;

Qt::Alignment ToQtAlignment(TMarkupAlign align)
{
    switch (align) {
    case TMarkupAlign::Left: return Qt::AlignLeft;
    case TMarkupAlign::Right: return Qt::AlignRight;
    case TMarkupAlign::Center: return Qt::AlignHCenter;
    }
    return Qt::AlignLeft;
}

// Repaints wait until the new text is laid out, as the control is disabled
// while the mark-up is assigned.
class UpdatesSuspended {
public:
    explicit UpdatesSuspended(QWidget *w) : m_widget(w), m_was(w->updatesEnabled())
    {
        m_widget->setUpdatesEnabled(false);
    }
    ~UpdatesSuspended() { m_widget->setUpdatesEnabled(m_was); }
    UpdatesSuspended(const UpdatesSuspended &) = delete;
    UpdatesSuspended &operator=(const UpdatesSuspended &) = delete;

private:
    QWidget *m_widget;
    bool m_was;
};

}  // namespace

TLinkEdit::TLinkEdit(QWidget *parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setAcceptRichText(false);
    viewport()->setMouseTracking(true);
    FDefaultCursor = viewport()->cursor();
}

TMarkupContext TLinkEdit::Context() const
{
    const QFont f = font();
    TMarkupContext c;
    c.Base.Color = FontColor;
    c.Base.Style = static_cast<TFontStyles>((f.bold() ? fsBold : 0) | (f.italic() ? fsItalic : 0) |
                                            (f.underline() ? fsUnderline : 0) |
                                            (f.strikeOut() ? fsStrikeOut : 0));
    int points = f.pointSize();
    if (points <= 0)
        points = qRound(f.pixelSize() * 72.0 / std::max(1, logicalDpiY()));
    c.Base.Size = points;
    c.Base.FontName = f.family();
    c.Alignment = Alignment;
    c.UrlColor = UrlColor;
    c.MailColor = MailColor;
    c.LinkColor = LinkColor;
    return c;
}

void TLinkEdit::SetRichText(const QString &markup)
{
    UpdatesSuspended suspended(this);
    FRichText = markup;
    FLayout = LayoutMarkup(FRichText, Context());
    Render();
}

QTextCharFormat TLinkEdit::CharFormat(const TMarkupAttrs &attrs) const
{
    QTextCharFormat f;
    const QString face = attrs.FontName.isEmpty() ? font().family() : attrs.FontName;
    f.setFontFamilies(QStringList{SubstituteFontFamily(face)});
    f.setFontPointSize(std::clamp(attrs.Size, kMinPointSize, kMaxPointSize));
    f.setFontWeight((attrs.Style & fsBold) ? QFont::Bold : QFont::Normal);
    f.setFontItalic(attrs.Style & fsItalic);
    f.setFontUnderline(attrs.Style & fsUnderline);
    f.setFontStrikeOut(attrs.Style & fsStrikeOut);
    f.setForeground(ColorToQColor(attrs.Color));
    return f;
}

void TLinkEdit::Render()
{
    QTextDocument *doc = document();
    doc->clear();
    QTextCursor c(doc);
    c.beginEditBlock();
    for (const TMarkupRun &run : FLayout.Runs)
        c.insertText(FLayout.DisplayText.mid(run.Start, run.Length), CharFormat(run.Attrs));
    c.endEditBlock();
    ApplyParagraphAlignments();
}

void TLinkEdit::ApplyParagraphAlignments()
{
    QTextCursor c(document());
    c.beginEditBlock();
    size_t i = 0;
    for (QTextBlock b = document()->begin(); b.isValid() && i < FLayout.ParagraphAlign.size();
         b = b.next(), ++i) {
        QTextBlockFormat f = b.blockFormat();
        f.setAlignment(ToQtAlignment(FLayout.ParagraphAlign[i]));
        c.setPosition(b.position());
        c.setBlockFormat(f);
    }
    c.endEditBlock();
}

QRectF TLinkEdit::GlyphRect(int position) const
{
    if (position < 0)
        return {};
    const QTextBlock b = document()->findBlock(position);
    if (!b.isValid() || !b.layout())
        return {};
    const int rel = position - b.position();
    if (rel >= b.length() - 1)
        return {};  // the paragraph's end mark has no glyph
    const QTextLine line = b.layout()->lineForTextPosition(rel);
    if (!line.isValid())
        return {};
    const qreal x1 = line.cursorToX(rel);
    const qreal x2 = line.cursorToX(rel + 1);
    return QRectF(std::min(x1, x2), line.y(), std::abs(x2 - x1), line.height())
        .translated(b.layout()->position());
}

int TLinkEdit::CharIndexAt(const QPoint &viewportPos) const
{
    // The nearest cursor position lies on either side of the character
    // under the pointer, or at a line's end when the pointer is past it.
    const QPointF docPos = QPointF(viewportPos) +
                           QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const int p = cursorForPosition(viewportPos).position();
    for (const int candidate : {p - 1, p})
        if (GlyphRect(candidate).contains(docPos))
            return candidate;
    return -1;
}

std::optional<TMarkupLink> TLinkEdit::LinkAt(const QPoint &viewportPos) const
{
    const int index = CharIndexAt(viewportPos);
    if (index < 0)
        return std::nullopt;
    return FindLink(FLayout, index);
}

bool TLinkEdit::AskHint(const TMarkupLink &link, QString &hint) const
{
    const TLinkHintEvent *handler = nullptr;
    switch (link.Kind) {
    case TLinkKind::Url: handler = &OnUrlHint; break;
    case TLinkKind::Mail: handler = &OnMailHint; break;
    case TLinkKind::Custom: handler = &OnCustomLinkHint; break;
    }
    if (!handler || !*handler)
        return false;
    (*handler)(link.Target, hint);
    return true;
}

void TLinkEdit::UpdateHover(const QPoint &viewportPos, const QPoint &globalPos)
{
    const auto link = LinkAt(viewportPos);
    if (!link) {
        viewport()->setCursor(UseInternalCursor ? QCursor(Qt::ArrowCursor) : FDefaultCursor);
        if (FShowHint && QToolTip::isVisible())
            QToolTip::hideText();
        FShowHint = false;
        return;
    }
    if (UseInternalCursor)
        viewport()->setCursor(Qt::PointingHandCursor);
    QString hint;
    if (!AskHint(*link, hint))
        return;
    viewport()->setCursor(Qt::PointingHandCursor);
    setToolTip(hint);
    FShowHint = true;
    // A hint already up follows the link the pointer moved to.
    if (QToolTip::isVisible())
        QToolTip::showText(globalPos, hint, viewport());
}

void TLinkEdit::Click(const TMarkupLink &link)
{
    const TLinkClickEvent *handler = nullptr;
    switch (link.Kind) {
    case TLinkKind::Url: handler = &OnUrlClick; break;
    case TLinkKind::Mail: handler = &OnMailClick; break;
    case TLinkKind::Custom: handler = &OnCustomLinkClick; break;
    }
    if (handler && *handler)
        (*handler)(link.Target);
}

void TLinkEdit::mouseMoveEvent(QMouseEvent *e)
{
    QTextEdit::mouseMoveEvent(e);
    UpdateHover(e->position().toPoint(), e->globalPosition().toPoint());
}

void TLinkEdit::mouseReleaseEvent(QMouseEvent *e)
{
    QTextEdit::mouseReleaseEvent(e);
    if (const auto link = LinkAt(e->position().toPoint()))
        Click(*link);
}

bool TLinkEdit::HandleToolTip(QEvent *e)
{
    if (e->type() != QEvent::ToolTip)
        return false;
    const auto *help = static_cast<QHelpEvent *>(e);
    if (FShowHint && !toolTip().isEmpty())
        QToolTip::showText(help->globalPos(), toolTip(), viewport());
    else
        QToolTip::hideText();
    return true;
}

bool TLinkEdit::event(QEvent *e)
{
    return HandleToolTip(e) || QTextEdit::event(e);
}

bool TLinkEdit::viewportEvent(QEvent *e)
{
    return HandleToolTip(e) || QTextEdit::viewportEvent(e);
}
