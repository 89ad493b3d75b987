// The last-snapshot panel: the snapshot's thumbnail, its position, its size
// and the name it is (or will be) saved under. The name label says whether it
// has been saved; clicking it saves, clicking the thumbnail goes back to the
// snapshot's position. What a click does is the window's (the hooks).
//
// UI thread only. The panel owns its controls and the thumbnail's pixmap.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>

class QFrame;
class QLabel;

enum class TSnapshotState { Empty, NotSaved, Saved };

class TExtraireFrame : public QWidget {
    Q_OBJECT
public:
    static const QString NotSavedHint;
    static const QString SavedHint;

    explicit TExtraireFrame(QWidget *parent = nullptr);

    // The thumbnail's box: the a:b aspect fitted into the panel with a 12
    // pixel margin.
    QRect ThumbnailBox(int32_t a, int32_t b) const;
    // Places the thumbnail in `box` and the labels and bevels around it.
    void LayoutThumbnail(const QRect &box);

    // A new snapshot, not saved yet: the picture, the position text it was
    // taken at and the full path it will be saved under.
    void ShowSnapshot(const QImage &snapshot, const QString &position, const QString &imageName);
    // The snapshot shown has been written.
    void MarkSaved();
    // No snapshot: everything cleared, the placeholder in front.
    void Clear();
    // The snapshot is on view: the placeholder goes behind.
    void HidePlaceholder();

    TSnapshotState State() const { return FState; }

    // A click on the name label while a snapshot is shown.
    std::function<void()> OnSaveClick;
    // A click on the thumbnail, with the snapshot's position text (not empty).
    std::function<void(const QString &position)> OnPositionClick;

    QLabel *Image = nullptr;
    QLabel *SnapLab = nullptr;
    QLabel *labsnapname = nullptr;
    QLabel *labImagetteTaille = nullptr;
    QFrame *UpperBevel = nullptr;
    QFrame *PlaceholderBevel = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ShowNameState(TSnapshotState state);

    TSnapshotState FState = TSnapshotState::Empty;
};
