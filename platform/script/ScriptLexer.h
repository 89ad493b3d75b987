// Tokens of the script language, and the preprocessor that turns the main
// text and its include files into one token list.
//
// Positions count lines and columns from 1 in the file a token comes from;
// file 0 is the main text, others are include files by their index in
// Preprocessed::files. Directives are read when the preprocessor is on and
// are comments otherwise. Single thread.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace pss {

struct Pos {
    int file = 0;
    int line = 0;
    int col = 0;
};

enum class Tok : uint8_t { Ident, Int, Real, Str, Sym, Eof };

struct Token {
    Tok kind = Tok::Eof;
    QString text;   // as written (Str: the value; Sym: the symbol)
    QString lower;  // identifiers and symbols, lower-cased
    qint64 ival = 0;
    double rval = 0;
    Pos pos;
    bool is(const char *sym) const { return (kind == Tok::Sym || kind == Tok::Ident) && lower == QLatin1String(sym); }
};

struct CompileError {
    CompileError(const Pos &p, const QString &t) : pos(p), text(t) {}
    Pos pos;
    QString text;
    QString fileName;  // set for errors in include files found while preprocessing
};

struct Preprocessed {
    std::vector<Token> tokens;  // ends with Eof
    QStringList files;          // display names; [0] is the main text
};

struct PreprocessOptions {
    bool enabled = true;
    QString mainFileName;
    QStringList defines;
};

// Throws CompileError.
Preprocessed preprocess(const QString &text, const PreprocessOptions &options);
// Tokens of a single declaration text (no directives); throws CompileError.
std::vector<Token> tokenize(const QString &text);

// "(3:5)" or "inc.pas(3:5)".
QString formatPos(const Pos &pos, const QStringList &files);

}  // namespace pss
