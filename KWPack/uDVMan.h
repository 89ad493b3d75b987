// TDVMan: the layer of the graph manager that chooses which source reports
// DV recording dates and time codes, and turns those reports into events.
// Between TGrapheMan and the navigation manager, so the one graph manager of
// the main window is graph, DV manager and navigation at once.
//
// UI thread only. The stream notifiers post their date and time-code reports
// to this component's message window, each with its own copy of the record.
//
// Ownership: the three source slots are borrowed (the sources belong to their
// devices); whoever frees a source takes it out of the slots first (the video
// manager does when it disconnects). The snapshot bitmap is owned.
#pragma once

#include "KWPack/uGrapheMan.h"

#include <QImage>
#include <QString>

#include <functional>

class TavSource;

using TdatecodeEvent = std::function<void(const QString &aDateCodeStr)>;
using TTimeCodeEvent = std::function<void(const QString &aTimecodeStr)>;

class TDVMan : public TGrapheMan {
    Q_OBJECT
public:
    explicit TDVMan(QObject *owner = nullptr, TStateEvent onStateChange = {});
    ~TDVMan() override;

    // Stops date reports on the previous source; the new one's active
    // notifier reports to this window, with this manager's date format given
    // to the source's own notifier. Null clears the slot.
    void SetDateSource(TavSource *source);
    // Likewise with time-code reports.
    void SetTimeCodeSource(TavSource *source);
    // Records the source and gives its notifiers this window as scene window;
    // scene reporting itself is never switched on.
    void SetSceneSource(TavSource *source);
    TavSource *DateSource() const { return FDateSource; }
    TavSource *TimeCodeSource() const { return FTimeCodeSource; }
    TavSource *SceneSource() const { return FSceneSource; }
    // Empties every slot that holds `source`.
    void ForgetSource(TavSource *source);

    // FormatDateTime format given to the date source's notifier.
    QString DateFormat = QStringLiteral("dddddd - tt");
    // OnDatecode is raised only while this is on; off until the main window
    // decides to switch it on.
    bool DateEvents = false;

    // The bitmap the navigation manager's snapshot message hands out.
    QImage &Bitmap() { return FBitmap; }

    void WndProc(TMessage &message) override;

    TdatecodeEvent OnDatecode;
    TTimeCodeEvent OnTimecode;

private:
    TavSource *FDateSource = nullptr;
    TavSource *FTimeCodeSource = nullptr;
    TavSource *FSceneSource = nullptr;
    QImage FBitmap;
};
