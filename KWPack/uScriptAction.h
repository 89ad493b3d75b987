// Typed actions: every setting and command of the program is one. A typed
// action is a QAction (caption, hint, shortcuts, checked, enabled, visible,
// image) that also carries a value of one type with a default, a script name
// (procedure name and preference value name), a command-line switch name, and
// the events through which its value reaches the rest of the program.
//
// Published events (OnX) belong to the window that uses an action; each has an
// unpublished twin (InternalX) reserved for the component that owns it. Every
// event holds one handler and is skipped when unassigned.
//
// UI thread only, like the macro recording globals below.
#pragma once

#include "platform/base/Graphics.h"
#include "platform/script/PSScript.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TVostrelPreferences;
class TCustomKWActionList;

// Receives recorded script lines while a macro is being recorded.
class TMacroLines {
public:
    virtual ~TMacroLines() = default;
    virtual void Add(const QString &line) = 0;
};

// Recorder of the macro being recorded, or null. Set by the script window.
extern TMacroLines *MacroRecorder;
// True while a recorded action is being applied: only the outermost step of a
// user's action is written to the macro.
extern bool MacroLineOpen;

// A list of images that actions refer to by index.
class TImageList : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    QList<QIcon> Images;
    int Count() const { return static_cast<int>(Images.size()); }
    QIcon Icon(int index) const;
};

using TNotifyEvent = std::function<void(QObject *sender)>;
using TImageChangedEvent = std::function<void(TImageList *imglist, int imageindex)>;
using TPrepareNopeEvent = std::function<bool()>;
using TApplyNopeEvent = std::function<void()>;

// The nearest form or frame up `owner`'s parent chain (the last object of the
// chain when there is none). A frame is a widget with the property "TFrame".
QObject *FindFormOrFrame(QObject *owner);

class TCustomAbstractAction : public QAction {
    Q_OBJECT
public:
    // The actual owner is the nearest form or frame of `owner`.
    explicit TCustomAbstractAction(QObject *owner);
    // For components creating actions in code: owned like above through the
    // list, in the list, category "internal".
    TCustomAbstractAction(const QString &internalId, TCustomKWActionList *list);
    ~TCustomAbstractAction() override;

    bool IncludePrefs = true;
    QString InternalId;
    QString Variables;
    QStringList Comments;
    bool ApplyWhenLoad = false;
    QString ScriptName;
    QString Switch;
    TImageChangedEvent OnImageChanged;
    QString Category;
    bool AutoCheck = false;
    TNotifyEvent OnExecute;

    QString Name() const { return objectName(); }
    void SetName(const QString &name) { setObjectName(name); }
    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString &hint);
    QKeySequence ShortCut() const;
    void SetShortCut(const QKeySequence &key);
    QList<QKeySequence> SecondaryShortcuts() const;
    void SetSecondaryShortcuts(const QList<QKeySequence> &keys);
    bool Visible() const { return isVisible(); }
    void SetVisible(bool v) { setVisible(v); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool v) { setEnabled(v); }
    bool Checked() const { return isChecked(); }
    void SetCheckedState(bool v);
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int index);
    TCustomKWActionList *ActionList() const { return FActionList; }
    void SetActionList(TCustomKWActionList *list);

    // Runs OnExecute (menus, buttons and shortcuts come here).
    void Execute();

    virtual bool RegisterInScript(TPSScript *script) = 0;
    virtual void ExecutePrepared() = 0;
    virtual void GetScriptDeclaration(QString &text) = 0;
    virtual void GetSwitchSyntax(QString &text) = 0;
    virtual void ClearBindings();
    virtual void SetValueFromText(const QString &text) = 0;
    virtual void Apply() = 0;
    virtual bool LoadFromPrefs(TVostrelPreferences *gp) = 0;
    virtual bool SaveToPrefs(TVostrelPreferences *gp) = 0;

