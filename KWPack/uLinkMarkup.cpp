#include "uLinkMarkup.h"

#include <algorithm>

namespace {

constexpr QChar kParagraphSeparator(0x2029);
constexpr QChar kReplacement(0xFFFD);

// Blanks as the mark-up trims them: every control character and the space.
bool IsBlank(QChar c) { return c.unicode() <= 0x20; }

QString TrimBlanks(const QString &s)
{
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && IsBlank(s.at(from)))
        ++from;
    while (to > from && IsBlank(s.at(to - 1)))
        --to;
    return s.mid(from, to - from);
}

// The tag text splits at its first space into name and argument.
TMarkupToken MakeTag(const QString &tagText)
{
    TMarkupToken t;
    t.IsTag = true;
    const qsizetype blank = tagText.indexOf(QLatin1Char(' '));
    if (blank < 0) {
        t.Name = TrimBlanks(tagText).toUpper();
    } else {
        t.Name = TrimBlanks(tagText.left(blank)).toUpper();
        t.Arg = TrimBlanks(tagText.mid(blank + 1));
    }
    return t;
}

struct NamedColor {
    const char *name;
    TColor color;
};

constexpr NamedColor kColors[] = {
    {"RED", clRed},         {"GREEN", clGreen},       {"YELLOW", clYellow},
    {"BLUE", clBlue},       {"BLACK", clBlack},       {"WHITE", clWhite},
    {"AQUA", clAqua},       {"DKGRAY", clDkGray},     {"OLIVE", clOlive},
    {"PURPLE", clPurple},   {"FUCHSIA", clFuchsia},   {"GRAY", clGray},
    {"MAROON", clMaroon},   {"NAVY", clNavy},         {"LTGRAY", clLtGray},
    {"MEDGRAY", clMedGray}, {"SILVER", clSilver},     {"TEAL", clTeal},
    {"MONEYGREEN", clMoneyGreen}, {"CREAM", clCream}, {"SKYBLUE", clSkyBlue},
    {"BTNFACE", clBtnFace}, {"APPWORKSPACE", clAppWorkSpace},
};

std::optional<TLinkKind> LinkKindOf(const QString &name)
{
    if (name == QLatin1String("URL"))
        return TLinkKind::Url;
    if (name == QLatin1String("MAIL"))
        return TLinkKind::Mail;
    if (name == QLatin1String("LINK"))
        return TLinkKind::Custom;
    return std::nullopt;
}

std::optional<TLinkKind> ClosingLinkKindOf(const QString &name)
{
    if (!name.startsWith(QLatin1Char('/')))
        return std::nullopt;
    return LinkKindOf(name.mid(1));
}

// Walks the tokens once, building the plain and display texts, the runs, the
// paragraph alignments and the link spans together, so that all of them
// count positions the same way.
class LayoutBuilder {
public:
    explicit LayoutBuilder(const TMarkupContext &context)
        : m_ctx(context), m_attrs(context.Base), m_savedColor(context.Base.Color),
          m_savedStyle(context.Base.Style)
    {
        m_out.ParagraphAlign.push_back(context.Alignment);
    }

    void AddText(const QString &text);
    void AddTag(const TMarkupToken &tag);
    TMarkupLayout Finish();

private:
    int DisplayPos() const { return static_cast<int>(m_out.DisplayText.size()); }
    int PlainPos() const { return static_cast<int>(m_out.PlainText.size()); }
    int Paragraph() const { return static_cast<int>(m_out.ParagraphAlign.size()) - 1; }
    void AddDisplayBreak();
    void EmitRun();
    void TrackLink(const TMarkupToken &tag);
    void ApplyTag(const TMarkupToken &tag);
    bool ApplyStyleTag(const QString &name);
    TMarkupAlign BreakAlign(const QString &arg) const;
    TColor LinkColor(TLinkKind kind) const;

    const TMarkupContext &m_ctx;
    TMarkupLayout m_out;
    TMarkupAttrs m_attrs;
    // One slot for all three link kinds: links do not nest.
    TColor m_savedColor;
    TFontStyles m_savedStyle;
    int m_runStart = 0;
    int m_runPlainStart = 0;
    int m_runParagraph = 0;
    std::optional<TLinkKind> m_linkKind;
    QString m_linkTarget;
    int m_linkStart = 0;
};

