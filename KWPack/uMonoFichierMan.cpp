// The document's states: no file (initial), named file, new file. Open moves
// to named, new to new, close to none; each first closes the current document,
// which offers to save it when modified and tells the owner (OnCloseFile).
// Files the owner refuses (OnTestExtension) or that are missing (ExistingOnly)
// never close the current document.
//
// The drag control is hooked through an event filter: drops of files open the
// first one, a press and a move of 10 pixels drag the current file out. Both
// pass the events on, so the control keeps its own mouse handling.
#include "KWPack/uMonoFichierMan.h"

#include "platform/shell/FileLists.h"
#include "platform/shell/Shell.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QRegularExpression>

#include <cstdlib>

namespace {

const QString kNew = QStringLiteral("%new%");
const QString kNo = QStringLiteral("%no%");
const QString kAllFiles = QStringLiteral("All files (*)");
constexpr int kDragDistance = 10;

// Holds the macro line open so that bookkeeping done for a user's step
// (the recent list) is not recorded as steps of its own.
class QuietMacro {
public:
    QuietMacro() : FWasOpen(MacroLineOpen) { MacroLineOpen = true; }
    ~QuietMacro() { MacroLineOpen = FWasOpen; }
    QuietMacro(const QuietMacro &) = delete;
    QuietMacro &operator=(const QuietMacro &) = delete;

private:
    bool FWasOpen;
};

// Like the design's "file exists": folders do not count.
bool FileExists(const QString &path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

QString FileNameOf(const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

}  // namespace

TMonoFichierMan::TMonoFichierMan(QObject *owner) : TKWActionComponent(owner)
{
    FOpenDialog = std::make_unique<QFileDialog>();
    FOpenDialog->setNameFilters(DialogFilters(QString()));
    FDropSource = new TFileDropSource(this);
}

TMonoFichierMan::~TMonoFichierMan()
{
    UnhookDragControl(false);
}

// ---- Actions ---------------------------------------------------------------------

void TMonoFichierMan::CreateActions()
{
    struct Command {
        TNopeAction **field;
        const char *name, *caption, *hint;
        QKeySequence key;
    };
    const Command commands[] = {
        {&naNewFile, "naNewFile", "New...", "Open a new file", {}},
        {&naPasteFile, "naPasteFile", "Paste", "Paste a file", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {&naSaveFile, "naSaveFile", "Save", "Save the current file", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {&naCloseFile, "naCloseFile", "Close", "Close the selected file", QKeySequence(Qt::CTRL | Qt::Key_F)},
        {&naParentFolder, "naParentFolder", "Parent folder", "Open the parent folder of the selected file",
         QKeySequence(Qt::Key_F9)},
    };
    for (const Command &c : commands) {
        const QString name = QString::fromLatin1(c.name);
        *c.field = NewAction<TNopeAction>(name, name.mid(2));
        (*c.field)->SetCaption(QString::fromLatin1(c.caption));
        (*c.field)->SetHint(QString::fromLatin1(c.hint));
        (*c.field)->SetShortCut(c.key);
    }
    waOpenFile = NewAction<TWidestringAction>(QStringLiteral("waOpenFile"), QStringLiteral("OpenFile"));
    waOpenFile->Switch = QStringLiteral("swi_o");
    waOpenFile->SetCaption(QStringLiteral("Open..."));
    waOpenFile->SetHint(QStringLiteral("Open a file"));
    waOpenFile->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_O));
    waSaveFileAs = NewAction<TWidestringAction>(QStringLiteral("waSaveFileAs"), QStringLiteral("SaveFileAs"));
    waSaveFileAs->SetCaption(QStringLiteral("Save as..."));
    waSaveFileAs->SetHint(QStringLiteral("Name and save the current file"));
    waSaveFileAs->SetShortCut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    waInitialDir = NewAction<TWidestringAction>(QStringLiteral("waInitialDir"), QStringLiteral("InitialDir"));
    waInitialDir->SetCaption(QStringLiteral("Initial Folder"));
    waInitialDir->SetHint(QStringLiteral("If you change this folder, then files to open will be searched in it"));
    waInitialDir->ApplyWhenLoad = true;
    for (int i = 0; i < kRecentCount; ++i) {
        const QString n = QString::number(i + 1);
        naRecent[i] = NewAction<TNopeAction>(QStringLiteral("naRecent") + n, QStringLiteral("Recent") + n);
        naRecent[i]->SetCaption(n);
        naRecent[i]->SetHint(QStringLiteral("Open the recent file"));
        waRecentFilename[i] = NewAction<TWidestringAction>(QStringLiteral("waRecentFilename") + n,
                                                           QStringLiteral("RecentFilename") + n);
        waRecentFilename[i]->SetCaption(QStringLiteral("Filename") + n);
        waRecentFilename[i]->ApplyWhenLoad = true;
    }
}

void TMonoFichierMan::LocateActions()
{
    naNewFile = Locate<TNopeAction>(QStringLiteral("naNewFile"));
    waOpenFile = Locate<TWidestringAction>(QStringLiteral("waOpenFile"));
    naPasteFile = Locate<TNopeAction>(QStringLiteral("naPasteFile"));
    naSaveFile = Locate<TNopeAction>(QStringLiteral("naSaveFile"));
    waSaveFileAs = Locate<TWidestringAction>(QStringLiteral("waSaveFileAs"));
    naCloseFile = Locate<TNopeAction>(QStringLiteral("naCloseFile"));
    naParentFolder = Locate<TNopeAction>(QStringLiteral("naParentFolder"));
    waInitialDir = Locate<TWidestringAction>(QStringLiteral("waInitialDir"));
    for (int i = 0; i < kRecentCount; ++i) {
        const QString n = QString::number(i + 1);
        naRecent[i] = Locate<TNopeAction>(QStringLiteral("naRecent") + n);
        waRecentFilename[i] = Locate<TWidestringAction>(QStringLiteral("waRecentFilename") + n);
    }
}

void TMonoFichierMan::BindActions()
{
    const QPointer<TMonoFichierMan> self(this);
    const auto nope = [self](TNopeAction *a, void (TMonoFichierMan::*op)()) {
        if (a)
            a->InternalApply = [self, op] {
                if (self)
                    (self->*op)();
            };
    };
    nope(naNewFile, &TMonoFichierMan::NewFile);
    nope(naPasteFile, &TMonoFichierMan::PasteFile);
    nope(naSaveFile, &TMonoFichierMan::SaveFile);
    nope(naCloseFile, &TMonoFichierMan::CloseFile);
    if (naParentFolder)
        naParentFolder->InternalApply = [self] {
            if (self)
                self->ParentFolder();
        };
    if (waOpenFile) {
        waOpenFile->InternalPrepare = [self](QString &v) { return self && self->AskOpenTarget(v); };
        waOpenFile->InternalApply = [self](const QString &v) {
            if (self)
                self->OpenFileByName(v);
        };
        waOpenFile->InternalBeforeSave = [self](QString &v) {
            if (self)
                v = self->OpenFileValue();
            return true;
        };
    }
    if (waSaveFileAs) {
        waSaveFileAs->InternalPrepare = [self](QString &v) { return self && self->AskSaveTarget(v); };
        waSaveFileAs->InternalApply = [self](const QString &v) {
            if (self)
                self->SaveFileAs(v);
        };
    }
    if (waInitialDir) {
        waInitialDir->InternalPrepare = [](QString &) { return true; };
        waInitialDir->InternalApply = [self](const QString &v) {
            if (!self)
                return;
            QString dir = v;
            while (dir.size() > 1 && (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\'))))
                dir.chop(1);
            self->FOpenDialog->setDirectory(dir);
        };
    }
    for (int i = 0; i < kRecentCount; ++i) {
        if (naRecent[i])
            naRecent[i]->InternalApply = [self, i] {
                if (self && self->waRecentFilename[i])
                    self->OpenFileByName(self->waRecentFilename[i]->Value());
            };
        if (waRecentFilename[i])
            waRecentFilename[i]->InternalApply = [self, i](const QString &) {
                if (self)
                    self->RecaptionRecent(i);
            };
    }
}

// ---- Properties --------------------------------------------------------------------

void TMonoFichierMan::SetFilter(const QString &filter)
{
    FFilter = filter;
    const QStringList filters = DialogFilters(filter);
    FOpenDialog->setNameFilters(filters);
    FOpenDialog->selectNameFilter(filters.first());
}

void TMonoFichierMan::SetRecentLength(int length)
{
    FRecentLength = length;
    for (int i = 0; i < kRecentCount; ++i)
        RecaptionRecent(i);
}

QLabel *TMonoFichierMan::FileLabel() const { return FFileLabel; }

QLineEdit *TMonoFichierMan::FileEdit() const { return FFileEdit; }

QWidget *TMonoFichierMan::DragControl() const { return FDragControl; }

void TMonoFichierMan::SetFileLabel(QLabel *label) { FFileLabel = label; }

void TMonoFichierMan::SetFileEdit(QLineEdit *edit) { FFileEdit = edit; }

void TMonoFichierMan::RecaptionRecent(int index)
{
    TNopeAction *item = naRecent[index];
    TWidestringAction *name = waRecentFilename[index];
    if (!item || !name)
        return;
    const QString n = QString::number(index + 1);
    const QString path = name->Value();
    item->SetCaption(path.isEmpty() ? n : n + QLatin1Char(' ') + RecentCaption(path, FRecentLength));
    // A file that has gone stays in the list but leaves the menu.
    item->SetVisible(FileExists(path));
}

QString TMonoFichierMan::OpenFileValue() const
{
    switch (FState) {
    case TDocumentState::New:
        return kNew;
    case TDocumentState::None:
        return kNo;
    case TDocumentState::Named:
        return FCurrentFile;
    }
    return FCurrentFile;
}

// ---- Opening and closing -----------------------------------------------------------

// "%new%" starts a new document and "%no%" closes it. A path is opened when
// the owner takes its extension and, with ExistingOnly, the file exists;
// otherwise nothing changes. A failed open (OnOpenFile false) still leaves the
// file current and in the recent list: the owner shows what went wrong.
void TMonoFichierMan::OpenFileByName(const QString &name)
{
    if (name == kNew) {
        NewFile();
        return;
    }
    if (name == kNo) {
        CloseFile();
        return;
    }
    if (name.isEmpty())
        return;
    if (OnTestExtension && !OnTestExtension(LowerExtension(name), name)) {
        if (OnRefused)
            OnRefused(name, QStringLiteral("not a kind of file this program opens"));
        return;
    }
    if (ExistingOnly && !FileExists(name)) {
        if (OnRefused)
            OnRefused(name, QStringLiteral("no such file"));
        return;
    }
    if (!CloseCurrent())
        return;
    MakeCurrent(TDocumentState::Named, name, IncludePath ? name : FileNameOf(name), name);
    if (OnOpenFile && !OnOpenFile(name) && OnErrorOpenFile)
        OnErrorOpenFile(name);
    AddRecent(FCurrentFile);
    FModified = false;
}

void TMonoFichierMan::NewFile()
{
    if (!CloseCurrent())
        return;
    MakeCurrent(TDocumentState::New, NewFileName, NewFileName + QStringLiteral(" (not saved)"), QString());
    if (OnNewFile)
        OnNewFile();
    FModified = false;
}

void TMonoFichierMan::CloseFile()
{
    if (!CloseCurrent())
        return;
    MakeCurrent(TDocumentState::None, QString(), NoFileName, QString());
    // No document is left to be modified: the next open must not offer to
    // save it again.
    FModified = false;
}

bool TMonoFichierMan::CloseCurrent()
{
    if (FModified) {
        const bool save = SaveType == ctAlways ||
                          (SaveType == ctAskif &&
                           Ask(QStringLiteral("Do you want to save the open file ?\r\nIf not, all changes will be lost")) ==
                               Confirm::Yes);
        if (save) {
            if (FCurrentFile != NewFileName && naSaveFile)
                naSaveFile->ExecutePrepared();
            else if (waSaveFileAs)
                waSaveFileAs->ExecutePrepared();
            // The user wanted the changes kept: a cancelled or refused save
            // keeps the document open rather than losing them.
            if (FModified)
                return false;
        }
    }
    if (OnCloseFile)
        OnCloseFile(FCurrentFile);
    return true;
}

void TMonoFichierMan::MakeCurrent(TDocumentState state, const QString &path, const QString &label,
                                  const QString &edit)
{
    FState = state;
    FCurrentFile = path;
    if (FFileLabel)
        FFileLabel->setText(label);
    if (FFileEdit)
        FFileEdit->setText(edit);
}

// Slot 1 on top. A path already listed moves up; the ones above it move down
// one; a new path pushes the last one out.
void TMonoFichierMan::AddRecent(const QString &path)
{
    int found = -1;
    for (int i = 0; i < kRecentCount && found < 0; ++i)
        if (waRecentFilename[i] && waRecentFilename[i]->Value() == path)
            found = i;
    if (found == 0)
        return;
    const QuietMacro quiet;
    const int last = found > 0 ? found : kRecentCount - 1;
    for (int i = last; i >= 1; --i)
        if (waRecentFilename[i] && waRecentFilename[i - 1])
            waRecentFilename[i]->SetValue(waRecentFilename[i - 1]->Value());
    if (waRecentFilename[0])
        waRecentFilename[0]->SetValue(path);
}

// ---- Saving ------------------------------------------------------------------------

void TMonoFichierMan::SaveFile()
{
    if (FCurrentFile.isEmpty())
        return;
    if (FCurrentFile == NewFileName) {
        QString target;
        if (!AskSaveTarget(target))
            return;
        MakeCurrent(TDocumentState::Named, target, IncludePath ? target : FileNameOf(target), target);
    }
    if (OnSaveFile)
        OnSaveFile(FCurrentFile);
    FModified = false;
}

void TMonoFichierMan::SaveFileAs(const QString &path)
{
    if (path.isEmpty())
        return;
    MakeCurrent(TDocumentState::Named, path, IncludePath ? path : FileNameOf(path), path);
    if (OnSaveFile)
        OnSaveFile(path);
    FModified = false;
}

// ---- Dialogs and questions ---------------------------------------------------------

bool TMonoFichierMan::AskOpenTarget(QString &value)
{
    QFileDialog &d = *FOpenDialog;
    d.setWindowTitle(QStringLiteral("Select the file to open"));
    d.setAcceptMode(QFileDialog::AcceptOpen);
    d.setFileMode(QFileDialog::AnyFile);
    d.setOptions({});
    d.setDefaultSuffix(QString());
    d.selectFile(QString());
    const bool chosen = d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty();
    if (chosen)
        value = d.selectedFiles().first();
    return chosen;
}

bool TMonoFichierMan::AskSaveTarget(QString &value)
{
    QFileDialog &d = *FOpenDialog;
    d.setWindowTitle(QStringLiteral("Select the target file"));
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setFileMode(QFileDialog::AnyFile);
    // The overwrite question is ours (DeleteExisting).
    d.setOptions(QFileDialog::DontConfirmOverwrite);
    QString suffix = DefaultExtension;
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    d.setDefaultSuffix(suffix);
    d.selectFile(FCurrentFile.isEmpty() ? QString() : FreeVariant(FCurrentFile));
    const bool chosen = d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty();
    if (!chosen)
        return false;
    QString path = d.selectedFiles().first();
    if (path == NewFileName)
        path += QLatin1Char('1');
    if (!AcceptTarget(path))
        return false;
    value = path;
    return true;
}

bool TMonoFichierMan::AcceptTarget(const QString &path)
{
    if (!QFileInfo::exists(path))
        return true;
    switch (DeleteExisting) {
    case ctAlways:
        return true;
    case ctNever:
        return false;
    case ctAskif:
        return Ask(QStringLiteral("Do you want to overwrite the existing file:\r\n") + path + QStringLiteral(" ?")) ==
               Confirm::Yes;
    }
    return false;
}

TMonoFichierMan::Confirm TMonoFichierMan::Ask(const QString &question) const
{
    const auto answer = QMessageBox::warning(DialogParent(), QApplication::applicationDisplayName(), question,
                                             QMessageBox::Yes | QMessageBox::No);
    return answer == QMessageBox::Yes ? Confirm::Yes : Confirm::No;
}

QWidget *TMonoFichierMan::DialogParent() const
{
    return FDragControl ? FDragControl->window() : nullptr;
}

// ---- Clipboard, folder -------------------------------------------------------------

void TMonoFichierMan::PasteFile()
{
    const QStringList files = DragQueryFiles(QApplication::clipboard()->mimeData());
    if (!files.isEmpty())
        OpenFileByName(files.first());
}

bool TMonoFichierMan::ParentFolder()
{
    if (FCurrentFile.isEmpty())
        return false;
    return SHOpenFolderAndSelectItems(FCurrentFile);
}

// ---- Drag control ------------------------------------------------------------------

void TMonoFichierMan::SetDragControl(QWidget *control)
{
    if (control == FDragControl)
        return;
    UnhookDragControl(true);
    FDragControl = control;
    HookDragControl();
}

void TMonoFichierMan::HookDragControl()
{
    if (!FDragControl)
        return;
    FControlAcceptedDrops = FDragControl->acceptDrops();
    FDragControl->setAcceptDrops(true);
    FDragControl->installEventFilter(this);
    FPressed = false;
}

void TMonoFichierMan::UnhookDragControl(bool withdrawDrops)
{
    if (!FDragControl)
        return;
    FDragControl->removeEventFilter(this);
    if (withdrawDrops)
        FDragControl->setAcceptDrops(FControlAcceptedDrops);
    FDragControl = nullptr;
}

bool TMonoFichierMan::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != FDragControl)
        return TKWActionComponent::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *e = static_cast<QDragMoveEvent *>(event);
        if (!DragQueryFiles(e->mimeData()).isEmpty()) {
            e->acceptProposedAction();
            return true;
        }
        return false;
    }
    case QEvent::Drop:
        return DropFiles(event);
    case QEvent::MouseButtonPress:
        FPressPoint = static_cast<QMouseEvent *>(event)->position().toPoint();
        FPressed = true;
        return false;
    case QEvent::MouseMove:
        return MouseMove(event);
    default:
        return false;
    }
}

