#include "ScriptLexer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <memory>

namespace pss {

namespace {

constexpr int kMaxIncludeDepth = 16;
// An include file that includes itself twice would otherwise double the
// program at every level.
constexpr size_t kMaxTokens = 2'000'000;
constexpr qint64 kMaxFileBytes = 16 << 20;

class Lexer {
public:
    Lexer(const QString &text, int file, bool directives) : s_(text), file_(file), directives_(directives) {}

    // The next token; a directive's text goes to `directive` (kind Eof with
    // directive non-empty means "a directive was read").
    Token next(QString &directive)
    {
        directive.clear();
        skipBlanks(directive);
        Token t;
        t.pos = here();
        if (!directive.isNull() && !directive.isEmpty())
            return t;
        if (i_ >= s_.size())
            return t;
        const QChar c = s_[i_];
        if (c.isLetter() || c == u'_')
            return ident(t);
        if (c.isDigit() || (c == u'$' && i_ + 1 < s_.size() && isHex(s_[i_ + 1])))
            return number(t);
        if (c == u'\'' || c == u'#')
            return string(t);
        return symbol(t);
    }

    Pos here() const { return Pos{file_, line_, i_ - lineStart_ + 1}; }

private:
    static bool isHex(QChar c) { return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f'); }

    QChar at(int k) const { return k < s_.size() ? s_[k] : QChar(); }

    void advance()
    {
        if (s_[i_] == u'\n') {
            ++line_;
            lineStart_ = i_ + 1;
        }
        ++i_;
    }

    void skipBlanks(QString &directive)
    {
        while (i_ < s_.size()) {
            const QChar c = s_[i_];
            if (c.isSpace() || c == QChar(0xFEFF)) {
                advance();
            } else if (c == u'/' && at(i_ + 1) == u'/') {
                while (i_ < s_.size() && s_[i_] != u'\n')
                    advance();
            } else if (c == u'{') {
                const Pos start = here();
                const bool isDirective = directives_ && at(i_ + 1) == u'$';
                const int from = i_ + (isDirective ? 2 : 1);
                while (i_ < s_.size() && s_[i_] != u'}')
                    advance();
                if (i_ >= s_.size())
                    throw CompileError{start, QStringLiteral("Unexpected end of file in comment")};
                const QString body = s_.mid(from, i_ - from);
                advance();
                if (isDirective) {
                    directive = body.isEmpty() ? QStringLiteral(" ") : body;
                    directivePos_ = start;
                    return;
                }
            } else if (c == u'(' && at(i_ + 1) == u'*') {
                const Pos start = here();
                advance();
                advance();
                while (i_ < s_.size() && !(s_[i_] == u'*' && at(i_ + 1) == u')'))
                    advance();
                if (i_ >= s_.size())
                    throw CompileError{start, QStringLiteral("Unexpected end of file in comment")};
                advance();
                advance();
            } else {
                return;
            }
        }
    }

    Token ident(Token &t)
    {
        const int from = i_;
        while (i_ < s_.size() && (s_[i_].isLetterOrNumber() || s_[i_] == u'_'))
            ++i_;
        t.kind = Tok::Ident;
        t.text = s_.mid(from, i_ - from);
        t.lower = t.text.toLower();
        return t;
    }

    Token number(Token &t)
    {
        const int from = i_;
        if (s_[i_] == u'$') {
            ++i_;
            quint64 v = 0;
            int digits = 0;
            while (i_ < s_.size() && isHex(s_[i_])) {
                v = v * 16 + quint64(QString(s_[i_]).toInt(nullptr, 16));
                if (++digits > 16)
                    throw CompileError{t.pos, QStringLiteral("Integer constant too large")};
                ++i_;
            }
            t.kind = Tok::Int;
            t.ival = qint64(v);
            t.text = s_.mid(from, i_ - from);
            return t;
        }
        while (i_ < s_.size() && s_[i_].isDigit())
            ++i_;
        bool real = false;
        if (at(i_) == u'.' && at(i_ + 1).isDigit()) {
            real = true;
            ++i_;
            while (i_ < s_.size() && s_[i_].isDigit())
                ++i_;
        }
        if (at(i_).toLower() == u'e' &&
            (at(i_ + 1).isDigit() || ((at(i_ + 1) == u'+' || at(i_ + 1) == u'-') && at(i_ + 2).isDigit()))) {
            real = true;
            i_ += 2;
            while (i_ < s_.size() && s_[i_].isDigit())
                ++i_;
        }
        t.text = s_.mid(from, i_ - from);
        bool ok = false;
        if (real) {
            t.kind = Tok::Real;
            t.rval = t.text.toDouble(&ok);
            ok = ok || std::isinf(t.rval);
        } else {
            t.kind = Tok::Int;
            t.ival = t.text.toLongLong(&ok);
        }
        if (!ok)
            throw CompileError{t.pos, QStringLiteral("Integer constant too large")};
        return t;
    }

    Token string(Token &t)
    {
        t.kind = Tok::Str;
        for (;;) {
            if (at(i_) == u'\'') {
                ++i_;
                for (;;) {
                    if (i_ >= s_.size() || s_[i_] == u'\n')
                        throw CompileError{t.pos, QStringLiteral("Unterminated string")};
                    if (s_[i_] == u'\'') {
                        if (at(i_ + 1) != u'\'')
                            break;
                        ++i_;
                    }
                    t.text += s_[i_++];
                }
                ++i_;
            } else if (at(i_) == u'#') {
                ++i_;
                const int from = i_;
                const bool hex = at(i_) == u'$';
                if (hex)
                    ++i_;
                while (i_ < s_.size() && (hex ? isHex(s_[i_]) : s_[i_].isDigit()))
                    ++i_;
                bool ok = false;
                const uint code = s_.mid(from + (hex ? 1 : 0), i_ - from - (hex ? 1 : 0)).toUInt(&ok, hex ? 16 : 10);
                if (!ok || code > 0xFFFF)
                    throw CompileError{t.pos, QStringLiteral("Invalid character constant")};
                t.text += QChar(char16_t(code));
            } else {
                return t;
            }
        }
    }

    Token symbol(Token &t)
    {
        static const char *const two[] = {":=", "..", "<=", ">=", "<>", "(.", ".)"};
        t.kind = Tok::Sym;
        for (const char *sym : two) {
            if (s_[i_] == QLatin1Char(sym[0]) && at(i_ + 1) == QLatin1Char(sym[1])) {
                i_ += 2;
                t.text = QString::fromLatin1(sym);
                if (t.text == QLatin1String("(."))
                    t.text = QStringLiteral("[");
                if (t.text == QLatin1String(".)"))
                    t.text = QStringLiteral("]");
                t.lower = t.text;
                return t;
            }
        }
        const QChar c = s_[i_];
        if (!QStringLiteral("+-*/=<>()[],;:.^@").contains(c))
            throw CompileError{t.pos, QStringLiteral("Illegal character in input file: '%1'").arg(c)};
        ++i_;
        t.text = QString(c);
        t.lower = t.text;
        return t;
    }

    QString s_;
    int i_ = 0;
    int line_ = 1;
    int lineStart_ = 0;
    int file_;
    bool directives_;

public:
    Pos directivePos_;
};

struct Cond {
    bool parentActive;
    bool taking;
    bool seenElse;
    Pos pos;
};

class Preprocessor {
public:
    Preprocessor(const PreprocessOptions &o) : opt_(o)
    {
        for (const QString &d : o.defines)
            defines_ << d.trimmed().toUpper();
    }

