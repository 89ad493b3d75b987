#include "uScriptAction.h"

#include "uActionText.h"
#include "uPreferences.h"

#include <QWidget>

#include <optional>

TMacroLines *MacroRecorder = nullptr;
bool MacroLineOpen = false;

using namespace ActionText;

QIcon TImageList::Icon(int index) const
{
    return Images.value(index);
}

QObject *FindFormOrFrame(QObject *owner)
{
    QObject *last = owner;
    for (QObject *o = owner; o; o = o->parent()) {
        if (auto *w = qobject_cast<QWidget *>(o); w && (w->isWindow() || w->property("TFrame").toBool()))
            return o;
        last = o;
    }
    return last;
}

// ---------------------------------------------------------------------------
// TCustomAbstractAction

TCustomAbstractAction::TCustomAbstractAction(QObject *owner)
    : QAction(FindFormOrFrame(owner))
{
    Init(parent());
}

TCustomAbstractAction::TCustomAbstractAction(const QString &internalId, TCustomKWActionList *list)
    : QAction(FindFormOrFrame(list))
{
    Init(parent());
    InternalId = internalId;
    SetActionList(list);
    Category = QStringLiteral("internal");
}

void TCustomAbstractAction::Init(QObject *owner)
{
    // Shortcuts only work for actions that a widget holds.
    if (auto *w = qobject_cast<QWidget *>(owner))
        w->addAction(this);
    OnExecute = [this](QObject *) { ExecutePrepared(); };
    connect(this, &QAction::triggered, this, &TCustomAbstractAction::Triggered);
}

TCustomAbstractAction::~TCustomAbstractAction()
{
    if (FActionList)
        FActionList->RemoveAction(this);
}

void TCustomAbstractAction::Triggered(bool checked)
{
    // QAction flips a checkable action before it reports the trigger; undo it
    // unless the action checks itself, so ExecutePrepared decides.
    if (isCheckable() && !AutoCheck) {
        const QSignalBlocker block(this);
        setChecked(!checked);
    }
    Execute();
}

void TCustomAbstractAction::Execute()
{
    if (OnExecute)
        OnExecute(this);
}

void TCustomAbstractAction::SetHint(const QString &hint)
{
    setToolTip(hint);
    setStatusTip(hint);
}

QKeySequence TCustomAbstractAction::ShortCut() const
{
    return shortcut();
}

void TCustomAbstractAction::SetShortCut(const QKeySequence &key)
{
    QList<QKeySequence> keys = SecondaryShortcuts();
    keys.prepend(key);
    setShortcuts(keys);
}

QList<QKeySequence> TCustomAbstractAction::SecondaryShortcuts() const
{
    QList<QKeySequence> keys = shortcuts();
    if (!keys.isEmpty())
        keys.removeFirst();
    return keys;
}

void TCustomAbstractAction::SetSecondaryShortcuts(const QList<QKeySequence> &keys)
{
    QList<QKeySequence> all = keys;
    all.prepend(ShortCut());
    // A lone empty primary key means no shortcut at all.
    if (all.size() == 1 && all.first().isEmpty())
        all.clear();
    setShortcuts(all);
}

void TCustomAbstractAction::SetCheckedState(bool v)
{
    if (v)
        setCheckable(true);
    setChecked(v);
}

void TCustomAbstractAction::SetImageIndex(int index)
{
    if (index == FImageIndex)
        return;
    FImageIndex = index;
    RefreshImage();
    if (FActionList && OnImageChanged)
        OnImageChanged(FActionList->Images, index);
}

void TCustomAbstractAction::RefreshImage()
{
    setIcon(FActionList && FActionList->Images ? FActionList->Images->Icon(FImageIndex) : QIcon());
}

void TCustomAbstractAction::SetActionList(TCustomKWActionList *list)
{
    if (FActionList == list)
        return;
    if (FActionList)
        FActionList->RemoveAction(this);
    FActionList = list;
    if (list)
        list->AddAction(this);
    RefreshImage();
}

void TCustomAbstractAction::ClearBindings()
{
    Category.clear();
    ScriptName.clear();
    setShortcuts({});
}

QString TCustomAbstractAction::VariablesOr(const QString &fallback) const
{
    return Variables.isEmpty() ? fallback : Variables;
}

TCustomAbstractAction::MacroStep::MacroStep(const std::function<QString()> &line, bool write)
{
    if (!MacroRecorder || MacroLineOpen)
        return;
    if (write)
        MacroRecorder->Add(QStringLiteral("    ") + line());
    MacroLineOpen = true;
    FOpened = true;
}

