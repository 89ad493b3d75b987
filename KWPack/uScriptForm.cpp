// A run of the editor's script happens inside naExecuteMacroAfterApply, on
// the UI thread. The engine calls RunIdle about every 50 ms; there pending
// events run (paints, timers, posted messages) with an application-wide
// filter that drops user input, except Esc and clicks on the Execute
// button (which reads "Stop" meanwhile): both stop the run. Without the
// filter a click on Execute, Open or a menu of the main window would run a
// second script or tear down what the running one uses. Closing a window is
// refused meanwhile for the same reason.
#include "KWPack/uScriptForm.h"

#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uPascalHighlighter.h"
#include "KWPack/uPreferences.h"
#include "platform/base/DateTimeText.h"
#include "platform/base/Graphics.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QShortcutEvent>
#include <QTextOption>

namespace {

constexpr int kMargin = 8;
constexpr int kMemoHeight = 49;
constexpr int kPanelWidth = 145;
constexpr int kPanelHeight = 385;
constexpr int kEditorGap = 24;  // between the editor's top margin and the message box
constexpr int kMinWidth = 320;   // a stored rectangle never makes the window vanish
constexpr int kMinHeight = 240;

const QString kStoredDefault = QStringLiteral("//Ecrivez un script entre begin et end.");
const QString kShownDefault = QStringLiteral("//Write a script between begin and end.");

QStringList SplitLines(const QString &text)
{
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    return text.split(breaks);
}

void SetBackground(QWidget *w, TColor color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, ColorToQColor(color));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

QFont EditorFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Courier New"), SubstituteFontFamily(QStringLiteral("Courier New")),
                      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(17);
    return font;
}

}  // namespace

// Recorded lines go to the end of the editor as the user works.
class TScriptForm::TEditorLines : public TMacroLines {
public:
    explicit TEditorLines(QPlainTextEdit *editor) : FEditor(editor) {}
    void Add(const QString &line) override
    {
        if (FEditor)
            FEditor->appendPlainText(line);
    }

private:
    QPointer<QPlainTextEdit> FEditor;
};

TScriptForm::TScriptForm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(SectionName());
    setWindowTitle(QStringLiteral("Script"));
    SetBackground(this, clActiveCaption);
    KWScript = new TKWScript(this);
    KWScript->setObjectName(QStringLiteral("KWScript"));
    KWScript->OnRunIdle = [this] { RunIdle(); };
    CreateWidgets();
    CreateActions();
    CreateValueActions();
    CreatePanel();
    CreateFileManager();
    resize(787, 559);
}

TScriptForm::~TScriptForm()
{
    if (FRecorder && MacroRecorder == FRecorder.get())
        MacroRecorder = nullptr;
    if (FFiltering)
        qApp->removeEventFilter(this);
    // The buttons follow the actions' changes through this window; they go
    // first, before the actions announce their own end to a window that is
    // no longer one.
    delete Panel;
}

// ---- Building --------------------------------------------------------------------

void TScriptForm::CreateWidgets()
{
    Editor = new QPlainTextEdit(this);
    Editor->setObjectName(QStringLiteral("Editor"));
    Editor->setGeometry(kMargin, kMargin, 593, 425);
    Editor->setFont(EditorFont());
    Editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    const qreal cw = QFontMetricsF(Editor->font()).horizontalAdvance(QLatin1Char(' '));
    QTextOption option = Editor->document()->defaultTextOption();
    option.setTabs({QTextOption::Tab(3 * cw, QTextOption::LeftTab), QTextOption::Tab(5 * cw, QTextOption::LeftTab)});
    option.setTabStopDistance(2 * cw);
    Editor->document()->setDefaultTextOption(option);
    new TPascalHighlighter(Editor->document());

    Memo = new QPlainTextEdit(this);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setReadOnly(true);
    Memo->setGeometry(kMargin, kMargin + 425 + 16, 593, kMemoHeight);
}

QPushButton *TScriptForm::NewButton(QWidget *parent, const QString &name, const QString &caption, QRect place)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(place);
    return b;
}

