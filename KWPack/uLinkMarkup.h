// The small tag language of the link label, without any widget: the tag
// tokenizer, the plain text, the formatting runs with their attributes, the
// paragraph alignments and the link spans a character position falls in.
//
// Everything here is value code: no widgets, no shared state; any thread.
// TLinkEdit (uLinkEdit.h) puts a TMarkupLayout into its document.
#pragma once

#include "platform/base/Graphics.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

enum class TLinkKind { Url, Mail, Custom };
enum class TMarkupAlign { Left, Right, Center };

// The attributes a run of text is shown with. Size is in points and kept as
// the mark-up gave it (a "SIZE" tag with a bad argument gives 0); whoever
// renders it clamps it to something a font can have.
struct TMarkupAttrs {
    TColor Color = clWindowText;
    TFontStyles Style = 0;
    int Size = 8;
    QString FontName;
    friend bool operator==(const TMarkupAttrs &, const TMarkupAttrs &) = default;
};

// What the layout starts from: the control's own font, colour and alignment,
// and the colours of the three link kinds.
struct TMarkupContext {
    TMarkupAttrs Base;
    TMarkupAlign Alignment = TMarkupAlign::Left;
    TColor UrlColor = clNavy;
    TColor MailColor = clNavy;
    TColor LinkColor = clNavy;
};

// A tokenizer piece: shown characters, or a complete tag. A "<" met inside a
// tag comes out as a text token before the tag it sits in; an unterminated
// tag at the end of the mark-up gives no token.
struct TMarkupToken {
    bool IsTag = false;
    QString Text;  // text token: the characters shown
    QString Name;  // tag token: the name, upper case
    QString Arg;   // tag token: the argument, trimmed, case kept
};

// Text from Start (inclusive) to End (exclusive), positions counted in the
// display text; Target keeps the case the mark-up gave it.
struct TMarkupLink {
    TLinkKind Kind = TLinkKind::Url;
    QString Target;
    int Start = 0;
    int End = 0;
    friend bool operator==(const TMarkupLink &, const TMarkupLink &) = default;
};

// One stretch of text with the attributes in effect when it started. Start
// and Length count in the display text, PlainStart and PlainLength in the
// plain text (where a break is carriage return and line feed).
struct TMarkupRun {
    int Start = 0;
    int Length = 0;
    int PlainStart = 0;
    int PlainLength = 0;
    TMarkupAttrs Attrs;
};

struct TMarkupLayout {
    // Characters outside tags, "<" for each one inside a tag, CR LF per "BR".
    QString PlainText;
    // The same with every line break (a "BR", or CR LF, CR, LF or U+2029 in
    // the text) as one '\n', the way a text document stores it; characters a
    // document would take for frame marks become U+FFFD.
    QString DisplayText;
    // Consecutive, covering DisplayText and PlainText whole; neighbours differ.
    std::vector<TMarkupRun> Runs;
    // One per paragraph of DisplayText (its '\n' count plus one).
    std::vector<TMarkupAlign> ParagraphAlign;
    // In the order the closing tags come; FindLink takes the first that fits.
    std::vector<TMarkupLink> Links;
};

std::vector<TMarkupToken> TokenizeMarkup(QStringView markup);

// The colour a "COLOR" tag names (upper-case name); empty when unknown.
std::optional<TColor> MarkupColor(const QString &upperName);

TMarkupLayout LayoutMarkup(QStringView markup, const TMarkupContext &context);

// The link shown at a display-text position, if any.
std::optional<TMarkupLink> FindLink(const TMarkupLayout &layout, int position);

// The attributes of the run holding a display-text position (the base
// attributes when the position lies outside every run).
TMarkupAttrs AttrsAt(const TMarkupLayout &layout, int position, const TMarkupAttrs &base);
