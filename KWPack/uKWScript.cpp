#include "KWPack/uKWScript.h"

#include "KWPack/uScriptAction.h"
#include "platform/shell/Shell.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

const QString kUnableToCreate = QStringLiteral("Unable to create directory");

QString Arg(const QVariantList &args, int i) { return args.value(i).toString(); }

// Index of the last "/", "\" or drive colon, -1 when there is none.
qsizetype LastDelimiter(const QString &name)
{
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        const QChar c = name.at(i);
        if (c == u'/' || c == u'\\' || c == u':')
            return i;
    }
    return -1;
}

// Index of the extension's dot in the name part, -1 when there is none.
qsizetype ExtensionDot(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > LastDelimiter(name) ? dot : -1;
}

// A file mask as the shell reads it: "*" and "?" are wildcards, everything
// else is literal (brackets too), case does not count, and "*.*" takes every
// name, with a dot or without.
QRegularExpression MaskExpression(const QString &mask)
{
    if (mask == QLatin1String("*.*"))
        return QRegularExpression(QStringLiteral("^.*$"));
    QString pattern = QStringLiteral("^");
    for (const QChar c : mask) {
        if (c == u'*')
            pattern += QLatin1String(".*");
        else if (c == u'?')
            pattern += QLatin1Char('.');
        else
            pattern += QRegularExpression::escape(QString(c));
    }
    pattern += QLatin1Char('$');
    return QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::DotMatchesEverythingOption);
}

bool HasWidgets() { return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr; }

}  // namespace

TKWScript::TKWScript(QObject *owner) : TPSScript(owner)
{
    UsePreProcessor = true;
    MacroLineOpen = false;
}

TKWScript::~TKWScript() = default;

// ---- Compile and run ---------------------------------------------------------------

bool TKWScript::Compile()
{
    UsePreProcessor = true;
    FMessages.clear();
    if (Running()) {
        // Replacing the program under the running one would pull it from under
        // its own feet; the running program and its verdict stay.
        FMessages << QStringLiteral("A script is running: it cannot be compiled again now")
                  << QStringLiteral("### Compilation Failed");
        return false;
    }
    compiled = TPSScript::Compile();
    FMessages << CompilerMessages();
    FMessages << (compiled ? QStringLiteral("*** Compilation succeeded ***")
                           : QStringLiteral("### Compilation Failed"));
    return compiled;
}

bool TKWScript::Execute()
{
    FMessages.clear();
    if (!compiled) {
        FMessages << QStringLiteral("### Compilation not Ready");
        return false;
    }
    const bool nested = Running();
    if (!nested)
        FindClose();  // every run starts without a search of an earlier one
    const bool ok = TPSScript::Execute();
    if (ok)
        FMessages << QStringLiteral("*** Succesfully Executed ***");
    else
        FMessages << QStringLiteral("### Error while executing: ") + ExecErrorText();
    return ok;
}

// ---- Registration ------------------------------------------------------------------

void TKWScript::CompileImport()
{
    RegisterRoutines();
    RegisterConstants();
    RegisterTypes();
    RunOnCompile();
}

void TKWScript::RegisterRoutines()
{
    AddMethod(QStringLiteral("function findfirst(dossier:widestring;masque:widestring):widestring;"),
              [this](const QVariantList &a) -> QVariant { return FindFirst(Arg(a, 0), Arg(a, 1)); });
    AddMethod(QStringLiteral("function findnext:widestring;"),
              [this](const QVariantList &) -> QVariant { return FindNext(); });
    AddMethod(QStringLiteral("procedure findclose;"), [this](const QVariantList &) -> QVariant {
        FindClose();
        return {};
    });
    AddMethod(QStringLiteral("procedure showmessage(z:string);"),
              [this](const QVariantList &a) -> QVariant {
                  ShowMessage(Arg(a, 0));
                  return {};
              });
    AddMethod(QStringLiteral("procedure sleep(milli:Cardinal);"),
              [this](const QVariantList &a) -> QVariant {
                  Sleep(a.value(0).toLongLong());
                  return {};
              });
    RegisterFileRoutines();
}

