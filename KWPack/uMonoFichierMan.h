// TMonoFichierMan: the one document the program has open. It decides which
// file is current and when (open dialog, script, recent files, paste, drop),
// keeps the ten most recent files as persisted actions, shows the file's
// folder, and drags the current file out of the window. It touches no media:
// its owner does that in OnOpenFile / OnCloseFile.
//
// UI thread only. The component owns its actions (through the list), its
// dialog and its drop source; FileLabel, FileEdit and DragControl belong to
// the owner's form and are forgotten when they are freed.
#pragma once

#include "uWndComponent.h"

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class QFileDialog;
class QLabel;
class QLineEdit;
class QWidget;
class TFileDropSource;

enum TConfirmType { ctAlways, ctNever, ctAskif };

// Values as stored by the design: named file 0, new file 1, no file 2.
enum class TDocumentState { Named = 0, New = 1, None = 2 };

using TEvent = std::function<void()>;
using TFileEvent = std::function<bool(const QString &awidestring)>;
using TCloseFileEvent = std::function<void(const QString &awidestring)>;
using TTestExtensionEvent = std::function<bool(const QString &lowerext, const QString &filename)>;

class TMonoFichierMan : public TKWActionComponent {
    Q_OBJECT
public:
    static constexpr int kRecentCount = 10;

    // Create with TKWActionComponent::New<TMonoFichierMan>(owner).
    explicit TMonoFichierMan(QObject *owner = nullptr);
    ~TMonoFichierMan() override;

    // ---- Published properties and events
    TConfirmType DeleteExisting = ctAskif;  // an existing file chosen as save target
    TConfirmType SaveType = ctAskif;        // a modified document being closed
    bool ExistingOnly = true;
    QString DefaultExtension;
    QString NewFileName;
    QString NoFileName;
    bool IncludePath = false;

    TEvent OnNewFile;
    TFileEvent OnOpenFile;
    TFileEvent OnSaveFile;
    TCloseFileEvent OnCloseFile;
    TFileEvent OnErrorOpenFile;
    // A name refused before opening (its extension, or no such file), with
    // the reason; nothing else shows it.
    std::function<void(const QString &name, const QString &reason)> OnRefused;
    TTestExtensionEvent OnTestExtension;

    QString Filter() const { return FFilter; }
    void SetFilter(const QString &filter);
    int RecentLength() const { return FRecentLength; }
    void SetRecentLength(int length);
    QLabel *FileLabel() const;
    void SetFileLabel(QLabel *label);
    QLineEdit *FileEdit() const;
    void SetFileEdit(QLineEdit *edit);
    QWidget *DragControl() const;
    // Hooks the control for drops and drags; undoes the hook on the previous one.
    void SetDragControl(QWidget *control);

    // ---- State
    TDocumentState State() const { return FState; }
    QString CurrentFile() const { return FCurrentFile; }
    bool Modified() const { return FModified; }
    // For owners that edit their document: a modified document is offered for
    // saving before it is closed.
    void SetModified(bool modified) { FModified = modified; }
    QFileDialog *OpenDialog() const { return FOpenDialog.get(); }
    TFileDropSource *DropSource() const { return FDropSource; }
    // waOpenFile's current value: "%new%", "%no%" or the current path.
    QString OpenFileValue() const;

    // ---- Operations (the actions run these)
    // "%new%", "%no%" or a path; see the notes in the source.
    void OpenFileByName(const QString &name);
    void NewFile();
    void CloseFile();
    void SaveFile();
    void SaveFileAs(const QString &path);
    void PasteFile();
    // Shows the current file in the desktop's file browser. False when no
    // file is current or the desktop could not be asked.
    bool ParentFolder();

    // ---- Pure helpers
    // Recent menu text of a path, at most about `length` characters.
    static QString RecentCaption(const QString &path, int length);
    // The path itself when free, else "name_001.ext", "name_002.ext" ...
    static QString FreeVariant(const QString &path);
    // "Text|*.a;*.b|..." to the dialog's name filters, "All files" last.
    static QStringList DialogFilters(const QString &filter);
    // Lower-cased extension with its dot, from the last "." of the name part.
    static QString LowerExtension(const QString &path);

    // ---- Actions (owned by the list)
    TNopeAction *naNewFile = nullptr;
    TWidestringAction *waOpenFile = nullptr;
    TNopeAction *naPasteFile = nullptr;
    TNopeAction *naSaveFile = nullptr;
    TWidestringAction *waSaveFileAs = nullptr;
    TNopeAction *naCloseFile = nullptr;
    TNopeAction *naParentFolder = nullptr;
    TWidestringAction *waInitialDir = nullptr;
    std::array<TNopeAction *, kRecentCount> naRecent{};
    std::array<TWidestringAction *, kRecentCount> waRecentFilename{};

    void CreateActions() override;
    void LocateActions() override;
    void BindActions() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Confirm { Yes, No };
    // Closes the current document (offering to save it). False when the user
    // asked to save and the save did not happen: the document stays.
    bool CloseCurrent();
    void MakeCurrent(TDocumentState state, const QString &path, const QString &label,
                     const QString &edit);
    void AddRecent(const QString &path);
    void RecaptionRecent(int index);
    bool AskOpenTarget(QString &value);
    bool AskSaveTarget(QString &value);
    bool AcceptTarget(const QString &path);
    Confirm Ask(const QString &question) const;
    QWidget *DialogParent() const;
    void HookDragControl();
    void UnhookDragControl(bool withdrawDrops);
    bool DropFiles(QEvent *event);
    bool MouseMove(QEvent *event);
    bool SameFile(const QString &a, const QString &b) const;

    TDocumentState FState = TDocumentState::None;
    QString FCurrentFile;
    bool FModified = false;
    QString FFilter;
    int FRecentLength = 50;
    std::unique_ptr<QFileDialog> FOpenDialog;
    TFileDropSource *FDropSource = nullptr;  // child of the component
    QPointer<QLabel> FFileLabel;
    QPointer<QLineEdit> FFileEdit;
    QPointer<QWidget> FDragControl;
    bool FControlAcceptedDrops = false;
    QPoint FPressPoint;
    bool FPressed = false;
};