// The first file of a drop opens unless it is the current one. Anything else
// dropped (text, remote addresses) goes to the control.
bool TMonoFichierMan::DropFiles(QEvent *event)
{
    auto *e = static_cast<QDropEvent *>(event);
    const QStringList files = DragQueryFiles(e->mimeData());
    if (files.isEmpty())
        return false;
    e->acceptProposedAction();
    if (!SameFile(files.first(), FCurrentFile))
        OpenFileByName(files.first());
    return true;
}

bool TMonoFichierMan::MouseMove(QEvent *event)
{
    auto *e = static_cast<QMouseEvent *>(event);
    if (!FPressed || !(e->buttons() & (Qt::LeftButton | Qt::RightButton)))
        return false;
    const QPoint d = e->position().toPoint() - FPressPoint;
    if (std::abs(d.x()) < kDragDistance && std::abs(d.y()) < kDragDistance)
        return false;
    // One drag per press; only a file that exists can be handed to others.
    FPressed = false;
    if (FState == TDocumentState::Named && FileExists(FCurrentFile)) {
        FDropSource->SetFiles({FCurrentFile});
        FDropSource->Execute(FDragControl);
    }
    return false;
}

// Names are compared as the file system does: two spellings of one file
// (a link, "..") are the same, two names differing in case are not.
bool TMonoFichierMan::SameFile(const QString &a, const QString &b) const
{
    if (a.isEmpty() || b.isEmpty())
        return a == b;
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return fa.absoluteFilePath() == fb.absoluteFilePath();
}