void TKWScript::RegisterFileRoutines()
{
    AddMethod(QStringLiteral("procedure forcedirectories(dir:widestring);"),
              [](const QVariantList &a) -> QVariant {
                  const QString dir = Arg(a, 0);
                  if (dir.isEmpty() || !QDir().mkpath(dir))
                      throw TPSRunError{kUnableToCreate};
                  return {};
              });
    AddMethod(QStringLiteral("function changefileext(fichier:widestring;ext:widestring):widestring;"),
              [](const QVariantList &a) -> QVariant { return ChangeFileExt(Arg(a, 0), Arg(a, 1)); });
    // The trash keeps the file as it was (permissions included), so that
    // restoring it gives it back unchanged; moving needs no write permission
    // on the file itself.
    AddMethod(QStringLiteral("function deletefiletorecyclebin(fichier:widestring):Boolean;"),
              [](const QVariantList &a) -> QVariant { return MoveToRecycleBin(Arg(a, 0)); });
    // Never over an existing file: the rename fails and both files stay.
    AddMethod(QStringLiteral("procedure renamefile(oldfile,newname:widestring);"),
              [](const QVariantList &a) -> QVariant {
                  const QString from = Arg(a, 0), to = Arg(a, 1);
                  if (!from.isEmpty() && !to.isEmpty() && !QFileInfo::exists(to))
                      QFile::rename(from, to);
                  return {};
              });
    AddMethod(QStringLiteral("function extractfilename(fichier:widestring):widestring;"),
              [](const QVariantList &a) -> QVariant { return ExtractFileName(Arg(a, 0)); });
    AddMethod(QStringLiteral("function extractfilepath(fichier:widestring):widestring;"),
              [](const QVariantList &a) -> QVariant { return ExtractFilePath(Arg(a, 0)); });
    AddMethod(QStringLiteral("function extractfileext(fichier:widestring):widestring;"),
              [](const QVariantList &a) -> QVariant { return ExtractFileExt(Arg(a, 0)); });
}

void TKWScript::RegisterConstants()
{
    AddConstant(QStringLiteral("clMoneyGreen"), QStringLiteral("TColor"), 12639424);
    AddConstant(QStringLiteral("clSkyBlue"), QStringLiteral("TColor"), 15780518);
    AddConstant(QStringLiteral("clCream"), QStringLiteral("TColor"), 15793151);
    AddConstant(QStringLiteral("SecsPerDay"), QStringLiteral("Integer"), 86400);
    AddConstant(QStringLiteral("MSecPerDay"), QStringLiteral("Integer"), 86400000);
}

