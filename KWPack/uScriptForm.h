// TScriptForm: the script window. An editor for the script text, a box for
// the compiler's and the run's messages, and a panel of buttons: macro
// recording (Start, Stop), Help, Clear, Open, Save as and Execute. It holds
// the program's one script component (KWScript), its own action list
// (al_script) and a single-file manager for script files (ficman_script).
//
// While a script runs, the Execute button reads "Stop": it and Esc stop the
// run; other input is dropped so that nothing re-enters the script.
//
// UI thread only. The window owns every component and widget it holds; the
// macro recorder it installs is withdrawn when recording stops or the window
// goes.
#pragma once

#include "KWPack/uKWScript.h"
#include "KWPack/uScriptAction.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QGroupBox;
class QPlainTextEdit;
class QPushButton;
class TMonoFichierMan;
class TVostrelPreferences;

class TScriptForm : public QWidget {
    Q_OBJECT
public:
    explicit TScriptForm(QWidget *parent = nullptr);
    ~TScriptForm() override;

    // Called when the window is closed by the user (the application manager
    // unchecks its script action).
    std::function<void()> OnClosed;

    // Shows the window with the template in the editor and the English
    // captions, and brings it to the front.
    void ShowScript();
    // Hides the window; the editor keeps its text.
    void HideScript() { hide(); }

    // Compiles and runs the editor's text; the message box shows the
    // compiler's messages and both verdicts. Ignored while a script runs.
    void naExecuteMacroAfterApply();
    void naStartMacroAfterApply();
    void naStopMacroAfterApply();
    bool Recording() const;

    // The editor's lines, and replacing them.
    QStringList EditorLines() const;
    void SetEditorLines(const QStringList &lines);

    // The window's settings in the section "ScriptForm": the script-file
    // manager's actions, then the window's own.
    bool LoadFromPrefs(TVostrelPreferences *gp);
    bool SaveToPrefs(TVostrelPreferences *gp);
    static QString SectionName() { return QStringLiteral("ScriptForm"); }

    // Template texts: shown with the window, and put by Clear.
    static QStringList ShowTemplate();
    static QStringList ClearTemplate();

    // Components of the window.
    QPlainTextEdit *Editor = nullptr;
    QPlainTextEdit *Memo = nullptr;
    QWidget *Panel = nullptr;
    QGroupBox *gbMacros = nullptr;
    QPushButton *btStart = nullptr;
    QPushButton *btStop = nullptr;
    QPushButton *btHelp = nullptr;
    QPushButton *btClear = nullptr;
    QPushButton *btOpen = nullptr;
    QPushButton *btSave = nullptr;
    QPushButton *btExecute = nullptr;
    TKWScript *KWScript = nullptr;
    TKWActionList *al_script = nullptr;
    TMonoFichierMan *ficman_script = nullptr;

    // Actions of al_script.
    TRectAction *raScriptFormSave = nullptr;
    TNopeAction *naExecuteMacro = nullptr;
    TNopeAction *naStartMacro = nullptr;
    TNopeAction *naStopMacro = nullptr;
    TNopeAction *naHelpMacro = nullptr;
    TStringAction *saLines = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class TEditorLines;

    void CreateWidgets();
    void CreatePanel();
    void CreateActions();
    void CreateValueActions();  // binds the value actions CreateActions made
    void CreateFileManager();
    QPushButton *NewButton(QWidget *parent, const QString &name, const QString &caption, QRect place);
    void FormResize();
    void RunIdle();
    void ExecuteClicked();
    void SetRunning(bool running);
    bool OpenScriptFile(const QString &path);
    bool SaveScriptFile(const QString &path);
    static bool IsUserInput(const QEvent *event);

    std::unique_ptr<TEditorLines> FRecorder;
    bool FFiltering = false;
};