protected:
    // Opens the macro line for this step when a macro records and no outer
    // step holds it; writes `line()` (after four blanks) when `write`.
    class MacroStep {
    public:
        MacroStep(const std::function<QString()> &line, bool write = true);
        ~MacroStep();
        MacroStep(const MacroStep &) = delete;
        MacroStep &operator=(const MacroStep &) = delete;

    private:
        bool FOpened = false;
    };

    // The variables text, or the kind's default when Variables is empty.
    QString VariablesOr(const QString &fallback) const;
    void RefreshImage();

private:
    void Init(QObject *owner);
    void Triggered(bool checked);

    int FImageIndex = -1;
    QPointer<TCustomKWActionList> FActionList;
};

// Publishes the common properties; adds nothing.
class TAbstractAction : public TCustomAbstractAction {
    Q_OBJECT
public:
    using TCustomAbstractAction::TCustomAbstractAction;
};

// A command: no value.
class TNopeAction : public TAbstractAction {
    Q_OBJECT
public:
    using TAbstractAction::TAbstractAction;

    TPrepareNopeEvent OnPrepare, BeforeSave;
    TApplyNopeEvent OnBeforeApply, OnAfterApply;
    TPrepareNopeEvent InternalPrepare, InternalBeforeSave;
    TApplyNopeEvent InternalApply;

    bool RegisterInScript(TPSScript *script) override;
    void ExecutePrepared() override;
    void GetScriptDeclaration(QString &text) override;
    void GetSwitchSyntax(QString &text) override;
    void ClearBindings() override;
    void SetValueFromText(const QString &text) override;
    void Apply() override;
    bool LoadFromPrefs(TVostrelPreferences *gp) override;
    bool SaveToPrefs(TVostrelPreferences *gp) override;
};

// The value kinds share this frame; each kind supplies its texts and its
// preference read and write.
template <class T>
class TValueAction : public TAbstractAction {
public:
    using TPrepareEvent = std::function<bool(T &)>;
    using TApplyEvent = std::function<void(const T &)>;
    using TAbstractAction::TAbstractAction;

    TPrepareEvent OnPrepare, OnDefault, BeforeSave;
    TApplyEvent OnBeforeApply, OnAfterApply;
    TPrepareEvent InternalPrepare, InternalDefault, InternalBeforeSave;
    TApplyEvent InternalApply;

    const T &Value() const { return FValue; }
    void SetValue(const T &v)
    {
        FValue = v;
        MacroStep step([this] { return RecordedLine(); });
        Apply();
    }
    const T &DefaultValue() const { return FDefault; }

    void Apply() override
    {
        const T v = FValue;
        if (OnBeforeApply)
            OnBeforeApply(v);
        if (InternalApply)
            InternalApply(v);
        if (OnAfterApply)
            OnAfterApply(v);
    }

    void ExecutePrepared() override
    {
        if (!OnPrepare && !InternalPrepare)
            return;
        T v = FreshValue();
        if (OnPrepare && !OnPrepare(v))
            return;
        if (InternalPrepare && !InternalPrepare(v))
            return;
        SetValue(v);
    }

    bool LoadFromPrefs(TVostrelPreferences *gp) override
    {
        try {
            if (OnDefault)
                OnDefault(FDefault);
            if (InternalDefault)
                InternalDefault(FDefault);
            ReadValue(gp);
            if (ApplyWhenLoad)
                Apply();
            return true;
        } catch (...) {
            return false;
        }
    }

    bool SaveToPrefs(TVostrelPreferences *gp) override
    {
        try {
            if (BeforeSave)
                BeforeSave(FValue);
            if (InternalBeforeSave)
                InternalBeforeSave(FValue);
            return WriteValue(gp);
        } catch (...) {
            return false;
        }
    }

    void ClearBindings() override
    {
        TAbstractAction::ClearBindings();
        InternalPrepare = nullptr;
        InternalDefault = nullptr;
        InternalBeforeSave = nullptr;
        InternalApply = nullptr;
    }