void TKWScript::RegisterTypes()
{
    static const char *const kTypes[][2] = {
        {"TAlignment", "(taLeftJustify, taRightJustify, taCenter)"},
        {"HResult", "LongInt"},
        {"TGUID", "record D1: LongWord; D2: Word; D3: Word; D4: array[0..7] of Byte; end;"},
        {"TCLSID", "TGUID"},
        {"TIID", "TGUID"},
        {"TPoint", "record x,y: Longint; end;"},
        {"TScrollBarKind", "(sbHorizontal, sbVertical)"},
        {"TScrollBarInc", "SmallInt"},
        {"TFormBorderStyle", "(bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin)"},
        {"TBorderStyle", "TFormBorderStyle"},
        {"TWindowState", "(wsNormal, wsMinimized, wsMaximized)"},
        {"TFormStyle", "(fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop)"},
        {"TPosition", "(poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, "
                      "poDesktopCenter, poMainFormCenter, poOwnerFormCenter)"},
        {"TPrintScale", "(poNone, poProportional, poPrintToFit)"},
        {"TCloseAction", "(caNone, caHide, caFree, caMinimize)"},
        {"TBorderIcon", "(biSystemMenu, biMinimize, biMaximize, biHelp)"},
        {"TBorderIcons", "set of TBorderIcon"},
        {"THELPCONTEXT", "Longint"},
        {"TRect", "record Left, Top, Right, Bottom: Integer; end;"},
        {"TEditCharCase", "(ecNormal, ecUpperCase, ecLowerCase)"},
        {"TScrollStyle", "(ssNone, ssHorizontal, ssVertical, ssBoth)"},
        {"TComboBoxStyle", "(csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable)"},
        {"TCheckBoxState", "(cbUnchecked, cbChecked, cbGrayed)"},
        {"TListBoxStyle", "(lbStandard, lbOwnerDrawFixed, lbOwnerDrawVariable)"},
        {"TScrollCode", "(scLineUp, scLineDown, scPageUp, scPageDown, scPosition, scTrack, scTop, "
                        "scBottom, scEndScroll)"},
        {"TEOwnerDrawState", "(odSelected, odGrayed, odDisabled, odChecked, odFocused, odDefault, "
                             "odHotLight, odInactive, odNoAccel, odNoFocusRect, odReserved1, "
                             "odReserved2, odComboBoxEdit)"},
        {"TTextLayout", "( tlTop, tlCenter, tlBottom )"},
        {"TOwnerDrawState", "set of TEOwnerDrawState"},
        {"TSHORTCUT", "WORD"},
        {"TSavePreferences", "(spRegistre,spPortable,spNone)"},
    };
    for (const auto &t : kTypes)
        AddType(QLatin1String(t[0]), QLatin1String(t[1]));
}

// ---- Routines ----------------------------------------------------------------------

// "." and ".." are left out: a script walking a tree would otherwise walk
// into the folder itself and its parent.
QString TKWScript::FindFirst(const QString &folder, const QString &mask)
{
    FindClose();
    FFindFolder = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    if (mask.isEmpty())
        return {};
    const QRegularExpression match = MaskExpression(mask);
    const QStringList names =
        QDir(FFindFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                    QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names)
        if (match.match(name).hasMatch())
            FFindNames << name;
    return FindNext();
}

QString TKWScript::FindNext()
{
    if (FFindNames.isEmpty())
        return {};
    return FFindFolder + FFindNames.takeFirst();
}

void TKWScript::FindClose()
{
    FFindFolder.clear();
    FFindNames.clear();
}

void TKWScript::ShowMessage(const QString &text)
{
    if (OnShowMessage) {
        OnShowMessage(text);
    } else if (HasWidgets()) {
        QMessageBox::information(QApplication::activeWindow(), QCoreApplication::applicationName(), text);
    } else {
        std::fputs(text.toLocal8Bit().append('\n').constData(), stdout);
        std::fflush(stdout);
    }
}

// Waits in short slices so that a stop (Esc, the Stop button, a watchdog)
// ends the wait at once; the host's idle hook runs as it does in loops.
void TKWScript::Sleep(qint64 milliseconds)
{
    constexpr qint64 kSlice = 10;
    constexpr qint64 kIdleEvery = 50;
    QElapsedTimer clock;
    clock.start();
    qint64 lastIdle = 0;
    for (qint64 left = milliseconds; left > 0 && !StopRequested(); left = milliseconds - clock.elapsed()) {
        QThread::msleep(static_cast<unsigned long>(std::min(left, kSlice)));
        if (OnRunIdle && clock.elapsed() - lastIdle >= kIdleEvery) {
            lastIdle = clock.elapsed();
            OnRunIdle();
        }
    }
}

// ---- File names --------------------------------------------------------------------

QString TKWScript::ExtractFileName(const QString &name) { return name.mid(LastDelimiter(name) + 1); }

QString TKWScript::ExtractFilePath(const QString &name) { return name.left(LastDelimiter(name) + 1); }

QString TKWScript::ExtractFileExt(const QString &name)
{
    const qsizetype dot = ExtensionDot(name);
    return dot < 0 ? QString() : name.mid(dot);
}

QString TKWScript::ChangeFileExt(const QString &name, const QString &ext)
{
    const qsizetype dot = ExtensionDot(name);
    return (dot < 0 ? name : name.left(dot)) + ext;
}
