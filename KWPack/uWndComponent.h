// TKWActionComponent: an action list that is also a component with a hidden
// message window, the base of every manager. Streaming threads reach a manager
// only through its window.
//
// UI thread only (the window's handler runs there). Two-phase construction:
// virtual calls do not reach a derived class from a C++ constructor, so create
// components with New<T>(...), which runs AfterConstruction.
#pragma once

#include "uScriptAction.h"

#include "platform/base/MessageWindow.h"

#include <utility>

class TKWActionComponent : public TCustomKWActionList {
    Q_OBJECT
public:
    explicit TKWActionComponent(QObject *owner = nullptr);
    ~TKWActionComponent() override;

    template <class T, class... Args>
    static T *New(Args &&...args)
    {
        T *component = new T(std::forward<Args>(args)...);
        component->AfterConstruction();
        return component;
    }

    HWND MessageWindow() const { return FMessageWindow; }

    // Without a stored description the component makes its actions itself,
    // then binds them.
    void AfterConstruction();
    // After the owner placed stored actions in the list: find them, bind them.
    void Loaded();

    virtual void WndProc(TMessage &message);
    virtual void BindActions() {}
    virtual void CreateActions() {}
    virtual void LocateActions() {}

    // A new action of this list, named and with its script name; the list
    // owns it. Components call it from CreateActions.
    template <class T>
    T *NewAction(const QString &name, const QString &scriptName)
    {
        auto *a = new T(name, this);
        a->SetName(name);
        a->ScriptName = scriptName;
        return a;
    }

    // Component reference to an action of the list, or null when missing.
    template <class T>
    T *Locate(const QString &internalId) const
    {
        return dynamic_cast<T *>(FindByInternalId(internalId));
    }

private:
    HWND FMessageWindow = 0;
};
