// TLinkEdit: a read-only text box that shows a short text written in the
// mark-up of uLinkMarkup.h (styles, colours, sizes, faces, breaks with
// paragraph alignment, web, mail and custom links) and reports the links under
// the pointer to its owner. It opens nothing itself.
//
// UI thread only. The owner assigns the events; the control keeps the mark-up
// and its layout. An event handler may not delete the control.
#pragma once

#include "uLinkMarkup.h"

#include <QCursor>
#include <QTextEdit>

#include <functional>
#include <optional>

class QTextCharFormat;

// Asked for the hint of the link under the pointer; linkhint starts empty.
using TLinkHintEvent = std::function<void(const QString &link, QString &linkhint)>;
using TLinkClickEvent = std::function<void(const QString &link)>;

class TLinkEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit TLinkEdit(QWidget *parent = nullptr);

    const QString &RichText() const { return FRichText; }
    // Stores the mark-up and lays it out with the properties below as they
    // are now; changing them later takes effect at the next assignment.
    void SetRichText(const QString &markup);

    TColor UrlColor = clNavy;
    TColor MailColor = clNavy;
    TColor LinkColor = clNavy;
    // The control's own text colour and paragraph alignment (its own face,
    // size and style come from font()).
    TColor FontColor = clWindowText;
    TMarkupAlign Alignment = TMarkupAlign::Left;
    // Hand cursor over every link and the arrow elsewhere.
    bool UseInternalCursor = false;

    TLinkHintEvent OnUrlHint;
    TLinkHintEvent OnMailHint;
    TLinkHintEvent OnCustomLinkHint;
    TLinkClickEvent OnUrlClick;
    TLinkClickEvent OnMailClick;
    TLinkClickEvent OnCustomLinkClick;

    // Whether the hint (toolTip()) shows; set while over a link with a hint.
    bool ShowHint() const { return FShowHint; }
    const TMarkupLayout &Layout() const { return FLayout; }
    // The character under a point of the viewport, -1 when the point is not
    // on a glyph (beyond a line's end, below the text ...).
    int CharIndexAt(const QPoint &viewportPos) const;
    std::optional<TMarkupLink> LinkAt(const QPoint &viewportPos) const;
    // The base attributes the mark-up starts from.
    TMarkupContext Context() const;

protected:
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    bool event(QEvent *e) override;
    bool viewportEvent(QEvent *e) override;

private:
    void Render();
    void ApplyParagraphAlignments();
    QTextCharFormat CharFormat(const TMarkupAttrs &attrs) const;
    QRectF GlyphRect(int position) const;
    void UpdateHover(const QPoint &viewportPos, const QPoint &globalPos);
    bool AskHint(const TMarkupLink &link, QString &hint) const;
    void Click(const TMarkupLink &link);
    bool HandleToolTip(QEvent *e);

    QString FRichText;
    TMarkupLayout FLayout;
    QCursor FDefaultCursor;
    bool FShowHint = false;
};
