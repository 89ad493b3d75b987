#include "uWndComponent.h"

TKWActionComponent::TKWActionComponent(QObject *owner) : TCustomKWActionList(owner)
{
    FMessageWindow = AllocateHWnd([this](TMessage &message) { WndProc(message); });
}

TKWActionComponent::~TKWActionComponent()
{
    // The window goes before the list, so no late message reaches a half-gone
    // component.
    DeallocateHWnd(FMessageWindow);
    FMessageWindow = 0;
}

void TKWActionComponent::AfterConstruction()
{
    CreateActions();
    BindActions();
}

void TKWActionComponent::Loaded()
{
    LocateActions();
    BindActions();
}

void TKWActionComponent::WndProc(TMessage &message)
{
    message.Result = 0;  // default handling: nothing to do
}
