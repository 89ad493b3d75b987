// vidstill-reg: the registry stand-in from the command line, in the syntax of
// the Windows "reg" command, so the hive can be looked at and edited by hand
// and by scripts. It never prompts: overwriting needs /f (add) or /y (export),
// deleting always needs /f.
#include "platform/registry/RegHive.h"
#include "platform/registry/Registry.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

const char kUsage[] =
    "Usage:\n"
    "  vidstill-reg query KEY [/v NAME | /ve] [/s]\n"
    "  vidstill-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "  vidstill-reg delete KEY [/v NAME | /ve | /va] /f\n"
    "  vidstill-reg import FILE\n"
    "  vidstill-reg export KEY FILE [/y]\n"
    "\n"
    "KEY is HKCU\\path or HKEY_CURRENT_USER\\path.\n"
    "TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "REG_BINARY or REG_NONE. DWORD and QWORD data are decimal or 0x hexadecimal,\n"
    "binary data hexadecimal digits, REG_MULTI_SZ strings are separated by \\0.\n"
    "The hive file is $VIDSTILL_REGISTRY, else\n"
    "$XDG_CONFIG_HOME/Vostrel/registry/HKCU.reg.\n";

const char kNotFound[] = "The system was unable to find the specified registry key or value.";

struct Args {
    QString verb;
    QStringList positional;
    std::optional<QString> valueName;  // /v NAME, or "" for /ve
    std::optional<QString> type;
    std::optional<QString> data;
    bool allValues = false;  // /va
    bool recurse = false;    // /s
    bool force = false;      // /f
    bool overwrite = false;  // /y
    bool help = false;
};

void print(FILE *stream, const QString &text)
{
    fputs(text.toUtf8().constData(), stream);
}

int fail(const QString &message)
{
    print(stderr, QStringLiteral("ERROR: %1\n").arg(message));
    return 1;
}

int usageError()
{
    fputs("ERROR: Invalid syntax. Type \"vidstill-reg /?\" for usage.\n", stderr);
    fputs(kUsage, stderr);
    return 1;
}

int succeed()
{
    fputs("The operation completed successfully.\n", stdout);
    return 0;
}

// Only the known switches count as switches: paths start with "/" here too.
bool parseArgs(const QStringList &argv, Args &args)
{
    for (qsizetype i = 0; i < argv.size(); ++i) {
        const QString &a = argv[i];
        const QString sw = a.size() > 1 && (a[0] == u'/' || a[0] == u'-') ? a.mid(1).toLower() : QString();
        auto next = [&]() -> std::optional<QString> {
            return i + 1 < argv.size() ? std::optional(argv[++i]) : std::nullopt;
        };
        if (sw == u"?") {
            args.help = true;
        } else if (sw == u"v") {
            if (!(args.valueName = next()))
                return false;
        } else if (sw == u"ve") {
            args.valueName = QString();
        } else if (sw == u"t") {
            if (!(args.type = next()))
                return false;
        } else if (sw == u"d") {
            if (!(args.data = next()))
                return false;
        } else if (sw == u"va") {
            args.allValues = true;
        } else if (sw == u"s") {
            args.recurse = true;
        } else if (sw == u"f") {
            args.force = true;
        } else if (sw == u"y") {
            args.overwrite = true;
        } else if (args.verb.isEmpty()) {
            args.verb = a.toLower();
        } else {
            args.positional.append(a);
        }
    }
    return true;
}

QString typeName(DWORD type)
{
    switch (type) {
    case reg::REG_NONE: return QStringLiteral("REG_NONE");
    case reg::REG_SZ: return QStringLiteral("REG_SZ");
    case reg::REG_EXPAND_SZ: return QStringLiteral("REG_EXPAND_SZ");
    case reg::REG_BINARY: return QStringLiteral("REG_BINARY");
    case reg::REG_DWORD: return QStringLiteral("REG_DWORD");
    case reg::REG_MULTI_SZ: return QStringLiteral("REG_MULTI_SZ");
    case reg::REG_QWORD: return QStringLiteral("REG_QWORD");
    }
    return QStringLiteral("REG_0x%1").arg(type, 0, 16);
}

