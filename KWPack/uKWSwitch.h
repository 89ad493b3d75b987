// The command-line switch processor: each parameter names a typed action by
// its switch name and gives it a value or a checked state; the named actions
// run one after the other once the application has started, and the
// application can close afterwards ("/quit").
//
//   +name        check a check action (mode 0)
//   -name        uncheck it (mode 1)
//   /name[=text] toggle it; any other action gets the text (mode 2)
//   text         no prefix: the default action, if any (mode 3)
//
// Every action list links to the one processor (TCustomKWActionList::
// SetSwitch), which fills the switch table in the order of linking, so the
// first-linked list wins when two actions share a switch name.
//
// The command line runs once, at the application's first activation; on
// platforms where the application never activates (no window manager, no
// window at all) at the first turn of the event loop after construction
// instead, whichever comes first. Whatever main() does before it enters the
// loop (showing the window, loading the preferences) therefore comes first.
//
// UI thread only. The run lets pending messages through between items, so
// anything may happen in between: actions may die (they are skipped), the
// processor itself may die (the run stops), and a second activation does not
// start a second run.
#pragma once

#include "KWPack/uScriptAction.h"

#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// One queued parameter.
struct TActionEx {
    QPointer<TCustomAbstractAction> Action;  // not owned; null once it died
    QString Text;                            // the value part of the parameter
    uint8_t Mode = 3;                        // 0 "+", 1 "-", 2 "/", 3 no prefix
};

// The queue: owns its items; Clear frees them from the last to the first.
class TSuperList {
public:
    TSuperList() = default;
    ~TSuperList() { Clear(); }
    TSuperList(const TSuperList &) = delete;
    TSuperList &operator=(const TSuperList &) = delete;

    int Count() const { return static_cast<int>(FItems.size()); }
    // Owned by the list; valid until Clear.
    TActionEx *Items(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
    void Add(std::unique_ptr<TActionEx> item) { FItems.push_back(std::move(item)); }
    void Clear();

private:
    std::vector<std::unique_ptr<TActionEx>> FItems;
};

class TKWSwitch : public TCustomKWSwitch {
    Q_OBJECT
public:
    // Arms the processor: it runs the command line at the first activation
    // (or first turn of the event loop) after this.
    explicit TKWSwitch(QObject *owner = nullptr);
    ~TKWSwitch() override;

    struct TSwitchPair {
        QString Name;
        QPointer<TCustomAbstractAction> Action;  // not owned
    };
    // Unsorted, in the order of registration.
    QList<TSwitchPair> SwitchTable;
    TSuperList CommandQueue;
    // Receives parameters that name no known switch; not owned; none unless set.
    QPointer<TCustomAbstractAction> DefaultAction;
    // Off: only parameters without a prefix reach DefaultAction, and a
    // misspelt switch is reported instead of taken for a file name.
    bool UnknownToDefault = true;
    // Called (sender: the application) at the first activation before the
    // command line runs, and at every activation after it.
    TNotifyEvent OnActivate;
    // Called (no sender) when the command line yields no item.
    TNotifyEvent OnNoCommandLine;
    // Closes the main window after a run with "quit". Unset: the visible main
    // window (QMainWindow) is closed, else the active window, else the
    // application quits.
    std::function<void()> OnQuit;
    // Told of an item skipped because its action is disabled (a batch run
    // reports it: a grab without a picture must not pass for done).
    std::function<void(TCustomAbstractAction *action)> OnSkipped;
    // Set by "quit" among the parameters of the run under way.
    bool QuitAfterRun = false;

    bool Executing() const { return FExecuting; }
    // True once the first activation (or the loop's first turn) has come.
    bool Activated() const { return FActivated; }

    void RegisterList(TCustomKWActionList *list) override;
    void UnregisterList(TCustomKWActionList *list) override;
    // The action for a switch name (any case); "quit" sets QuitAfterRun and
    // gives none; an empty or unknown name gives DefaultAction.
    TCustomAbstractAction *FindSwitch(const QString &name);
    // "/tmp/clip.mp4": a path, not a switch.
    static bool IsPathParameter(const QString &parameter);

    // Runs the program's own command line (its path excluded).
    void RunCommandLine();
    // Runs the given parameters. Ignored while a run is under way. An
    // exception from an action ends the run (quit still closes) and goes on
    // to the caller.
    void RunCommandLine(const QStringList &parameters);
    void ParseParameter(const QString &parameter);
    void ExecuteQueue();

protected:
    // The program's parameters, Unicode, its path excluded.
    virtual QStringList CommandLine() const;

private:
    void FirstActivation();
    void ApplicationStateChanged(Qt::ApplicationState state);
    void RunItem(const TActionEx &item);
    void CloseMainWindow();
    // The unknown switch name of a run, said once on stderr.
    void ReportUnknown(const QString &typed);
    static void ReportUnreadable(const TCustomAbstractAction &action, const QString &text);

    bool FExecuting = false;
    bool FActivated = false;
    QSet<QString> FReported;
};
