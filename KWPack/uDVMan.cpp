#include "KWPack/uDVMan.h"

#include "KWPack/uMediaDevices.h"
#include "KWPack/uNotifier.h"

TDVMan::TDVMan(QObject *owner, TStateEvent onStateChange) : TGrapheMan(owner, std::move(onStateChange)) {}

TDVMan::~TDVMan()
{
    // The sources may outlive this manager: leave their notifiers quiet.
    SetDateSource(nullptr);
    SetTimeCodeSource(nullptr);
}

void TDVMan::SetDateSource(TavSource *source)
{
    if (FDateSource)
        FDateSource->StopDateCodes();
    FDateSource = source;
    if (!source)
        return;
    // The reporting notifier is the DV device's for a source behind one: it
    // makes the texts, so it gets the format too.
    for (TNotifier *notifier : {source->SourceNotifierObj(), source->ActiveNotifierObj()})
        if (notifier)
            notifier->SetDateFormat(DateFormat);
    source->StartDateCodes(MessageWindow());
}

void TDVMan::SetTimeCodeSource(TavSource *source)
{
    if (FTimeCodeSource)
        FTimeCodeSource->StopTimeCodes();
    FTimeCodeSource = source;
    if (source)
        source->StartTimeCodes(MessageWindow());
}

void TDVMan::SetSceneSource(TavSource *source)
{
    FSceneSource = source;
    if (source)
        source->SetSceneWindow(MessageWindow());
}

void TDVMan::ForgetSource(TavSource *source)
{
    if (!source)
        return;
    if (FDateSource == source)
        SetDateSource(nullptr);
    if (FTimeCodeSource == source)
        SetTimeCodeSource(nullptr);
    if (FSceneSource == source)
        SetSceneSource(nullptr);
}

void TDVMan::WndProc(TMessage &message)
{
    // Both carry a copy of the notifier's frame record, owned by the message.
    const auto *frame = reinterpret_cast<const TframeData *>(message.lParam);
    switch (message.Msg) {
    case WM_DV_DATECODE:
        if (OnDatecode && DateEvents && frame)
            OnDatecode(frame->DateValid ? frame->DateText : QString());
        break;
    case WM_DV_TIMECODE:
        if (OnTimecode && frame)
            OnTimecode(frame->TimeCodeText);
        break;
    default:
        TGrapheMan::WndProc(message);
    }
}
