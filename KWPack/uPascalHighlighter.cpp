#include "KWPack/uPascalHighlighter.h"

#include "platform/base/Graphics.h"

#include <QFont>
#include <QSet>

namespace {

bool IsIdentStart(QChar c) { return c.isLetter() || c == u'_'; }
bool IsIdentChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }
bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(QChar c)
{
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// A string: quoted pieces and character codes (#13#10, #$0A) run together.
qsizetype StringEnd(const QString &text, qsizetype i)
{
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == u'\'' || text.at(i) == u'#')) {
        if (text.at(i) == u'#') {
            ++i;
            if (i < n && text.at(i) == u'$')
                ++i;
            while (i < n && IsHexDigit(text.at(i)))
                ++i;
        } else {
            const qsizetype close = text.indexOf(QLatin1Char('\''), i + 1);
            i = close < 0 ? n : close + 1;
        }
    }
    return i;
}

// 12, $1F, 1.5, 2.5e3, 1e-3; "1..5" is two numbers around a range.
qsizetype NumberEnd(const QString &text, qsizetype at)
{
    const qsizetype n = text.size();
    qsizetype i = at + 1;
    while (i < n && (IsHexDigit(text.at(i)) || text.at(i) == u'.') &&
           !(text.at(i) == u'.' && i + 1 < n && text.at(i + 1) == u'.'))
        ++i;
    // The exponent's sign (its "e" was taken as a hex digit).
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-') && (text.at(i - 1) == u'e' || text.at(i - 1) == u'E'))
        for (++i; i < n && IsDigit(text.at(i));)
            ++i;
    return i;
}

QTextCharFormat MakeFormat(TColor color, bool bold, bool italic)
{
    QTextCharFormat f;
    if (color != clNone)
        f.setForeground(ColorToQColor(color));
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(italic);
    return f;
}

}  // namespace

TPascalHighlighter::TPascalHighlighter(QTextDocument *document) : QSyntaxHighlighter(document) {}

bool TPascalHighlighter::IsReservedWord(const QString &word)
{
    static const QSet<QString> kWords = [] {
        QSet<QString> words;
        for (const char *w :
             {"and", "array", "as", "asm", "begin", "case", "class", "const", "constructor",
              "destructor", "div", "do", "downto", "else", "end", "except", "exports", "file",
              "finalization", "finally", "for", "function", "goto", "if", "implementation", "in",
              "inherited", "initialization", "inline", "interface", "is", "label", "library", "mod",
              "nil", "not", "object", "of", "or", "out", "packed", "procedure", "program", "property",
              "raise", "record", "repeat", "resourcestring", "set", "shl", "shr", "string", "then",
              "threadvar", "to", "try", "type", "unit", "until", "uses", "var", "while", "with", "xor"})
            words.insert(QString::fromLatin1(w));
        return words;
    }();
    return kWords.contains(word.toLower());
}

QTextCharFormat TPascalHighlighter::Format(TToken token)
{
    switch (token) {
    case TToken::Space: return {};
    case TToken::Comment: return MakeFormat(clGreen, false, true);
    case TToken::Number: return MakeFormat(clNavy, false, false);
    case TToken::String: return MakeFormat(clPurple, false, false);
    case TToken::Symbol: return MakeFormat(clBlue, false, false);
    case TToken::Reserved: return MakeFormat(clMaroon, true, false);
    case TToken::Identifier: return MakeFormat(clNone, true, false);
    }
    return {};
}

// Index just past the end of a comment opened before `from`, or the line's
// length when it stays open.
qsizetype TPascalHighlighter::CommentEnd(const QString &text, qsizetype from, TLineState open)
{
    if (open == BraceComment) {
        const qsizetype close = text.indexOf(QLatin1Char('}'), from);
        return close < 0 ? text.size() : close + 1;
    }
    const qsizetype close = text.indexOf(QLatin1String("*)"), from);
    return close < 0 ? text.size() : close + 2;
}

// The token at `at`: its kind and the index just past it. A comment left open
// at the end of the line sets `open`.
qsizetype TPascalHighlighter::Token(const QString &text, qsizetype at, TToken &kind, TLineState &open)
{
    const qsizetype n = text.size();
    const QChar c = text.at(at);
    const QChar next = at + 1 < n ? text.at(at + 1) : QChar();
    qsizetype i = at + 1;
    if (c.isSpace()) {
        kind = TToken::Space;
        while (i < n && text.at(i).isSpace())
            ++i;
    } else if (c == u'/' && next == u'/') {
        kind = TToken::Comment;
        i = n;
    } else if (c == u'{' || (c == u'(' && next == u'*')) {
        kind = TToken::Comment;
        const TLineState s = c == u'{' ? BraceComment : ParenComment;
        i = CommentEnd(text, at + (s == BraceComment ? 1 : 2), s);
        const bool closed = s == BraceComment ? text.at(i - 1) == u'}' && i - 1 > at
                                              : i - at >= 4 && text.mid(i - 2, 2) == QLatin1String("*)");
        if (!closed)
            open = s;
    } else if (c == u'\'' || c == u'#') {
        kind = TToken::String;
        i = StringEnd(text, at);
    } else if (IsDigit(c) || (c == u'$' && IsHexDigit(next))) {
        kind = TToken::Number;
        i = NumberEnd(text, at);
    } else if (IsIdentStart(c)) {
        while (i < n && IsIdentChar(text.at(i)))
            ++i;
        kind = IsReservedWord(text.mid(at, i - at)) ? TToken::Reserved : TToken::Identifier;
    } else {
        kind = TToken::Symbol;
    }
    return i;
}

QList<TPascalHighlighter::TSpan> TPascalHighlighter::Scan(const QString &line, TLineState &state)
{
    QList<TSpan> spans;
    const TLineState carried = state;
    state = Normal;
    qsizetype at = 0;
    if (carried != Normal) {
        at = CommentEnd(line, 0, carried);
        const bool closed = carried == BraceComment ? line.left(at).endsWith(QLatin1Char('}'))
                                                    : line.left(at).endsWith(QLatin1String("*)"));
        if (at > 0)
            spans.append({0, at, TToken::Comment});
        if (!closed)
            state = carried;
    }
    while (at < line.size()) {
        TToken kind = TToken::Space;
        const qsizetype end = Token(line, at, kind, state);
        spans.append({at, end - at, kind});
        at = end;
    }
    return spans;
}

void TPascalHighlighter::highlightBlock(const QString &text)
{
    const int previous = previousBlockState();
    TLineState state = previous == BraceComment || previous == ParenComment ? TLineState(previous) : Normal;
    for (const TSpan &span : Scan(text, state))
        if (span.Kind != TToken::Space)
            setFormat(static_cast<int>(span.Start), static_cast<int>(span.Length), Format(span.Kind));
    setCurrentBlockState(state);
}