void TScriptForm::CreatePanel()
{
    Panel = new QWidget(this);
    Panel->setObjectName(QStringLiteral("Panel"));
    Panel->resize(kPanelWidth, kPanelHeight);
    SetBackground(Panel, clBtnFace);
    gbMacros = new QGroupBox(QStringLiteral("Macros"), Panel);
    gbMacros->setObjectName(QStringLiteral("gbMacros"));
    gbMacros->setGeometry(8, 4, 129, 100);
    btStart = NewButton(gbMacros, QStringLiteral("btStart"), naStartMacro->Caption(), {8, 24, 113, 30});
    btStop = NewButton(gbMacros, QStringLiteral("btStop"), naStopMacro->Caption(), {8, 60, 113, 30});
    btHelp = NewButton(Panel, QStringLiteral("btHelp"), naHelpMacro->Caption(), {16, 118, 113, 30});
    btClear = NewButton(Panel, QStringLiteral("btClear"), QStringLiteral("Clear"), {16, 158, 113, 30});
    btOpen = NewButton(Panel, QStringLiteral("btOpen"), QStringLiteral("Open"), {16, 198, 113, 30});
    btSave = NewButton(Panel, QStringLiteral("btSave"), QStringLiteral("Save as"), {16, 238, 113, 30});
    btExecute = NewButton(Panel, QStringLiteral("btExecute"), naExecuteMacro->Caption(), {16, 300, 113, 60});
    QFont bold = btExecute->font();
    bold.setBold(true);
    btExecute->setFont(bold);

    // The buttons of actions show the actions' captions.
    const auto bind = [this](QPushButton *b, TNopeAction *a) {
        connect(a, &QAction::changed, b, [this, b, a] {
            if (!(b == btExecute && KWScript->Running()))
                b->setText(a->Caption());
        });
        if (b != btExecute)
            connect(b, &QPushButton::clicked, a, [a] { a->Execute(); });
    };
    bind(btStart, naStartMacro);
    bind(btStop, naStopMacro);
    bind(btHelp, naHelpMacro);
    bind(btExecute, naExecuteMacro);
    connect(btExecute, &QPushButton::clicked, this, [this] { ExecuteClicked(); });
}

// In the order of the window's table: registration and storage follow it.
void TScriptForm::CreateActions()
{
    al_script = new TKWActionList(this);
    al_script->setObjectName(QStringLiteral("al_script"));
    const auto named = [](auto *a, const char *name, const char *scriptName) {
        a->SetName(QLatin1String(name));
        a->ScriptName = QLatin1String(scriptName);
        a->Category = QStringLiteral("Vostrel");
        return a;
    };
    const auto command = [this, named](const char *name, const char *scriptName, const char *caption) {
        auto *a = named(new TNopeAction(QLatin1String(name), al_script), name, scriptName);
        a->SetCaption(QLatin1String(caption));
        addAction(a);  // its shortcut works while the window is active
        return a;
    };
    raScriptFormSave = named(new TRectAction(QStringLiteral("raScriptFormSave"), al_script), "raScriptFormSave",
                             "ScriptFormSave");
    naExecuteMacro = command("naExecuteMacro", "ExecuteMacro", "Execute");
    naExecuteMacro->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_F12));
    naExecuteMacro->OnAfterApply = [this] { naExecuteMacroAfterApply(); };
    naStartMacro = command("naStartMacro", "", "Start");
    naStartMacro->OnAfterApply = [this] { naStartMacroAfterApply(); };
    naStopMacro = command("naStopMacro", "", "Stop");
    naStopMacro->OnAfterApply = [this] { naStopMacroAfterApply(); };
    naHelpMacro = command("naHelpMacro", "HelpMacro", "Help");
    saLines = named(new TStringAction(QStringLiteral("saLines"), al_script), "saLines", "Lines");
}

// The window's bounds and the editor's text, kept in the preferences.
void TScriptForm::CreateValueActions()
{
    raScriptFormSave->ApplyWhenLoad = true;
    raScriptFormSave->OnDefault = [](TRect &r) {
        r = TRect{300, 300, 1100, 860};
        return true;
    };
    raScriptFormSave->BeforeSave = [this](TRect &r) {
        const QRect g = geometry();
        r = TRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
        return true;
    };
    raScriptFormSave->OnAfterApply = [this](const TRect &r) {
        setGeometry(r.Left, r.Top, std::max(r.Right - r.Left, kMinWidth), std::max(r.Bottom - r.Top, kMinHeight));
    };
    saLines->ApplyWhenLoad = true;
    saLines->SetDefaultValue(kStoredDefault.toLocal8Bit());
    saLines->BeforeSave = [this](QByteArray &v) {
        v = EditorLines().join(QStringLiteral("\r\n")).toLocal8Bit();
        return true;
    };
    saLines->OnAfterApply = [this](const QByteArray &v) { SetEditorLines(SplitLines(QString::fromLocal8Bit(v))); };
}

