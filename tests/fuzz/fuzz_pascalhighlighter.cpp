// Random script text through the editor's colouring, line by line as the
// editor feeds it: the spans of a line must cover it end to end, none empty,
// and the state handed to the next line must be one the colouring knows.
// Any broken invariant aborts.
#include "KWPack/uPascalHighlighter.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    TPascalHighlighter::TLineState state = TPascalHighlighter::Normal;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        qsizetype at = 0;
        for (const TPascalHighlighter::TSpan &span : TPascalHighlighter::Scan(line, state)) {
            Check(span.Start == at && span.Length > 0);
            at += span.Length;
        }
        Check(at == line.size());
        Check(state == TPascalHighlighter::Normal || state == TPascalHighlighter::BraceComment ||
              state == TPascalHighlighter::ParenComment);
    }
    return 0;
}
