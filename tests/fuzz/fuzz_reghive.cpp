// Fuzzes the .reg reader and writer. The input is raw bytes or, when its first
// byte is odd, picks from a vocabulary of .reg pieces, so deep key sections and
// continued hex lines come up without a corpus. Invariants, for any input:
//   - reading never crashes;
//   - writing what was read and reading it again gives the same keys, values
//     and unreadable remainder, and writing that gives the same text again;
//   - the file encoding round-trips the text exactly;
//   - an import parse of the same text never crashes either.
#include "platform/registry/RegHive.h"

#include <cstddef>
#include <cstdint>

namespace {

const char *const kPieces[] = {
    "Windows Registry Editor Version 5.00\r\n", "REGEDIT4\n", "[HKEY_CURRENT_USER", "[hkey_current_user",
    "[-HKEY_CURRENT_USER", "[HKEY_LOCAL_MACHINE", "\\", "\\Software", "\\a", "\\A", "]", "\r\n", "\n",
    "\r", " ", "\"", "\"v\"", "\"V\"", "@", "=", "-", "\"text\"", "\\\"", "\\\\", "dword:", "DWORD:",
    "1", "ffffffff", "123456789", "hex:", "hex(2):", "hex(7):", "hex(b):", "hex(1):", "hex(4):", "hex(",
    "):", "00", "61", ",", ",\\\r\n  ", "\\", ";comment", "\xC3\xA9", "\xFF\xFE", "\xEF\xBB\xBF", "\x01", "",
};
constexpr size_t kPieceCount = sizeof(kPieces) / sizeof(kPieces[0]);

QByteArray compose(const uint8_t *data, size_t size)
{
    QByteArray out;
    for (size_t i = 1; i < size; ++i)
        out += kPieces[data[i] % kPieceCount];
    return out;
}

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace reg;
    const QByteArray bytes = size > 0 && data[0] % 2 == 1
                                 ? compose(data, size)
                                 : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = DecodeRegBytes(bytes);

    const RegHive hive = HiveFromText(text);
    const QString written = HiveToText(hive);
    const RegHive again = HiveFromText(written);
    check(again.root == hive.root);
    check(again.remainder == hive.remainder);
    check(again.error.isEmpty() == hive.error.isEmpty());
    check(HiveToText(again) == written);
    check(DecodeRegBytes(EncodeRegText(written)) == written);

    RegHive imported;
    ApplySections(imported, ParseRegText(text, ParseMode::Import).sections);
    const QString importedText = HiveToText(imported);
    check(HiveFromText(importedText).root == imported.root);
    return 0;
}