TCustomAbstractAction::MacroStep::~MacroStep()
{
    if (FOpened)
        MacroLineOpen = false;
}

// ---------------------------------------------------------------------------
// TNopeAction

bool TNopeAction::RegisterInScript(TPSScript *script)
{
    if (!script || ScriptName.isEmpty())
        return false;
    QString decl;
    GetScriptDeclaration(decl);
    QPointer<TNopeAction> self(this);
    return script->AddMethod(decl, [self](const QVariantList &) -> QVariant {
        if (self)
            self->Apply();
        return {};
    });
}

void TNopeAction::ExecutePrepared()
{
    if (OnPrepare && !OnPrepare())
        return;
    if (InternalPrepare && !InternalPrepare())
        return;
    Apply();
}

void TNopeAction::GetScriptDeclaration(QString &text)
{
    text = QStringLiteral("procedure ") + ScriptName + QLatin1Char(';');
}

void TNopeAction::GetSwitchSyntax(QString &text)
{
    text = QLatin1Char('/') + Switch;
}

void TNopeAction::ClearBindings()
{
    TAbstractAction::ClearBindings();
    InternalPrepare = nullptr;
    InternalApply = nullptr;
    InternalBeforeSave = nullptr;
}

void TNopeAction::SetValueFromText(const QString &)
{
    Apply();
}

void TNopeAction::Apply()
{
    // A command without a script name (the macro buttons) is never recorded.
    std::optional<MacroStep> step;
    if (!ScriptName.isEmpty())
        step.emplace([this] { return ScriptName + QLatin1Char(';'); });
    if (OnBeforeApply)
        OnBeforeApply();
    if (InternalApply)
        InternalApply();
    if (OnAfterApply)
        OnAfterApply();
}

bool TNopeAction::LoadFromPrefs(TVostrelPreferences *)
{
    try {
        if (ApplyWhenLoad)
            Apply();
        return true;
    } catch (...) {
        return false;
    }
}

bool TNopeAction::SaveToPrefs(TVostrelPreferences *)
{
    try {
        if (BeforeSave)
            BeforeSave();
        if (InternalBeforeSave)
            InternalBeforeSave();
        return true;
    } catch (...) {
        return false;
    }
}

// ---------------------------------------------------------------------------
// Value kinds

namespace {
int32_t ArgInt(const QVariantList &args, int i)
{
    return static_cast<int32_t>(static_cast<uint32_t>(args.value(i).toLongLong()));
}
}  // namespace

void TBooleanAction::SetValueFromText(const QString &text)
{
    SetValue(BooleanFromText(text));
}

QString TBooleanAction::RecordedLine() const
{
    return CallLine(BooleanText(FValue));
}

void TBooleanAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadBool(ScriptName, FDefault);
}

bool TBooleanAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteBool(ScriptName, FValue);
}

void TBooleanAction::ScriptCall(const QVariantList &args)
{
    SetValue(args.value(0).toBool());
}

void TIntegerAction::SetValueFromText(const QString &text)
{
    SetValue(IntegerFromText(text));
}

QString TIntegerAction::RecordedLine() const
{
    return CallLine(QString::number(FValue));
}

void TIntegerAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadInteger(ScriptName, FDefault);
}

bool TIntegerAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteInteger(ScriptName, FValue);
}

void TIntegerAction::ScriptCall(const QVariantList &args)
{
    SetValue(ArgInt(args, 0));
}

void TWidestringAction::SetValueFromText(const QString &text)
{
    SetValue(text);
}

QString TWidestringAction::RecordedLine() const
{
    return CallLine(QuotedString(FValue));
}

void TWidestringAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadWideString(ScriptName, FDefault);
}

bool TWidestringAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteWideString(ScriptName, FValue);
}

void TWidestringAction::ScriptCall(const QVariantList &args)
{
    SetValue(args.value(0).toString());
}

void TStringAction::SetValueFromText(const QString &text)
{
    SetValue(text.toLocal8Bit());
}

QString TStringAction::RecordedLine() const
{
    return CallLine(QuotedString(QString::fromLocal8Bit(FValue)));
}

void TStringAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadWideString(ScriptName, QString::fromLocal8Bit(FDefault)).toLocal8Bit();
}

bool TStringAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteWideString(ScriptName, QString::fromLocal8Bit(FValue));
}

void TStringAction::ScriptCall(const QVariantList &args)
{
    SetValue(args.value(0).toString().toLocal8Bit());
}