    void GetScriptDeclaration(QString &text) override
    {
        text = QStringLiteral("procedure ") + ScriptName + QStringLiteral("(const ") +
               VariablesOr(DeclarationVariables()) + QLatin1Char(':') + ScriptType() +
               QStringLiteral(");");
    }

    void GetSwitchSyntax(QString &text) override
    {
        text = QLatin1Char('/') + Switch + QLatin1Char('=') + VariablesOr(SwitchVariables());
    }

    bool RegisterInScript(TPSScript *script) override
    {
        if (!script || ScriptName.isEmpty())
            return false;
        QString decl;
        GetScriptDeclaration(decl);
        QPointer<TValueAction> self(this);
        return script->AddMethod(decl, [self](const QVariantList &args) -> QVariant {
            if (self)
                self->ScriptCall(args);
            return {};
        });
    }

protected:
    // The default is also the value until something else sets one.
    void SetDefault(const T &v)
    {
        FDefault = v;
        FValue = v;
    }
    // The recorded line's pieces after the four blanks.
    virtual QString RecordedLine() const = 0;
    virtual T FreshValue() const { return T{}; }
    virtual void ReadValue(TVostrelPreferences *gp) = 0;
    virtual bool WriteValue(TVostrelPreferences *gp) = 0;
    virtual QString ScriptType() const = 0;
    virtual QString DeclarationVariables() const = 0;
    virtual QString SwitchVariables() const = 0;
    // A script's call of the action's procedure.
    virtual void ScriptCall(const QVariantList &args) = 0;
    // ScriptName + "(" + args + ");"
    QString CallLine(const QString &args) const
    {
        return ScriptName + QLatin1Char('(') + args + QStringLiteral(");");
    }

    T FValue{};
    T FDefault{};
};

class TBooleanAction : public TValueAction<bool> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    void SetDefaultValue(bool v) { SetDefault(v); }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("Boolean"); }
    QString DeclarationVariables() const override { return QStringLiteral("aBoolean"); }
    QString SwitchVariables() const override { return QStringLiteral("aBoolean"); }
    void ScriptCall(const QVariantList &args) override;
};

class TIntegerAction : public TValueAction<int32_t> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    void SetDefaultValue(int32_t v) { SetDefault(v); }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("integer"); }
    QString DeclarationVariables() const override { return QStringLiteral("aInteger"); }
    QString SwitchVariables() const override { return QStringLiteral("aInteger"); }
    void ScriptCall(const QVariantList &args) override;
};

class TWidestringAction : public TValueAction<QString> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    void SetDefaultValue(const QString &v) { SetDefault(v); }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("widestring"); }
    QString DeclarationVariables() const override { return QStringLiteral("aWidestring"); }
    QString SwitchVariables() const override { return QStringLiteral("aWidestring"); }
    void ScriptCall(const QVariantList &args) override;
};

// An 8-bit string in the system's code page; stored as a Unicode string.
class TStringAction : public TValueAction<QByteArray> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    void SetDefaultValue(const QByteArray &v) { SetDefault(v); }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("string"); }
    QString DeclarationVariables() const override { return QStringLiteral("aString"); }
    QString SwitchVariables() const override { return QStringLiteral("aString"); }
    void ScriptCall(const QVariantList &args) override;
};

class TDoubleAction : public TValueAction<double> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    void SetDefaultValue(double v) { SetDefault(v); }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("Double"); }
    QString DeclarationVariables() const override { return QStringLiteral("aDouble"); }
    QString SwitchVariables() const override { return QStringLiteral("aDouble"); }
    void ScriptCall(const QVariantList &args) override;
};

class TColorAction : public TValueAction<TColor> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    void SetDefaultValue(TColor v) { SetDefault(v); }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("TColor"); }
    QString DeclarationVariables() const override { return QStringLiteral("aColor"); }
    QString SwitchVariables() const override { return QStringLiteral("aColor"); }
    void ScriptCall(const QVariantList &args) override;
};

