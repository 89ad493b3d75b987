#include "KWPack/uKWSwitch.h"

#include "KWPack/uActionText.h"
#include "platform/base/MessageWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <exception>

void TSuperList::Clear()
{
    while (!FItems.empty())
        FItems.pop_back();
}

TKWSwitch::TKWSwitch(QObject *owner) : TCustomKWSwitch(owner)
{
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::applicationStateChanged, this, &TKWSwitch::ApplicationStateChanged);
    // Without a window manager nothing ever activates: the loop's first turn
    // stands in for the activation.
    QTimer::singleShot(0, this, &TKWSwitch::FirstActivation);
}

TKWSwitch::~TKWSwitch()
{
    SwitchTable.clear();
    CommandQueue.Clear();
}

void TKWSwitch::ApplicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive)
        return;
    if (!FActivated) {
        FirstActivation();
        return;
    }
    if (OnActivate)
        OnActivate(QCoreApplication::instance());
}

void TKWSwitch::FirstActivation()
{
    if (FActivated)
        return;
    FActivated = true;
    if (OnActivate)
        OnActivate(QCoreApplication::instance());
    // We are called from the event loop: nothing may escape into it.
    try {
        RunCommandLine();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "command line: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "command line: an action failed\n");
    }
}

void TKWSwitch::RegisterList(TCustomKWActionList *list)
{
    if (!list)
        return;
    for (TCustomAbstractAction *a : list->TypedActions())
        SwitchTable.append({a->Switch, a});
}

void TKWSwitch::UnregisterList(TCustomKWActionList *list)
{
    if (!list)
        return;
    const QList<TCustomAbstractAction *> actions = list->TypedActions();
    SwitchTable.removeIf(
        [&actions](const TSwitchPair &p) { return p.Action.isNull() || actions.contains(p.Action.data()); });
}

TCustomAbstractAction *TKWSwitch::FindSwitch(const QString &name)
{
    // An action that died while registered has left a pair without an action.
    SwitchTable.removeIf([](const TSwitchPair &p) { return p.Action.isNull(); });
    if (SwitchTable.isEmpty())
        return nullptr;
    const QString lower = name.toLower();
    if (lower.isEmpty())
        return DefaultAction;
    if (lower == QLatin1String("quit")) {
        QuitAfterRun = true;
        return nullptr;
    }
    for (const TSwitchPair &p : std::as_const(SwitchTable))
        if (p.Name.compare(lower, Qt::CaseInsensitive) == 0)
            return p.Action;
    return UnknownToDefault ? DefaultAction.data() : nullptr;
}

QStringList TKWSwitch::CommandLine() const
{
    return QCoreApplication::arguments().mid(1);
}

void TKWSwitch::RunCommandLine()
{
    RunCommandLine(CommandLine());
}

void TKWSwitch::RunCommandLine(const QStringList &parameters)
{
    // Pending messages run between items; an activation among them must not
    // empty the queue under the run.
    if (FExecuting)
        return;
    CommandQueue.Clear();
    QuitAfterRun = false;
    FReported.clear();
    for (const QString &p : parameters)
        ParseParameter(p);
    QPointer<TKWSwitch> self(this);
    try {
        if (CommandQueue.Count() > 0)
            ExecuteQueue();
        else if (OnNoCommandLine)
            OnNoCommandLine(nullptr);
    } catch (...) {
        if (self)
            CommandQueue.Clear();
        throw;
    }
    if (self)
        CommandQueue.Clear();
}

// Here a path starts with the switch prefix "/": a parameter whose name holds
// a path separator, or that names an existing file or folder, is a plain one.
bool TKWSwitch::IsPathParameter(const QString &parameter)
{
    if (!parameter.startsWith(u'/'))
        return false;
    const qsizetype eq = parameter.indexOf(u'=');
    return (eq > 0 ? parameter.left(eq) : parameter).indexOf(u'/', 1) > 0 || QFileInfo::exists(parameter);
}