void LayoutBuilder::AddDisplayBreak()
{
    m_out.DisplayText.append(QLatin1Char('\n'));
    m_out.ParagraphAlign.push_back(m_ctx.Alignment);
}

void LayoutBuilder::AddText(const QString &text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = text.at(i);
        m_out.PlainText.append(ch);
        if (ch == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n')) {
            m_out.PlainText.append(QLatin1Char('\n'));
            ++i;
            AddDisplayBreak();
        } else if (ch == QLatin1Char('\r') || ch == QLatin1Char('\n') || ch == kParagraphSeparator) {
            AddDisplayBreak();
        } else if (ch.unicode() == 0xFDD0 || ch.unicode() == 0xFDD1) {
            m_out.DisplayText.append(kReplacement);
        } else {
            m_out.DisplayText.append(ch);
        }
    }
}

void LayoutBuilder::EmitRun()
{
    const int length = DisplayPos() - m_runStart;
    const int plainLength = PlainPos() - m_runPlainStart;
    if (plainLength == 0)
        return;
    if (!m_out.Runs.empty() && m_out.Runs.back().Attrs == m_attrs) {
        m_out.Runs.back().Length += length;
        m_out.Runs.back().PlainLength += plainLength;
        return;
    }
    m_out.Runs.push_back({m_runStart, length, m_runPlainStart, plainLength, m_attrs});
}

void LayoutBuilder::AddTag(const TMarkupToken &tag)
{
    const bool isBreak = tag.Name == QLatin1String("BR");
    const int endedParagraph = Paragraph();
    if (isBreak) {
        m_out.PlainText.append(QLatin1String("\r\n"));
        AddDisplayBreak();
    }
    // The text since the previous tag keeps the attributes it started with.
    EmitRun();
    if (isBreak) {
        const TMarkupAlign align = BreakAlign(tag.Arg);
        for (int p = m_runParagraph; p <= endedParagraph; ++p)
            m_out.ParagraphAlign[static_cast<size_t>(p)] = align;
    }
    TrackLink(tag);
    ApplyTag(tag);
    m_runStart = DisplayPos();
    m_runPlainStart = PlainPos();
    m_runParagraph = Paragraph();
}

TMarkupAlign LayoutBuilder::BreakAlign(const QString &arg) const
{
    const QString a = arg.toUpper();
    if (a == QLatin1String("LEFT"))
        return TMarkupAlign::Left;
    if (a == QLatin1String("RIGHT"))
        return TMarkupAlign::Right;
    if (a == QLatin1String("CENTER"))
        return TMarkupAlign::Center;
    return m_ctx.Alignment;
}

void LayoutBuilder::TrackLink(const TMarkupToken &tag)
{
    if (const auto kind = LinkKindOf(tag.Name)) {
        m_linkKind = kind;
        m_linkTarget = tag.Arg;
        m_linkStart = DisplayPos();
        return;
    }
    const auto closing = ClosingLinkKindOf(tag.Name);
    if (closing && closing == m_linkKind && m_linkStart < DisplayPos())
        m_out.Links.push_back({*closing, m_linkTarget, m_linkStart, DisplayPos()});
}

TColor LayoutBuilder::LinkColor(TLinkKind kind) const
{
    switch (kind) {
    case TLinkKind::Url: return m_ctx.UrlColor;
    case TLinkKind::Mail: return m_ctx.MailColor;
    case TLinkKind::Custom: return m_ctx.LinkColor;
    }
    return m_ctx.UrlColor;
}

bool LayoutBuilder::ApplyStyleTag(const QString &name)
{
    static const struct {
        const char *name;
        TFontStyle style;
    } kStyles[] = {{"B", fsBold}, {"I", fsItalic}, {"U", fsUnderline}, {"S", fsStrikeOut}};
    const bool off = name.startsWith(QLatin1Char('/'));
    const QStringView bare = off ? QStringView(name).mid(1) : QStringView(name);
    for (const auto &s : kStyles) {
        if (bare != QLatin1String(s.name))
            continue;
        m_attrs.Style = off ? TFontStyles(m_attrs.Style & ~s.style) : TFontStyles(m_attrs.Style | s.style);
        return true;
    }
    return false;
}