void TDoubleAction::SetValueFromText(const QString &text)
{
    SetValue(DoubleFromText(text));
}

QString TDoubleAction::RecordedLine() const
{
    return CallLine(FormatDouble(FValue));
}

void TDoubleAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadFloat(ScriptName, FDefault);
}

bool TDoubleAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteFloat(ScriptName, FValue);
}

void TDoubleAction::ScriptCall(const QVariantList &args)
{
    SetValue(args.value(0).toDouble());
}

void TColorAction::SetValueFromText(const QString &text)
{
    // A text that is no colour changes nothing and applies nothing.
    if (const auto color = ColorFromText(text))
        SetValue(*color);
}

QString TColorAction::RecordedLine() const
{
    return CallLine(ColorHex(FValue));
}

void TColorAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadInteger(ScriptName, FDefault);
}

bool TColorAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteInteger(ScriptName, FValue);
}

void TColorAction::ScriptCall(const QVariantList &args)
{
    SetValue(ArgInt(args, 0));
}

void TFontAction::SetValue(const QString &name, int size, TColor color, bool bold, bool italic,
                           bool underline, bool strikeout)
{
    TFont font;
    font.Name = name;
    font.Size = size;
    font.Color = color;
    font.Style = (bold ? fsBold : 0) | (italic ? fsItalic : 0) | (underline ? fsUnderline : 0) |
                 (strikeout ? fsStrikeOut : 0);
    SetValue(font);
}

void TFontAction::SetValueFromText(const QString &)
{
}

void TFontAction::GetScriptDeclaration(QString &text)
{
    text = QStringLiteral("procedure ") + ScriptName +
           QStringLiteral("(aName:widestring;aSize:integer;aColor:TColor;isBold:Boolean;"
                          "isItalic:Boolean;isUnderline:Boolean;isStrikeOut:Boolean);");
}

QString TFontAction::RecordedLine() const
{
    const QString sep = QStringLiteral(", ");
    return CallLine(QuotedString(FValue.Name) + sep + QString::number(FValue.Size) + sep +
                    ColorHex(FValue.Color) + sep + BooleanText(FValue.Style & fsBold) + sep +
                    BooleanText(FValue.Style & fsItalic) + sep +
                    BooleanText(FValue.Style & fsUnderline) + sep +
                    BooleanText(FValue.Style & fsStrikeOut));
}

void TFontAction::ReadValue(TVostrelPreferences *gp)
{
    gp->ReadFont(ScriptName, FDefault, FValue);
}

bool TFontAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteFont(ScriptName, FValue);
}

void TFontAction::ScriptCall(const QVariantList &args)
{
    SetValue(args.value(0).toString(), ArgInt(args, 1), ArgInt(args, 2), args.value(3).toBool(),
             args.value(4).toBool(), args.value(5).toBool(), args.value(6).toBool());
}

void TPointAction::SetValueFromText(const QString &text)
{
    if (const auto p = PointFromText(text))
        SetValue(*p);
}

QString TPointAction::RecordedLine() const
{
    return CallLine(QString::number(FValue.X) + QLatin1Char(',') + QString::number(FValue.Y));
}

void TPointAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadPoint(ScriptName, FDefault);
}

bool TPointAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WritePoint(ScriptName, FValue);
}

void TPointAction::ScriptCall(const QVariantList &args)
{
    SetValue(ArgInt(args, 0), ArgInt(args, 1));
}

void TRectAction::SetValueFromText(const QString &text)
{
    if (const auto r = RectFromText(text))
        SetValue(*r);
}

QString TRectAction::RecordedLine() const
{
    const QChar c(QLatin1Char(','));
    return CallLine(QString::number(FValue.Left) + c + QString::number(FValue.Right) + c +
                    QString::number(FValue.Top) + c + QString::number(FValue.Bottom));
}

void TRectAction::ReadValue(TVostrelPreferences *gp)
{
    FValue = gp->ReadRect(ScriptName, FDefault);
}

bool TRectAction::WriteValue(TVostrelPreferences *gp)
{
    return gp->WriteRect(ScriptName, FValue);
}

void TRectAction::ScriptCall(const QVariantList &args)
{
    SetValue(ArgInt(args, 0), ArgInt(args, 1), ArgInt(args, 2), ArgInt(args, 3));
}

// ---------------------------------------------------------------------------
// TCheckAction

TCheckAction::TCheckAction(QObject *owner) : TCustomAbstractAction(owner)
{
    setCheckable(true);
}