void TKWSwitch::ParseParameter(const QString &parameter)
{
    auto item = std::make_unique<TActionEx>();
    const QChar first = parameter.isEmpty() ? QChar() : parameter.front();
    QString name;
    if ((first == u'+' || first == u'-' || first == u'/') && !IsPathParameter(parameter)) {
        item->Mode = first == u'+' ? 0 : first == u'-' ? 1 : 2;
        const qsizetype eq = parameter.indexOf(u'=');
        name = (eq > 0 ? parameter.mid(1, eq - 1) : parameter.mid(1)).toLower();
        if (eq > 0)
            item->Text = parameter.mid(eq + 1);
    } else {
        item->Mode = 3;
        item->Text = parameter;
    }
    item->Action = name.isEmpty() ? DefaultAction.data() : FindSwitch(name);
    if (item->Action) {
        CommandQueue.Add(std::move(item));
        return;
    }
    if (!name.isEmpty() && name != QLatin1String("quit")) {
        const qsizetype eq = parameter.indexOf(u'=');
        ReportUnknown(eq > 0 ? parameter.left(eq) : parameter);
    }
}

// The action reads such a text its own way (-1 for numbers, nothing for
// colours, points and rectangles); a person running a batch wants to know.
void TKWSwitch::ReportUnreadable(const TCustomAbstractAction &action, const QString &text)
{
    using namespace ActionText;
    const char *fallback = nullptr;
    if (qobject_cast<const TIntegerAction *>(&action))
        fallback = IsIntegerText(text) ? nullptr : "-1 is used";
    else if (qobject_cast<const TDoubleAction *>(&action))
        fallback = IsDoubleText(text) ? nullptr : "-1 is used";
    else if (qobject_cast<const TColorAction *>(&action))
        fallback = ColorFromText(text) ? nullptr : "ignored";
    else if (qobject_cast<const TPointAction *>(&action))
        fallback = PointFromText(text) ? nullptr : "ignored";
    else if (qobject_cast<const TRectAction *>(&action))
        fallback = RectFromText(text) ? nullptr : "ignored";
    if (!fallback)
        return;
    std::fprintf(stderr, "switch /%s: cannot read '%s', %s\n", qPrintable(action.Switch), qPrintable(text),
                 fallback);
    std::fflush(stderr);
}

void TKWSwitch::ReportUnknown(const QString &typed)
{
    if (FReported.contains(typed))
        return;
    FReported.insert(typed);
    std::fprintf(stderr, "unknown switch %s\n", qPrintable(typed));
    std::fflush(stderr);
}

void TKWSwitch::ExecuteQueue()
{
    if (CommandQueue.Count() == 0 || FExecuting)
        return;
    FExecuting = true;
    QPointer<TKWSwitch> self(this);
    // The "finally" of the run, also when an action raised. Executing is
    // cleared first: closing the window may take the processor with it.
    const auto finish = [this, &self] {
        if (!self)
            return;
        FExecuting = false;
        if (QuitAfterRun)
            CloseMainWindow();
    };
    try {
        // Items are owned by the queue, which no one empties during the run.
        for (int i = 0; i < CommandQueue.Count(); ++i) {
            ProcessMessages();
            if (!self)
                return;
            RunItem(*CommandQueue.Items(i));
            if (!self)
                return;
            ProcessMessages();
            if (!self)
                return;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TKWSwitch::RunItem(const TActionEx &item)
{
    TCustomAbstractAction *a = item.Action;
    if (a && !a->Enabled() && OnSkipped)
        OnSkipped(a);
    if (!a || !a->Enabled())
        return;
    auto *check = qobject_cast<TCheckAction *>(a);
    if (!check) {
        ReportUnreadable(*a, item.Text);
        a->SetValueFromText(item.Text);
        return;
    }
    switch (item.Mode) {
    case 0:
        check->SetChecked(true);
        break;
    case 1:
        check->SetChecked(false);
        break;
    case 2:
        check->Toggle();
        break;
    default:
        break;
    }
}

void TKWSwitch::CloseMainWindow()
{
    if (OnQuit) {
        OnQuit();
        return;
    }
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMainWindow *>(w) && w->isVisible()) {
                w->close();
                return;
            }
        }
        if (QWidget *active = QApplication::activeWindow()) {
            active->close();
            return;
        }
    }
    QCoreApplication::quit();
}