std::optional<DWORD> typeFromName(const QString &name)
{
    for (DWORD t : {reg::REG_NONE, reg::REG_SZ, reg::REG_EXPAND_SZ, reg::REG_BINARY, reg::REG_DWORD,
                    reg::REG_MULTI_SZ, reg::REG_QWORD}) {
        if (name.compare(typeName(t), Qt::CaseInsensitive) == 0)
            return t;
    }
    return std::nullopt;
}

QString utf16Text(const QByteArray &data)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(data.constData()), data.size() / 2);
}

QString displayData(const reg::RegValue &v)
{
    const QByteArray &d = v.data;
    if (v.type == reg::REG_SZ || v.type == reg::REG_EXPAND_SZ)
        return v.ToString();
    if (v.type == reg::REG_DWORD && d.size() == 4)
        return QStringLiteral("0x%1").arg(*v.ToDword(), 0, 16);
    if (v.type == reg::REG_QWORD && d.size() == 8) {
        quint64 n = 0;
        for (int i = 7; i >= 0; --i)
            n = n << 8 | uchar(d[i]);
        return QStringLiteral("0x%1").arg(n, 0, 16);
    }
    if (v.type == reg::REG_MULTI_SZ) {
        QString text = utf16Text(d);
        while (text.endsWith(QChar(0)))
            text.chop(1);
        return text.replace(QChar(0), QStringLiteral("\\0"));
    }
    return QString::fromLatin1(d.toHex().toUpper());
}

std::optional<reg::RegValue> valueFromData(DWORD type, const QString &text)
{
    bool ok = false;
    switch (type) {
    case reg::REG_SZ:
    case reg::REG_EXPAND_SZ:
        return reg::RegValue{type, reg::RegValue::String(text).data};
    case reg::REG_MULTI_SZ: {
        QString joined;
        for (const QString &part : text.split(QStringLiteral("\\0"), Qt::SkipEmptyParts))
            joined += part + QChar(0);
        joined += QChar(0);
        return reg::RegValue{type, reg::RegValue::String(joined).data.chopped(2)};
    }
    case reg::REG_DWORD:
    case reg::REG_QWORD: {
        const quint64 n = text.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                              ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
        if (!ok || (type == reg::REG_DWORD && n > 0xFFFFFFFFu))
            return std::nullopt;
        QByteArray bytes;
        for (int i = 0; i < (type == reg::REG_DWORD ? 4 : 8); ++i)
            bytes.append(char((n >> (8 * i)) & 0xFF));
        return reg::RegValue{type, bytes};
    }
    }
    // fromHex() skips what is not a digit; a typo must not store other bytes.
    const QByteArray digits = text.toLatin1();
    const bool allDigits = std::all_of(digits.begin(), digits.end(), [](char c) { return isxdigit(uchar(c)); });
    if (!allDigits || digits.size() % 2 != 0)
        return std::nullopt;
    return reg::RegValue{type, QByteArray::fromHex(digits)};
}

QString join(const QString &a, const QString &b)
{
    return a.isEmpty() ? b : a + u'\\' + b;
}

void printValue(const QString &name, const reg::RegValue &v)
{
    print(stdout, QStringLiteral("    %1    %2    %3\n")
                      .arg(name.isEmpty() ? QStringLiteral("(Default)") : name, typeName(v.type), displayData(v)));
}

void printKey(const QString &shown, const QString &path, const Args &args)
{
    print(stdout, QStringLiteral("\n%1\n").arg(shown));
    for (const QString &name : reg::ValueNames(path).value_or(QStringList())) {
        if (!args.valueName || args.valueName->compare(name, Qt::CaseInsensitive) == 0)
            printValue(name, *reg::QueryValue(path, name));
    }
    const QStringList subkeys = reg::SubKeyNames(path).value_or(QStringList());
    if (args.recurse) {
        for (const QString &sub : subkeys)
            printKey(shown + u'\\' + sub, join(path, sub), args);
    } else if (!subkeys.isEmpty() && !args.valueName) {
        fputs("\n", stdout);
        for (const QString &sub : subkeys)
            print(stdout, shown + u'\\' + sub + u'\n');
    }
}

int query(const Args &args, const QString &shown, const QString &path)
{
    if (!reg::KeyExists(path))
        return fail(QString::fromLatin1(kNotFound));
    if (args.valueName && !args.recurse && !reg::QueryValue(path, *args.valueName))
        return fail(QString::fromLatin1(kNotFound));
    printKey(shown, path, args);
    return 0;
}