class TFontAction : public TValueAction<TFont> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    using TValueAction::SetValue;
    // Copies the given font into the default font.
    void SetDefaultValue(const TFont &v) { SetDefault(v); }
    void SetValue(const QString &name, int size, TColor color, bool bold, bool italic,
                  bool underline, bool strikeout);
    void SetValueFromText(const QString &text) override;
    void GetScriptDeclaration(QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("TFont"); }
    QString DeclarationVariables() const override { return {}; }
    QString SwitchVariables() const override { return QStringLiteral("aFont"); }
    void ScriptCall(const QVariantList &args) override;
};

// The default is not published: only OnDefault / InternalDefault set it.
class TPointAction : public TValueAction<TPoint> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    using TValueAction::SetValue;
    void SetValue(int32_t x, int32_t y) { SetValue(TPoint{x, y}); }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("integer"); }
    QString DeclarationVariables() const override { return QStringLiteral("x,y"); }
    QString SwitchVariables() const override { return QStringLiteral("aPoint"); }
    void ScriptCall(const QVariantList &args) override;
};

// The default is not published: only OnDefault / InternalDefault set it.
// Scripts pass (left, right, top, bottom); recorded lines use the same order
// so that they replay to the same rectangle. Switch texts are
// (left, top, right, bottom).
class TRectAction : public TValueAction<TRect> {
    Q_OBJECT
public:
    using TValueAction::TValueAction;
    using TValueAction::SetValue;
    void SetValue(int32_t left, int32_t right, int32_t top, int32_t bottom)
    {
        SetValue(TRect{left, top, right, bottom});
    }
    void SetValueFromText(const QString &text) override;

protected:
    QString RecordedLine() const override;
    void ReadValue(TVostrelPreferences *gp) override;
    bool WriteValue(TVostrelPreferences *gp) override;
    QString ScriptType() const override { return QStringLiteral("integer"); }
    QString DeclarationVariables() const override { return QStringLiteral("left,right,top,bottom"); }
    QString SwitchVariables() const override { return QStringLiteral("aRect"); }
    void ScriptCall(const QVariantList &args) override;
};

using TPrepareBooleanEvent = TBooleanAction::TPrepareEvent;
using TApplyBooleanEvent = TBooleanAction::TApplyEvent;
using TPrepareIntegerEvent = TIntegerAction::TPrepareEvent;
using TApplyIntegerEvent = TIntegerAction::TApplyEvent;
using TPrepareWideStringEvent = TWidestringAction::TPrepareEvent;
using TApplyWideStringEvent = TWidestringAction::TApplyEvent;
using TPrepareStringEvent = TStringAction::TPrepareEvent;
using TApplyStringEvent = TStringAction::TApplyEvent;
using TPrepareDoubleEvent = TDoubleAction::TPrepareEvent;
using TApplyDoubleEvent = TDoubleAction::TApplyEvent;
using TPrepareColorEvent = TColorAction::TPrepareEvent;
using TApplyColorEvent = TColorAction::TApplyEvent;
using TPrepareFontEvent = TFontAction::TPrepareEvent;
using TApplyFontEvent = TFontAction::TApplyEvent;
using TPreparePointEvent = TPointAction::TPrepareEvent;
using TApplyPointEvent = TPointAction::TApplyEvent;
using TPrepareRectEvent = TRectAction::TPrepareEvent;
using TApplyRectEvent = TRectAction::TApplyEvent;

// The checked state is the value; caption, hint and image follow it.
class TCheckAction : public TCustomAbstractAction {
    Q_OBJECT
public:
    explicit TCheckAction(QObject *owner);
    TCheckAction(const QString &internalId, TCustomKWActionList *list);

    QString TrueCaption, FalseCaption, TrueHint, FalseHint;
    int TrueImageIndex = -1;
    int FalseImageIndex = -1;

