// Random mark-up through the link label's layout. The input is either raw
// UTF-8 or, when its first byte is odd, a list of picks from a vocabulary of
// tags and text pieces, so deep tag sequences come up without a corpus.
// Any broken invariant aborts.
#include "KWPack/uLinkMarkup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const char *const kPieces[] = {
    "<b>", "</b>", "<i>", "</i>", "<u>", "</u>", "<s>", "</s>", "<br>", "<br center>",
    "<BR Right>", "<br left>", "<br nonsense>", "<color red>", "<color BtnFace>", "<color nope>",
    "</color>", "<size 14>", "<size x>", "<size -3>", "<size 99999999999>", "</size>",
    "<font Arial>", "<font>", "</font>", "<url http://A/b>", "</url>", "<mail m@x>", "</mail>",
    "<link L>", "</link>", "<", ">", "<<", "< br>", "<br", "text", " ", "\r\n", "\r", "\n",
    "\xE2\x80\xA9", "\xEF\xB7\x90", "\xC3\xA9", "<<b<i>>", "<url>", "",
};
constexpr size_t kPieceCount = sizeof(kPieces) / sizeof(kPieces[0]);

void Check(bool ok)
{
    if (!ok)
        abort();
}

QString Compose(const uint8_t *data, size_t size)
{
    QString out;
    for (size_t i = 0; i < size; ++i)
        out += QString::fromUtf8(kPieces[data[i] % kPieceCount]);
    return out;
}

void CheckRuns(const TMarkupLayout &l)
{
    qsizetype pos = 0;
    qsizetype plain = 0;
    for (size_t i = 0; i < l.Runs.size(); ++i) {
        const TMarkupRun &r = l.Runs[i];
        Check(r.Start == pos && r.PlainStart == plain);
        Check(r.Length > 0 && r.PlainLength >= r.Length);
        Check(i == 0 || !(l.Runs[i - 1].Attrs == r.Attrs));
        pos += r.Length;
        plain += r.PlainLength;
    }
    Check(pos == l.DisplayText.size() && plain == l.PlainText.size());
    Check(l.ParagraphAlign.size() == size_t(l.DisplayText.count(QLatin1Char('\n')) + 1));
}

void CheckLinks(const TMarkupLayout &l)
{
    const int length = int(l.DisplayText.size());
    for (const TMarkupLink &link : l.Links)
        Check(link.Start >= 0 && link.Start < link.End && link.End <= length);
    // Positions around each span; the first fitting span may be another one.
    for (const TMarkupLink &link : l.Links) {
        for (const int p : {link.Start - 1, link.Start, link.End - 1, link.End}) {
            const auto found = FindLink(l, p);
            Check(found || p < link.Start || p >= link.End);
            if (found)
                Check(found->Start <= p && p < found->End && found->End <= length);
        }
    }
    Check(!FindLink(l, -1) && !FindLink(l, length));
}

// The plain text is the text tokens with CR LF per break tag.
void CheckTokens(const QString &markup, const TMarkupLayout &l)
{
    QString plain;
    for (const TMarkupToken &t : TokenizeMarkup(markup)) {
        if (!t.IsTag)
            plain += t.Text;
        else if (t.Name == QLatin1String("BR"))
            plain += QLatin1String("\r\n");
        Check(t.Name == t.Name.toUpper());
    }
    Check(plain == l.PlainText);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 16 * 1024)
        return 0;
    const QString markup = (data[0] & 1)
        ? Compose(data + 1, size - 1)
        : QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    TMarkupContext ctx;
    ctx.Alignment = TMarkupAlign((data[0] >> 1) % 3);
    ctx.Base.Size = (data[0] >> 3);
    ctx.Base.FontName = QStringLiteral("Base");
    const TMarkupLayout l = LayoutMarkup(markup, ctx);
    CheckRuns(l);
    CheckLinks(l);
    CheckTokens(markup, l);
    return 0;
}
