// The navigation bar under the video: buttons that step back and forward by a
// frame, a second or a minute (with Shift: ten frames, ten seconds, ten
// minutes), the outer buttons to the start and the end (with Shift: the
// previous and the next scene), the play button, the position edit and
// slider that the navigation manager drives, the duration label and the
// volume gauge that the audio manager drives.
//
// Each button runs its navigation action, so a click does exactly what the
// shortcut, the menu, a script or a switch does.
//
// UI thread only. The bar owns its controls; the managers and their actions
// are borrowed and forgotten when they are destroyed.
#pragma once

#include <QPointer>
#include <QToolButton>
#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class TAudioMan;
class TCheckAction;
class TNavMan;
class TNopeAction;

// A tool button that remembers the keyboard modifiers of the click that
// triggered it (mouse or keyboard), so the bar can tell a Shift+click.
class TNavButton : public QToolButton {
    Q_OBJECT
public:
    using QToolButton::QToolButton;
    // The modifiers of the click being reported; none for a click() in code.
    Qt::KeyboardModifiers ClickModifiers() const { return FModifiers; }

protected:
    void mouseReleaseEvent(QMouseEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;

private:
    Qt::KeyboardModifiers FModifiers;
};

class Tnavframe : public QWidget {
    Q_OBJECT
public:
    explicit Tnavframe(QWidget *parent = nullptr);

    // Buttons run `nav`'s actions; the position edit and the slider go to
    // `nav`, the volume gauge to `aud` (either may be null).
    void Bind(TNavMan *nav, TAudioMan *aud);
    // The duration text (the navigation manager's OnDuration).
    void ShowDuration(const QString &text);
    // Shows caPlay's image on the play button, or our glyph when it has none.
    void RefreshPlayButton();

    TNavButton *btDebut = nullptr;  // start; Shift: previous scene
    TNavButton *btReculeMinute = nullptr;
    TNavButton *btReculeSeconde = nullptr;
    TNavButton *btReculeFrame = nullptr;
    QToolButton *btPlay = nullptr;
    TNavButton *btAvanceFrame = nullptr;
    TNavButton *btAvanceSeconde = nullptr;
    TNavButton *btAvanceMinute = nullptr;
    TNavButton *btFin = nullptr;  // end; Shift: next scene
    QLineEdit *CurrentEdit = nullptr;
    QSlider *tb = nullptr;
    QLabel *DureeLab = nullptr;
    QProgressBar *gaugeVolume = nullptr;

protected:
    void resizeEvent(QResizeEvent *e) override;

private:
    struct Step {
        TNavButton *button;
        QPointer<TNopeAction> small, large;
    };

    TNavButton *NewStep(const QString &name, int glyph, bool forward);
    void CreateControls();
    void StepClicked(const Step &step);
    void BindStep(TNavButton *button, TNopeAction *small, TNopeAction *large);
    void Layout();

    QList<Step> FSteps;
    QPointer<TCheckAction> FPlay;
    QMetaObject::Connection FPlayLink;
};
