#include "extraireunit.h"

#include "mainNaming.h"

#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>

namespace {

constexpr int kPanelWidth = 276;
constexpr int kThumbMargin = 12;
constexpr int kLabelHeight = 16;
const QColor kSavedColor(192, 220, 192);

QLabel *NewLabel(QWidget *parent, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QFrame *NewBevel(QWidget *parent, const char *name, QFrame::Shape shape)
{
    auto *f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setFrameShape(shape);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

}  // namespace

const QString TExtraireFrame::NotSavedHint =
    QStringLiteral("This picture has not yet been saved\r\nClick on this label to save it");
const QString TExtraireFrame::SavedHint = QStringLiteral("This picture has already been saved");

TExtraireFrame::TExtraireFrame(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ExtraireFrame"));
    setProperty("TFrame", true);
    resize(kPanelWidth, 400);

    UpperBevel = NewBevel(this, "UpperBevel", QFrame::HLine);
    PlaceholderBevel = NewBevel(this, "PlaceholderBevel", QFrame::Box);
    Image = NewLabel(this, "Image");
    Image->setScaledContents(true);
    Image->setCursor(Qt::PointingHandCursor);
    Image->setToolTip(QStringLiteral("Click on the picture to go back to its position"));
    SnapLab = NewLabel(this, "SnapLab");
    labImagetteTaille = NewLabel(this, "labImagetteTaille");
    labsnapname = NewLabel(this, "labsnapname");
    labsnapname->setAlignment(Qt::AlignCenter);
    Image->installEventFilter(this);
    labsnapname->installEventFilter(this);

    LayoutThumbnail(ThumbnailBox(4, 3));
    Clear();
}

QRect TExtraireFrame::ThumbnailBox(int32_t a, int32_t b) const
{
    return AspectFit(a, b, QRect(QPoint(0, 0), size()), kThumbMargin);
}

void TExtraireFrame::LayoutThumbnail(const QRect &box)
{
    Image->setGeometry(box);
    labsnapname->setGeometry(box.left(), box.top() + box.height(), box.width(), kLabelHeight + 4);
    SnapLab->setGeometry(box.left(), box.top() - 34, box.width(), kLabelHeight);
    UpperBevel->setGeometry(kThumbMargin, box.top() - 42, width() - 2 * kThumbMargin, 2);
    labImagetteTaille->setGeometry(box.left(), box.top() - 12, box.width(), 12);
    PlaceholderBevel->setGeometry(box);
}

void TExtraireFrame::ShowSnapshot(const QImage &snapshot, const QString &position, const QString &imageName)
{
    Image->setPixmap(QPixmap::fromImage(snapshot));
    labImagetteTaille->setText(QStringLiteral("%1 x %2").arg(snapshot.width()).arg(snapshot.height()));
    SnapLab->setText(position);
    labsnapname->setText(QFileInfo(imageName).fileName());
    ShowNameState(TSnapshotState::NotSaved);
}

void TExtraireFrame::MarkSaved()
{
    if (FState != TSnapshotState::Empty)
        ShowNameState(TSnapshotState::Saved);
}

void TExtraireFrame::Clear()
{
    Image->clear();
    labImagetteTaille->clear();
    labsnapname->clear();
    SnapLab->clear();
    ShowNameState(TSnapshotState::Empty);
    PlaceholderBevel->show();
    PlaceholderBevel->raise();
}

void TExtraireFrame::HidePlaceholder()
{
    PlaceholderBevel->hide();
}

void TExtraireFrame::ShowNameState(TSnapshotState state)
{
    FState = state;
    QPalette pal = labsnapname->palette();
    switch (state) {
    case TSnapshotState::Empty:
        labsnapname->setFrameShape(QFrame::NoFrame);
        labsnapname->setAutoFillBackground(false);
        labsnapname->setToolTip(QString());
        labsnapname->unsetCursor();
        return;
    case TSnapshotState::NotSaved:
        pal.setColor(QPalette::Window, palette().color(QPalette::Button));
        labsnapname->setToolTip(NotSavedHint);
        labsnapname->setCursor(Qt::PointingHandCursor);
        break;
    case TSnapshotState::Saved:
        pal.setColor(QPalette::Window, kSavedColor);
        labsnapname->setToolTip(SavedHint);
        labsnapname->unsetCursor();
        break;
    }
    labsnapname->setPalette(pal);
    labsnapname->setAutoFillBackground(true);
    // Outlined like a button: the button face alone may be the panel's colour.
    labsnapname->setFrameShape(QFrame::StyledPanel);
}

// A click is a left-button release over the control, as a button has it.
bool TExtraireFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    const auto *me = static_cast<QMouseEvent *>(event);
    auto *w = qobject_cast<QWidget *>(watched);
    if (!w || me->button() != Qt::LeftButton || !w->rect().contains(me->position().toPoint()))
        return QWidget::eventFilter(watched, event);
    if (watched == labsnapname && FState != TSnapshotState::Empty && OnSaveClick)
        OnSaveClick();
    else if (watched == Image && !SnapLab->text().isEmpty() && OnPositionClick)
        OnPositionClick(SnapLab->text());
    return QWidget::eventFilter(watched, event);
}