    Preprocessed run(const QString &text)
    {
        out_.files << QString();
        const QString folder = opt_.mainFileName.isEmpty() ? QDir::currentPath()
                                                           : QFileInfo(opt_.mainFileName).absolutePath();
        lex(text, 0, folder, 0);
        if (!conds_.empty())
            throw CompileError{conds_.back().pos, QStringLiteral("Missing ENDIF directive")};
        Token eof;
        eof.pos = lastPos_;
        out_.tokens.push_back(eof);
        return std::move(out_);
    }

    QString fileName(int file) const { return file > 0 && file < out_.files.size() ? out_.files[file] : QString(); }

private:
    bool active() const { return conds_.empty() || (conds_.back().parentActive && conds_.back().taking); }

    void lex(const QString &text, int file, const QString &folder, int depth)
    {
        Lexer lx(text, file, opt_.enabled);
        QString directive;
        for (;;) {
            Token t = lx.next(directive);
            if (!directive.isEmpty()) {
                handle(directive, lx.directivePos_, folder, depth);
                continue;
            }
            if (t.kind == Tok::Eof) {
                if (file == 0)
                    lastPos_ = t.pos;
                return;
            }
            if (!active())
                continue;
            if (out_.tokens.size() >= kMaxTokens)
                throw CompileError{t.pos, QStringLiteral("Program too large")};
            out_.tokens.push_back(std::move(t));
        }
    }

