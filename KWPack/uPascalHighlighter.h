// TPascalHighlighter: syntax colouring of the script language for a text
// document (the script window's editor, the help window's declaration box).
// Comments green italic ("//", "{ }", "(* *)", directives too), numbers navy,
// strings and character codes purple, symbols blue, reserved words maroon
// bold, the other words of statements bold.
//
// UI thread only. The highlighter is owned by the document it colours.
#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

class QTextDocument;

class TPascalHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    enum class TToken { Space, Comment, Number, String, Symbol, Reserved, Identifier };

    explicit TPascalHighlighter(QTextDocument *document);

    // The format of each kind of token.
    QTextCharFormat Format(TToken token) const;
    static bool IsReservedWord(const QString &word);

protected:
    void highlightBlock(const QString &text) override;

private:
    // Block states: what a line leaves open for the next one.
    enum State { Normal = 0, BraceComment = 1, ParenComment = 2 };
    qsizetype CommentEnd(const QString &text, qsizetype from, State open) const;
    qsizetype Token(const QString &text, qsizetype at, TToken &kind, State &open) const;
};