// ---- Pure helpers ------------------------------------------------------------------

QString TMonoFichierMan::RecentCaption(const QString &path, int length)
{
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/')) + 1;
    QString folder = path.left(cut);
    QString name = path.mid(cut);
    const qsizetype maxName = std::max<qsizetype>(0, length - 4);
    if (name.size() > maxName)
        name.truncate(maxName);
    const qsizetype maxFolder = std::max<qsizetype>(0, length - name.size());
    if (folder.size() > maxFolder)
        folder = folder.left(maxFolder) + QStringLiteral(".../");
    return folder + name;
}

QString TMonoFichierMan::FreeVariant(const QString &path)
{
    if (!QFileInfo::exists(path))
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash)
        dot = path.size();
    const QString stem = path.left(dot), ext = path.mid(dot);
    for (int n = 1;; ++n) {
        const QString candidate = stem + QStringLiteral("_%1").arg(n, 3, 10, QLatin1Char('0')) + ext;
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

QStringList TMonoFichierMan::DialogFilters(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i].trimmed();
        QString patterns = parts[i + 1].trimmed();
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns.isEmpty())
            continue;
        // The dialog reads the patterns from the last parentheses.
        static const QRegularExpression trailing(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
        text.remove(trailing);
        out << text + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    out << kAllFiles;
    return out;
}

QString TMonoFichierMan::LowerExtension(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < path.lastIndexOf(QLatin1Char('/')))
        return QString();
    return path.mid(dot).toLower();
}