    void handle(const QString &body, const Pos &pos, const QString &folder, int depth)
    {
        const QString trimmed = body.trimmed();
        const int sp = trimmed.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString name = (sp < 0 ? trimmed : trimmed.left(sp)).toUpper();
        QString arg = sp < 0 ? QString() : trimmed.mid(sp + 1).trimmed();
        const QString sym = arg.section(QLatin1Char(' '), 0, 0).toUpper();
        if (name == QLatin1String("IFDEF") || name == QLatin1String("IFNDEF")) {
            const bool def = defines_.contains(sym);
            conds_.push_back(Cond{active(), name == QLatin1String("IFDEF") ? def : !def, false, pos});
        } else if (name == QLatin1String("ELSE")) {
            if (conds_.empty() || conds_.back().seenElse)
                throw CompileError{pos, QStringLiteral("Misplaced ELSE directive")};
            conds_.back().taking = !conds_.back().taking;
            conds_.back().seenElse = true;
        } else if (name == QLatin1String("ENDIF")) {
            if (conds_.empty())
                throw CompileError{pos, QStringLiteral("Misplaced ENDIF directive")};
            conds_.pop_back();
        } else if (!active()) {
            return;
        } else if (name == QLatin1String("DEFINE")) {
            if (!sym.isEmpty() && !defines_.contains(sym))
                defines_ << sym;
        } else if (name == QLatin1String("UNDEF")) {
            defines_.removeAll(sym);
        } else if ((name == QLatin1String("I") || name == QLatin1String("INCLUDE")) && !arg.isEmpty() &&
                   arg != QLatin1String("+") && arg != QLatin1String("-")) {
            include(arg, pos, folder, depth);
        }
        // Other directives mean nothing here.
    }

    void include(QString arg, const Pos &pos, const QString &folder, int depth)
    {
        if (arg.size() >= 2 && arg.startsWith(QLatin1Char('\'')) && arg.endsWith(QLatin1Char('\'')))
            arg = arg.mid(1, arg.size() - 2);
        if (depth + 1 > kMaxIncludeDepth)
            throw CompileError{pos, QStringLiteral("Include files nested too deeply: '%1'").arg(arg)};
        const QString path = QDir(folder).absoluteFilePath(arg);
        QFile f(path);
        if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly))
            throw CompileError{pos, QStringLiteral("File not found: '%1'").arg(arg)};
        const QByteArray bytes = f.read(kMaxFileBytes + 1);  // special files may not know their size
        if (bytes.size() > kMaxFileBytes)
            throw CompileError{pos, QStringLiteral("File too large: '%1'").arg(arg)};
        QString text = QString::fromUtf8(bytes);
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        const int file = int(out_.files.size());
        out_.files << QFileInfo(arg).fileName();
        lex(text, file, QFileInfo(path).absolutePath(), depth + 1);
    }

    PreprocessOptions opt_;
    QStringList defines_;
    std::vector<Cond> conds_;
    Preprocessed out_;
    Pos lastPos_;
};

}  // namespace

Preprocessed preprocess(const QString &text, const PreprocessOptions &options)
{
    Preprocessor pp(options);
    try {
        return pp.run(text);
    } catch (CompileError &e) {
        e.fileName = pp.fileName(e.pos.file);
        throw;
    }
}

std::vector<Token> tokenize(const QString &text)
{
    Lexer lx(text, 0, false);
    std::vector<Token> out;
    QString directive;
    for (;;) {
        Token t = lx.next(directive);
        out.push_back(t);
        if (t.kind == Tok::Eof)
            return out;
    }
}

QString formatPos(const Pos &pos, const QStringList &files)
{
    const QString name = pos.file > 0 && pos.file < files.size() ? files[pos.file] : QString();
    return QStringLiteral("%1(%2:%3)").arg(name).arg(pos.line).arg(pos.col);
}

}  // namespace pss