    TPrepareNopeEvent OnPrepare;
    TPrepareBooleanEvent OnDefault, BeforeSave;
    TApplyNopeEvent OnBeforeTrueApply, OnAfterTrueApply, OnBeforeFalseApply, OnAfterFalseApply;
    TPrepareNopeEvent InternalPrepare;
    TPrepareBooleanEvent InternalDefault, InternalBeforeSave;
    TApplyNopeEvent InternalTrueApply, InternalFalseApply;

    bool Value() const { return Checked(); }
    void SetChecked(bool v);
    void Toggle() { SetChecked(!Checked()); }
    bool DefaultValue() const { return FDefault; }
    // Sets the checked state too (without Apply) and shows its texts.
    void SetDefaultValue(bool v);

    bool RegisterInScript(TPSScript *script) override;
    void ExecutePrepared() override;
    void GetScriptDeclaration(QString &text) override;
    void GetSwitchSyntax(QString &text) override;
    void ClearBindings() override;
    void SetValueFromText(const QString &text) override;
    void Apply() override;
    bool LoadFromPrefs(TVostrelPreferences *gp) override;
    bool SaveToPrefs(TVostrelPreferences *gp) override;

private:
    void ShowState();
    bool FDefault = false;
};

// Captions and hints of both states, as the action tables give them.
inline void SetCheckTexts(TCheckAction *a, const QString &trueCaption, const QString &falseCaption,
                          const QString &trueHint, const QString &falseHint)
{
    a->TrueCaption = trueCaption;
    a->FalseCaption = falseCaption;
    a->TrueHint = trueHint;
    a->FalseHint = falseHint;
}

// The switch processor as the lists see it.
class TCustomKWSwitch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void RegisterList(TCustomKWActionList *list) = 0;
    virtual void UnregisterList(TCustomKWActionList *list) = 0;
};

using TListLoadEvent = std::function<bool(TVostrelPreferences *gp)>;
using TListSaveEvent = std::function<bool(TVostrelPreferences *gp)>;

// A list of actions, in order. Also links its actions to the one script
// engine and the one switch processor (the manager components link too, so
// the linking lives here rather than only in TKWActionList).
class TCustomKWActionList : public QObject {
    Q_OBJECT
public:
    explicit TCustomKWActionList(QObject *owner = nullptr);
    ~TCustomKWActionList() override;

    TListLoadEvent OnLoadFromPrefs;
    TListSaveEvent OnSaveToPrefs;
    QPointer<TImageList> Images;

    int ActionCount() const { return static_cast<int>(FActions.size()); }
    QAction *Actions(int index) const { return FActions.value(index); }
    // Typed actions in list order.
    QList<TCustomAbstractAction *> TypedActions() const;
    void AddAction(QAction *action);
    void RemoveAction(QAction *action);
    TCustomAbstractAction *FindByInternalId(const QString &id) const;

    bool LoadFromPrefs(TVostrelPreferences *gp);
    bool SaveToPrefs(TVostrelPreferences *gp);

    TPSScript *PascalScript() const { return FPascalScript; }
    void SetPascalScript(TPSScript *script);
    // The engine's compile handler from before this list linked itself.
    TPSEvent PreviousOnCompile() const;
    TCustomKWSwitch *Switch() const { return FSwitch; }
    void SetSwitch(TCustomKWSwitch *sw);

    // Offers every typed action to the engine, in list order.
    void RegisterActions(TPSScript *script);

private:
    struct CompileLink;
    struct CompileHook;
    void UnlinkScript();

    QList<QAction *> FActions;
    QPointer<TPSScript> FPascalScript;
    std::shared_ptr<CompileLink> FLink;
    QPointer<TCustomKWSwitch> FSwitch;
    QMetaObject::Connection FScriptWatch, FSwitchWatch;
};

class TKWActionList : public TCustomKWActionList {
    Q_OBJECT
public:
    using TCustomKWActionList::TCustomKWActionList;
};