TCheckAction::TCheckAction(const QString &internalId, TCustomKWActionList *list)
    : TCustomAbstractAction(internalId, list)
{
    setCheckable(true);
}

void TCheckAction::SetChecked(bool v)
{
    setChecked(v);
    // The script window's own toggle is never written into the macro it shows.
    MacroStep step(
        [this] {
            return QStringLiteral("set") + ScriptName + QLatin1Char('(') + BooleanText(Checked()) +
                   QStringLiteral(");");
        },
        ScriptName != QLatin1String("Script"));
    Apply();
}

void TCheckAction::SetDefaultValue(bool v)
{
    FDefault = v;
    setChecked(v);
    ShowState();
}

void TCheckAction::ShowState()
{
    const bool on = Checked();
    SetCaption(on ? TrueCaption : FalseCaption);
    SetHint(on ? TrueHint : FalseHint);
    SetImageIndex(on ? TrueImageIndex : FalseImageIndex);
}

void TCheckAction::Apply()
{
    if (Checked()) {
        if (OnBeforeTrueApply)
            OnBeforeTrueApply();
        if (InternalTrueApply)
            InternalTrueApply();
        if (OnAfterTrueApply)
            OnAfterTrueApply();
    } else {
        if (OnBeforeFalseApply)
            OnBeforeFalseApply();
        if (InternalFalseApply)
            InternalFalseApply();
        if (OnAfterFalseApply)
            OnAfterFalseApply();
    }
    ShowState();
}

bool TCheckAction::RegisterInScript(TPSScript *script)
{
    if (!script || ScriptName.isEmpty())
        return false;
    QPointer<TCheckAction> self(this);
    const bool setter = script->AddMethod(
        QStringLiteral("procedure set") + ScriptName + QStringLiteral("(const aBoolean:Boolean);"),
        [self](const QVariantList &args) -> QVariant {
            if (self)
                self->SetChecked(args.value(0).toBool());
            return {};
        });
    const bool toggle = script->AddMethod(QStringLiteral("procedure ") + ScriptName + QLatin1Char(';'),
                                          [self](const QVariantList &) -> QVariant {
                                              if (self)
                                                  self->Toggle();
                                              return {};
                                          });
    return setter && toggle;
}

void TCheckAction::ExecutePrepared()
{
    if (OnPrepare && !OnPrepare())
        return;
    if (InternalPrepare && !InternalPrepare())
        return;
    Toggle();
}

void TCheckAction::GetScriptDeclaration(QString &text)
{
    text = QStringLiteral("procedure set") + ScriptName + QStringLiteral("(const ") +
           VariablesOr(QStringLiteral("fisTrue")) + QStringLiteral(":Boolean);") + QLatin1Char('\n') +
           QStringLiteral("procedure ") + ScriptName + QLatin1Char(';');
}

void TCheckAction::GetSwitchSyntax(QString &text)
{
    text = QLatin1Char('/') + Switch + QStringLiteral(" +") + Switch + QStringLiteral(" -") + Switch;
}

void TCheckAction::ClearBindings()
{
    TCustomAbstractAction::ClearBindings();
    InternalPrepare = nullptr;
    InternalDefault = nullptr;
    InternalBeforeSave = nullptr;
    InternalTrueApply = nullptr;
    InternalFalseApply = nullptr;
}

void TCheckAction::SetValueFromText(const QString &text)
{
    SetChecked(BooleanFromText(text));
}

bool TCheckAction::LoadFromPrefs(TVostrelPreferences *gp)
{
    try {
        if (OnDefault)
            OnDefault(FDefault);
        if (InternalDefault)
            InternalDefault(FDefault);
        setChecked(gp->ReadBool(ScriptName, FDefault));
        ShowState();
        if (ApplyWhenLoad)
            Apply();
        return true;
    } catch (...) {
        return false;
    }
}

bool TCheckAction::SaveToPrefs(TVostrelPreferences *gp)
{
    try {
        bool copy = Checked();
        if (BeforeSave)
            BeforeSave(copy);
        if (InternalBeforeSave)
            InternalBeforeSave(copy);
        return gp->WriteBool(ScriptName, copy);
    } catch (...) {
        return false;
    }
}

// ---------------------------------------------------------------------------
// TCustomKWActionList