void TScriptForm::CreateFileManager()
{
    ficman_script = TKWActionComponent::New<TMonoFichierMan>(this);
    ficman_script->setObjectName(QStringLiteral("ficman_script"));
    ficman_script->SetFilter(QStringLiteral("Macro Files (*.txt)|*.txt"));
    ficman_script->DefaultExtension = QStringLiteral(".txt");
    ficman_script->NewFileName = QStringLiteral("Macro");
    ficman_script->DeleteExisting = ctAskif;
    ficman_script->SaveType = ctAskif;
    ficman_script->ExistingOnly = true;
    ficman_script->OnOpenFile = [this](const QString &path) { return OpenScriptFile(path); };
    ficman_script->OnSaveFile = [this](const QString &path) { return SaveScriptFile(path); };
    ficman_script->OnCloseFile = [this](const QString &) { SetEditorLines(ClearTemplate()); };
    connect(btClear, &QPushButton::clicked, this, [this] { ficman_script->naCloseFile->Execute(); });
    connect(btOpen, &QPushButton::clicked, this, [this] { ficman_script->waOpenFile->Execute(); });
    connect(btSave, &QPushButton::clicked, this, [this] { ficman_script->waSaveFileAs->Execute(); });
}

// ---- Showing, layout, closing ------------------------------------------------------

QStringList TScriptForm::ShowTemplate()
{
    return {kShownDefault, QStringLiteral("//Don't forget to finish each command with ;"), QStringLiteral("begin"),
            QString(), QStringLiteral("end.")};
}

QStringList TScriptForm::ClearTemplate()
{
    return {kShownDefault, QStringLiteral("//Don't forget to finish each command by ;"), QStringLiteral("begin"),
            QString(), QStringLiteral("end.")};
}

void TScriptForm::ShowScript()
{
    Editor->clear();
    SetEditorLines(ShowTemplate());
    btSave->setText(QStringLiteral("Save"));
    naExecuteMacro->SetCaption(QStringLiteral("Execute"));
    naStartMacro->SetCaption(QStringLiteral("Start"));
    naStopMacro->SetCaption(QStringLiteral("Stop"));
    naHelpMacro->SetCaption(QStringLiteral("Help"));
    saLines->SetDefaultValue(kShownDefault.toLocal8Bit());
    ficman_script->SetFilter(QStringLiteral("Macro Files (*.txt)|*.txt"));
    show();
    raise();
    activateWindow();
}

// The editor at (8, 8) fills what the panel and the message box leave; the
// box sits 8 from the bottom, the panel at the right edge on top of the box.
void TScriptForm::FormResize()
{
    const int w = width(), h = height();
    const int memoTop = h - kMemoHeight - kMargin;
    Panel->move(w - kPanelWidth, memoTop - kPanelHeight);
    const int editorWidth = std::max(Panel->x() - 2 * kMargin, 0);
    Editor->setGeometry(kMargin, kMargin, editorWidth, std::max(memoTop - kEditorGap, 0));
    Memo->setGeometry(kMargin, memoTop, editorWidth, kMemoHeight);
}

void TScriptForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TScriptForm::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && OnClosed)
        OnClosed();
}

// ---- Editor lines ------------------------------------------------------------------

QStringList TScriptForm::EditorLines() const { return Editor->toPlainText().split(QLatin1Char('\n')); }

void TScriptForm::SetEditorLines(const QStringList &lines) { Editor->setPlainText(lines.join(QLatin1Char('\n'))); }

// ---- Running -----------------------------------------------------------------------

void TScriptForm::naExecuteMacroAfterApply()
{
    // A script cannot restart itself (ExecuteMacro from a script): the program
    // under way would be compiled away beneath it.
    if (KWScript->Running())
        return;
    Memo->clear();
    KWScript->Script = EditorLines();
    KWScript->MainFileName =
        ficman_script->State() == TDocumentState::Named ? ficman_script->CurrentFile() : QString();
    KWScript->Compile();
    for (const QString &m : KWScript->Messages())
        Memo->appendPlainText(m);
    SetRunning(true);
    KWScript->Execute();
    SetRunning(false);
    for (const QString &m : KWScript->Messages())
        Memo->appendPlainText(m);
}

