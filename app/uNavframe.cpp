#include "app/uNavframe.h"

#include "KWPack/uAudioMan.h"
#include "KWPack/uNavMan.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QSlider>

namespace {

enum Glyph { gFrame, gSecond, gMinute, gEnd, gPlay, gPause };

constexpr int kButton = 30;
constexpr int kGlyph = 20;

QPainterPath Triangle(qreal x, qreal w)
{
    QPainterPath p;
    p.moveTo(x, 4);
    p.lineTo(x + w, kGlyph / 2.0);
    p.lineTo(x, kGlyph - 4);
    p.closeSubpath();
    return p;
}

// Our own pictures for the buttons, drawn forward and mirrored for backward:
// a triangle and a bar for a frame, one triangle for a second, two for a
// minute, two and a bar for the end.
QIcon DrawnGlyph(int glyph, bool forward)
{
    QImage img(kGlyph, kGlyph, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x30, 0x60));
    switch (glyph) {
    case gFrame:
        p.drawPath(Triangle(5, 8));
        p.drawRect(QRectF(14, 4, 2.5, kGlyph - 8));
        break;
    case gSecond: p.drawPath(Triangle(6, 9)); break;
    case gMinute:
        p.drawPath(Triangle(2, 8));
        p.drawPath(Triangle(10, 8));
        break;
    case gEnd:
        p.drawPath(Triangle(1, 7));
        p.drawPath(Triangle(8, 7));
        p.drawRect(QRectF(15.5, 4, 2.5, kGlyph - 8));
        break;
    case gPlay: p.drawPath(Triangle(5, 11)); break;
    case gPause:
        p.drawRect(QRectF(5, 4, 3.5, kGlyph - 8));
        p.drawRect(QRectF(11.5, 4, 3.5, kGlyph - 8));
        break;
    }
    p.end();
    return QIcon(QPixmap::fromImage(forward ? img : img.mirrored(true, false)));
}

QIcon PlayGlyph(bool playing)
{
    return playing ? QIcon::fromTheme(QStringLiteral("media-playback-pause"), DrawnGlyph(gPause, true))
                   : QIcon::fromTheme(QStringLiteral("media-playback-start"), DrawnGlyph(gPlay, true));
}

}  // namespace

// ---------------------------------------------------------------------------
// TNavButton

void TNavButton::mouseReleaseEvent(QMouseEvent *e)
{
    FModifiers = e->modifiers();
    QToolButton::mouseReleaseEvent(e);  // reports the click
    FModifiers = Qt::NoModifier;
}

void TNavButton::keyReleaseEvent(QKeyEvent *e)
{
    FModifiers = e->modifiers();
    QToolButton::keyReleaseEvent(e);
    FModifiers = Qt::NoModifier;
}

// ---------------------------------------------------------------------------
// Tnavframe

Tnavframe::Tnavframe(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("navframe"));
    setProperty("TFrame", true);
    CreateControls();
    resize(620, 62);
}

TNavButton *Tnavframe::NewStep(const QString &name, int glyph, bool forward)
{
    auto *b = new TNavButton(this);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setIconSize(QSize(kGlyph, kGlyph));
    const QString theme = glyph == gEnd ? (forward ? QStringLiteral("media-skip-forward")
                                                   : QStringLiteral("media-skip-backward"))
                                        : QString();
    b->setIcon(theme.isEmpty() ? DrawnGlyph(glyph, forward) : QIcon::fromTheme(theme, DrawnGlyph(glyph, forward)));
    b->setEnabled(false);  // until bound
    connect(b, &QToolButton::clicked, this, [this, b] {
        for (const Step &s : FSteps)
            if (s.button == b)
                StepClicked(s);
    });
    return b;
}

void Tnavframe::CreateControls()
{
    tb = new QSlider(Qt::Horizontal, this);
    tb->setObjectName(QStringLiteral("tb"));
    btDebut = NewStep(QStringLiteral("btDebut"), gEnd, false);
    btReculeMinute = NewStep(QStringLiteral("btReculeMinute"), gMinute, false);
    btReculeSeconde = NewStep(QStringLiteral("btReculeSeconde"), gSecond, false);
    btReculeFrame = NewStep(QStringLiteral("btReculeFrame"), gFrame, false);
    btPlay = new QToolButton(this);
    btPlay->setObjectName(QStringLiteral("btPlay"));
    btPlay->setIconSize(QSize(kGlyph, kGlyph));
    btPlay->setIcon(PlayGlyph(false));
    btPlay->setEnabled(false);
    connect(btPlay, &QToolButton::clicked, this, [this] {
        if (FPlay)
            FPlay->Execute();
    });
    btAvanceFrame = NewStep(QStringLiteral("btAvanceFrame"), gFrame, true);
    btAvanceSeconde = NewStep(QStringLiteral("btAvanceSeconde"), gSecond, true);
    btAvanceMinute = NewStep(QStringLiteral("btAvanceMinute"), gMinute, true);
    btFin = NewStep(QStringLiteral("btFin"), gEnd, true);
    CurrentEdit = new QLineEdit(QStringLiteral("0:00:00:00"), this);
    CurrentEdit->setObjectName(QStringLiteral("CurrentEdit"));
    CurrentEdit->setAlignment(Qt::AlignCenter);
    DureeLab = new QLabel(QStringLiteral("0:00:00:00"), this);
    DureeLab->setObjectName(QStringLiteral("DureeLab"));
    DureeLab->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    DureeLab->setToolTip(QStringLiteral("Duration"));
    gaugeVolume = new QProgressBar(this);
    gaugeVolume->setObjectName(QStringLiteral("gaugeVolume"));
    gaugeVolume->setRange(0, 10000);
    gaugeVolume->setValue(5000);
    gaugeVolume->setFormat(QStringLiteral("Volume %p%"));
    gaugeVolume->setAlignment(Qt::AlignCenter);
}