// The engine keeps one compile handler; each list that links installs a hook
// that calls the handler it found, then registers its own actions. The hook
// shares this link with the list, so a list that unlinks or dies while later
// lists are chained after it is skipped instead of cutting them off.
struct TCustomKWActionList::CompileLink {
    TPSEvent previous;
    QPointer<TCustomKWActionList> list;
    bool active = true;
};

struct TCustomKWActionList::CompileHook {
    std::shared_ptr<CompileLink> link;
    void operator()(TPSScript *sender) const
    {
        if (link->previous)
            link->previous(sender);
        if (link->active && link->list)
            link->list->RegisterActions(sender);
    }
};

TCustomKWActionList::TCustomKWActionList(QObject *owner) : QObject(owner)
{
}

TCustomKWActionList::~TCustomKWActionList()
{
    SetPascalScript(nullptr);
    SetSwitch(nullptr);
    // Detaching an action removes it from FActions, so walk a copy taken out first.
    const QList<QAction *> actions = std::exchange(FActions, {});
    for (QAction *a : actions)
        if (auto *typed = dynamic_cast<TCustomAbstractAction *>(a))
            typed->SetActionList(nullptr);
}

QList<TCustomAbstractAction *> TCustomKWActionList::TypedActions() const
{
    QList<TCustomAbstractAction *> result;
    for (QAction *a : FActions)
        if (auto *typed = dynamic_cast<TCustomAbstractAction *>(a))
            result << typed;
    return result;
}

void TCustomKWActionList::AddAction(QAction *action)
{
    if (action && !FActions.contains(action))
        FActions << action;
}

void TCustomKWActionList::RemoveAction(QAction *action)
{
    FActions.removeAll(action);
}

TCustomAbstractAction *TCustomKWActionList::FindByInternalId(const QString &id) const
{
    for (TCustomAbstractAction *a : TypedActions())
        if (a->InternalId == id)
            return a;
    return nullptr;
}

bool TCustomKWActionList::LoadFromPrefs(TVostrelPreferences *gp)
{
    bool result = true;
    try {
        for (TCustomAbstractAction *a : TypedActions())
            if (a->IncludePrefs && !a->LoadFromPrefs(gp))
                result = false;
        if (OnLoadFromPrefs && !OnLoadFromPrefs(gp))
            result = false;
    } catch (...) {
        // The pass ends with what it gathered so far.
    }
    return result;
}

bool TCustomKWActionList::SaveToPrefs(TVostrelPreferences *gp)
{
    bool result = true;
    try {
        for (TCustomAbstractAction *a : TypedActions())
            if (a->IncludePrefs && !a->SaveToPrefs(gp))
                result = false;
        if (OnSaveToPrefs && !OnSaveToPrefs(gp))
            result = false;
    } catch (...) {
    }
    return result;
}

void TCustomKWActionList::RegisterActions(TPSScript *script)
{
    // A refusal (a name another list took first) is ignored.
    for (TCustomAbstractAction *a : TypedActions())
        a->RegisterInScript(script);
}

TPSEvent TCustomKWActionList::PreviousOnCompile() const
{
    return FLink ? FLink->previous : TPSEvent();
}

void TCustomKWActionList::UnlinkScript()
{
    if (!FLink)
        return;
    if (FPascalScript) {
        disconnect(FScriptWatch);
        const auto *top = FPascalScript->OnCompile.target<CompileHook>();
        if (top && top->link == FLink)
            FPascalScript->OnCompile = FLink->previous;  // we are last: give it back
        else
            FLink->active = false;  // later lists chained after us keep their place
    }
    FLink.reset();
    FPascalScript = nullptr;
}

void TCustomKWActionList::SetPascalScript(TPSScript *script)
{
    if (script == FPascalScript && (script == nullptr || FLink))
        return;
    UnlinkScript();
    if (!script)
        return;
    FLink = std::make_shared<CompileLink>();
    FLink->previous = script->OnCompile;
    FLink->list = this;
    script->OnCompile = CompileHook{FLink};
    FPascalScript = script;
    FScriptWatch = connect(script, &QObject::destroyed, this, [this] {
        FLink.reset();
        FPascalScript = nullptr;
    });
}

void TCustomKWActionList::SetSwitch(TCustomKWSwitch *sw)
{
    if (sw == FSwitch)
        return;
    if (FSwitch) {
        disconnect(FSwitchWatch);
        FSwitch->UnregisterList(this);
    }
    FSwitch = sw;
    if (sw) {
        sw->RegisterList(this);
        FSwitchWatch = connect(sw, &QObject::destroyed, this, [this] { FSwitch = nullptr; });
    }
}