void LayoutBuilder::ApplyTag(const TMarkupToken &tag)
{
    const QString &name = tag.Name;
    if (ApplyStyleTag(name))
        return;
    if (const auto kind = LinkKindOf(name)) {
        m_savedColor = m_attrs.Color;
        m_savedStyle = m_attrs.Style;
        m_attrs.Color = LinkColor(*kind);
        m_attrs.Style |= fsUnderline;
    } else if (ClosingLinkKindOf(name)) {
        m_attrs.Color = m_savedColor;
        m_attrs.Style = m_savedStyle;
    } else if (name == QLatin1String("COLOR")) {
        if (const auto c = MarkupColor(tag.Arg.toUpper()))
            m_attrs.Color = *c;
    } else if (name == QLatin1String("/COLOR")) {
        m_attrs.Color = m_ctx.Base.Color;
    } else if (name == QLatin1String("SIZE")) {
        bool ok = false;
        const int size = tag.Arg.toInt(&ok);
        m_attrs.Size = ok ? size : 0;
    } else if (name == QLatin1String("/SIZE")) {
        m_attrs.Size = m_ctx.Base.Size;
    } else if (name == QLatin1String("FONT")) {
        m_attrs.FontName = tag.Arg;
    } else if (name == QLatin1String("/FONT")) {
        m_attrs.FontName = m_ctx.Base.FontName;
    }
}

TMarkupLayout LayoutBuilder::Finish()
{
    // Text after the last tag keeps the attributes the tags left in effect.
    EmitRun();
    return std::move(m_out);
}

}  // namespace

std::vector<TMarkupToken> TokenizeMarkup(QStringView markup)
{
    std::vector<TMarkupToken> tokens;
    QString text;
    QString tagText;
    bool inTag = false;
    auto flushText = [&] {
        if (text.isEmpty())
            return;
        TMarkupToken t;
        t.Text = std::move(text);
        tokens.push_back(std::move(t));
        text.clear();
    };
    for (const QChar ch : markup) {
        if (!inTag) {
            if (ch == QLatin1Char('<')) {
                inTag = true;
                tagText.clear();
            } else {
                text.append(ch);
            }
        } else if (ch == QLatin1Char('<')) {
            text.append(ch);  // shown as is; the tag goes on
        } else if (ch == QLatin1Char('>')) {
            flushText();
            tokens.push_back(MakeTag(tagText));
            inTag = false;
        } else {
            tagText.append(ch);
        }
    }
    flushText();
    return tokens;
}

std::optional<TColor> MarkupColor(const QString &upperName)
{
    for (const auto &c : kColors)
        if (upperName == QLatin1String(c.name))
            return c.color;
    return std::nullopt;
}

TMarkupLayout LayoutMarkup(QStringView markup, const TMarkupContext &context)
{
    LayoutBuilder builder(context);
    for (const TMarkupToken &t : TokenizeMarkup(markup)) {
        if (t.IsTag)
            builder.AddTag(t);
        else
            builder.AddText(t.Text);
    }
    return builder.Finish();
}

std::optional<TMarkupLink> FindLink(const TMarkupLayout &layout, int position)
{
    for (const TMarkupLink &link : layout.Links)
        if (position >= link.Start && position < link.End)
            return link;
    return std::nullopt;
}

TMarkupAttrs AttrsAt(const TMarkupLayout &layout, int position, const TMarkupAttrs &base)
{
    const auto &runs = layout.Runs;
    auto it = std::upper_bound(runs.begin(), runs.end(), position,
                               [](int pos, const TMarkupRun &r) { return pos < r.Start; });
    if (it == runs.begin())
        return base;
    --it;
    if (position >= it->Start + it->Length)
        return base;
    return it->Attrs;
}
