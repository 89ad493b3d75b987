// TPascalHighlighter: syntax colouring of the script language for a text
// document (the script window's editor, the help window's declaration box).
// Comments green italic ("//", "{ }", "(* *)", directives too), numbers navy,
// strings and character codes purple, symbols blue, reserved words maroon
// bold, the other words of statements bold.
//
// UI thread only. The highlighter is owned by the document it colours.
#pragma once

#include <QList>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

class QTextDocument;

class TPascalHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    enum class TToken { Space, Comment, Number, String, Symbol, Reserved, Identifier };
    // What a line leaves open for the next one.
    enum TLineState { Normal = 0, BraceComment = 1, ParenComment = 2 };
    struct TSpan {
        qsizetype Start, Length;
        TToken Kind;
    };

    explicit TPascalHighlighter(QTextDocument *document);

    // The format of each kind of token.
    static QTextCharFormat Format(TToken token);
    static bool IsReservedWord(const QString &word);
    // The tokens of one line, end to end. `state` is what the line before
    // left open on entry, and what this one leaves open on return.
    static QList<TSpan> Scan(const QString &line, TLineState &state);

protected:
    void highlightBlock(const QString &text) override;

private:
    static qsizetype CommentEnd(const QString &text, qsizetype from, TLineState open);
    static qsizetype Token(const QString &text, qsizetype at, TToken &kind, TLineState &open);
};