void Tnavframe::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    Layout();
}

// The slider across the top; under it the buttons from the left, then the
// position, the duration, and the volume at the right edge.
void Tnavframe::Layout()
{
    tb->setGeometry(4, 2, width() - 8, 22);
    int x = 4;
    for (QToolButton *b : {static_cast<QToolButton *>(btDebut), static_cast<QToolButton *>(btReculeMinute),
                           static_cast<QToolButton *>(btReculeSeconde), static_cast<QToolButton *>(btReculeFrame),
                           btPlay, static_cast<QToolButton *>(btAvanceFrame),
                           static_cast<QToolButton *>(btAvanceSeconde), static_cast<QToolButton *>(btAvanceMinute),
                           static_cast<QToolButton *>(btFin)}) {
        b->setGeometry(x, 28, kButton, kButton);
        x += kButton + 2;
    }
    x += 8;
    CurrentEdit->setGeometry(x, 31, 90, 24);
    DureeLab->setGeometry(x + 96, 31, 90, 24);
    gaugeVolume->setGeometry(std::max(x + 190, width() - 104), 33, 100, 20);
}

void Tnavframe::Bind(TNavMan *nav, TAudioMan *aud)
{
    FSteps.clear();
    if (nav) {
        BindStep(btDebut, nav->naReculeDebut, nav->naReculeTrack);
        BindStep(btReculeMinute, nav->naReculeMinute, nav->naRecule10Minutes);
        BindStep(btReculeSeconde, nav->naReculeSeconde, nav->naRecule10Secondes);
        BindStep(btReculeFrame, nav->naReculeFrame, nav->naRecule10Frames);
        BindStep(btAvanceFrame, nav->naAvanceFrame, nav->naAvance10Frames);
        BindStep(btAvanceSeconde, nav->naAvanceSeconde, nav->naAvance10Secondes);
        BindStep(btAvanceMinute, nav->naAvanceMinute, nav->naAvance10Minutes);
        BindStep(btFin, nav->naAvanceFin, nav->naAvanceTrack);
        nav->SetPositionEdit(CurrentEdit);
        nav->SetSlider(tb);
    }
    disconnect(FPlayLink);
    FPlay = nav ? nav->caPlay : nullptr;
    if (FPlay)
        FPlayLink = connect(FPlay, &QAction::changed, this, &Tnavframe::RefreshPlayButton);
    RefreshPlayButton();
    if (aud)
        aud->SetAudioGauge(gaugeVolume);
}

void Tnavframe::BindStep(TNavButton *button, TNopeAction *small, TNopeAction *large)
{
    FSteps.append(Step{button, small, large});
    button->setEnabled(small != nullptr);
    if (!small)
        return;
    QString tip = small->Hint();
    if (large)
        tip += QStringLiteral("\nShift: ") + large->Hint();
    button->setToolTip(tip);
    // The button follows its action being enabled or disabled.
    connect(small, &QAction::changed, button, [button, small] { button->setEnabled(small->isEnabled()); });
}

void Tnavframe::StepClicked(const Step &step)
{
    const bool shift = step.button->ClickModifiers().testFlag(Qt::ShiftModifier);
    TNopeAction *a = shift && step.large ? step.large.data() : step.small.data();
    if (a && a->isEnabled())
        a->Execute();
}

void Tnavframe::RefreshPlayButton()
{
    btPlay->setEnabled(FPlay && FPlay->isEnabled());
    if (!FPlay) {
        btPlay->setIcon(PlayGlyph(false));
        return;
    }
    btPlay->setIcon(FPlay->icon().isNull() ? PlayGlyph(FPlay->Checked()) : FPlay->icon());
    btPlay->setToolTip(FPlay->Hint());
}

void Tnavframe::ShowDuration(const QString &text)
{
    DureeLab->setText(text);
}