int add(const Args &args, const QString &path)
{
    std::optional<QString> name = args.valueName;
    if (!name && (args.type || args.data))
        name = QString();  // like reg: data without a name goes to the default value
    const auto type = typeFromName(args.type.value_or(QStringLiteral("REG_SZ")));
    if (!type)
        return fail(QStringLiteral("Invalid type %1.").arg(*args.type));
    std::optional<reg::RegValue> value;
    if (name && !(value = valueFromData(*type, args.data.value_or(QString()))))
        return fail(QStringLiteral("Invalid data for %1.").arg(typeName(*type)));
    if (name && !args.force && reg::QueryValue(path, *name))
        return fail(QStringLiteral("value exists, use /f"));
    {
        reg::Batch batch;  // key and value in one write
        reg::CreateKey(path);
        if (name)
            reg::SetValue(path, *name, *value);
    }
    // Checked after the batch, which is when the file is written.
    const bool written = reg::KeyExists(path) && (!name || reg::QueryValue(path, *name) == value);
    return written ? succeed() : fail(QStringLiteral("Could not write %1.").arg(reg::HivePath()));
}

int remove(const Args &args, const QString &path)
{
    if (!args.force)
        return fail(QStringLiteral("delete needs /f (this tool does not ask for confirmation)"));
    if (!reg::KeyExists(path))
        return fail(QString::fromLatin1(kNotFound));
    if (args.allValues) {
        reg::Batch batch;
        for (const QString &name : reg::ValueNames(path).value_or(QStringList()))
            reg::DeleteValue(path, name);
    } else if (args.valueName) {
        if (!reg::DeleteValue(path, *args.valueName))
            return fail(QString::fromLatin1(kNotFound));
    } else if (reg::SplitKeyPath(path).isEmpty()) {
        return fail(QStringLiteral("HKEY_CURRENT_USER itself cannot be deleted."));
    } else if (!reg::DeleteKeyTree(path)) {
        return fail(QStringLiteral("Could not write %1.").arg(reg::HivePath()));
    }
    return succeed();
}

int exportKey(const Args &args, const QString &path, const QString &fileName)
{
    const QString text = reg::ExportKey(path);
    if (text.isEmpty())
        return fail(QString::fromLatin1(kNotFound));
    if (QFile::exists(fileName) && !args.overwrite)
        return fail(QStringLiteral("%1 exists, use /y to overwrite it").arg(fileName));
    // A short write must not be committed as if it were the whole export.
    const QByteArray bytes = reg::EncodeRegText(text);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString()));
    return succeed();
}

int importFile(const QString &fileName)
{
    QString error;
    QStringList notes;
    if (!reg::ImportFile(fileName, &error, &notes))
        return fail(error);
    for (const QString &note : notes)
        print(stderr, QStringLiteral("NOTE: %1\n").arg(note));
    return succeed();
}

int run(const Args &args)
{
    const QStringList &pos = args.positional;
    if (args.verb == u"import")
        return pos.size() == 1 ? importFile(pos[0]) : usageError();
    const bool isExport = args.verb == u"export";
    if (pos.size() != (isExport ? 2 : 1))
        return usageError();
    const auto path = reg::RelativeKeyPath(pos[0]);
    if (!path)
        return fail(QStringLiteral("Invalid key name %1 (only HKCU keys are kept).").arg(pos[0]));
    if (args.verb == u"query")
        return query(args, join(QStringLiteral("HKEY_CURRENT_USER"), *path), *path);
    if (args.verb == u"add")
        return add(args, *path);
    if (args.verb == u"delete")
        return remove(args, *path);
    if (isExport)
        return exportKey(args, *path, pos[1]);
    return usageError();
}

}  // namespace

int main(int argc, char **argv)
{
    QStringList argList;
    for (int i = 1; i < argc; ++i)
        argList.append(QString::fromLocal8Bit(argv[i]));
    Args args;
    if (!parseArgs(argList, args) || (args.verb.isEmpty() && !args.help))
        return usageError();
    if (args.help) {
        fputs(kUsage, stdout);
        return 0;
    }
    return run(args);
}