void TScriptForm::SetRunning(bool running)
{
    btExecute->setText(running ? QStringLiteral("Stop") : naExecuteMacro->Caption());
}

void TScriptForm::ExecuteClicked()
{
    if (KWScript->Running())
        KWScript->Stop();
    else
        naExecuteMacro->Execute();
}

void TScriptForm::RunIdle()
{
    if (FFiltering)
        return;  // a nested wait of a routine called from here
    FFiltering = true;
    qApp->installEventFilter(this);
    QCoreApplication::processEvents();
    qApp->removeEventFilter(this);
    FFiltering = false;
}

bool TScriptForm::IsUserInput(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

bool TScriptForm::eventFilter(QObject *watched, QEvent *event)
{
    if (!FFiltering || !IsUserInput(event))
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::Shortcut) {
        // A shortcut goes to its action, not to a widget: none runs now.
        if (static_cast<QShortcutEvent *>(event)->key() == QKeySequence(Qt::Key_Escape))
            KWScript->Stop();
        return true;
    }
    // Windows pass input on to their widgets; the widgets decide below.
    if (!watched->isWidgetType())
        return false;
    const auto type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::ShortcutOverride) {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            KWScript->Stop();
        return true;
    }
    if (type == QEvent::Close) {
        event->ignore();
        return true;
    }
    const bool onStop = watched == btExecute && (type == QEvent::MouseButtonPress ||
                                                 type == QEvent::MouseButtonRelease || type == QEvent::MouseMove);
    return !onStop;
}

// ---- Macros ------------------------------------------------------------------------

void TScriptForm::naStartMacroAfterApply()
{
    if (!FRecorder)
        FRecorder = std::make_unique<TEditorLines>(Editor);
    MacroRecorder = FRecorder.get();
    Editor->clear();
    TDateTime now = 0;
    QDateTimeToDateTime(QDateTime::currentDateTime(), now);
    FRecorder->Add(QStringLiteral("//Macro saved on ") + FormatDateTime(QStringLiteral("dddddd"), now) +
                   QStringLiteral(" at ") + FormatDateTime(QStringLiteral("tt"), now));
    FRecorder->Add(QString());
    FRecorder->Add(QStringLiteral("begin"));
}

void TScriptForm::naStopMacroAfterApply()
{
    if (!Recording())
        return;
    FRecorder->Add(QStringLiteral("end."));
    MacroRecorder = nullptr;
}

bool TScriptForm::Recording() const { return FRecorder && MacroRecorder == FRecorder.get(); }

// ---- Script files and preferences --------------------------------------------------

// Byte-order marks say UTF-16 or UTF-8; without one the locale's code page,
// Latin-1 for bytes not valid in it (files written on other systems).
bool TScriptForm::OpenScriptFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    SetEditorLines(TIniPreferencesMan::Decode(file.readAll()));
    return true;
}

// Written aside and renamed over the target: a failed write leaves the old
// file as it was, and the message box says so.
bool TScriptForm::SaveScriptFile(const QString &path)
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        file.write((EditorLines().join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        ok = file.commit();
    }
    if (!ok)
        Memo->appendPlainText(QStringLiteral("Unable to save ") + path + QStringLiteral(": ") + file.errorString());
    return ok;
}

bool TScriptForm::LoadFromPrefs(TVostrelPreferences *gp)
{
    const bool opened = gp->OpenKey(SectionName());
    if (!opened && gp->Mode() != spNone)
        return false;
    bool ok = ficman_script->LoadFromPrefs(gp);
    ok = al_script->LoadFromPrefs(gp) && ok;
    if (opened)
        gp->CloseKey();
    return ok;
}

bool TScriptForm::SaveToPrefs(TVostrelPreferences *gp)
{
    if (!gp->OpenKey(SectionName()))
        return false;
    bool ok = al_script->SaveToPrefs(gp);
    ok = ficman_script->SaveToPrefs(gp) && ok;
    gp->CloseKey();
    return ok;
}
