#include "widgets/uAppliMan.h"

#include "KWPack/uKWSwitch.h"
#include "KWPack/uLinkEdit.h"
#include "KWPack/uScriptForm.h"
#include "widgets/uHelpForm.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

const QString TKWAppliMan::kCloseHint = QStringLiteral("Click to close that page\r\nand return to the application");

namespace {

void SetBackground(QWidget *w, TColor color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, ColorToQColor(color));
    pal.setColor(QPalette::Base, ColorToQColor(color));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

// Keeps `frame` centred in its panel; integer division rounds toward zero,
// so a frame larger than the panel gets small negative offsets.
void Centre(QWidget *panel, QWidget *frame)
{
    if (panel && frame && frame->parentWidget() == panel)
        frame->move((panel->width() - frame->width()) / 2, (panel->height() - frame->height()) / 2);
}

}  // namespace

// ---------------------------------------------------------------------------
// TAboutPanel

TAboutPanel::TAboutPanel(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("AboutFrame"));
    setProperty("TFrame", true);
    setFrameShape(QFrame::Box);
    SetBackground(this, clWindow);
    resize(520, 360);
    auto *box = new QVBoxLayout(this);
    box->setContentsMargins(24, 20, 24, 64);  // room for the close link below
    TitleLab = new QLabel(this);
    TitleLab->setObjectName(QStringLiteral("TitleLab"));
    TitleLab->setFont(TFont{QStringLiteral("Arial"), 18, clNavy, fsBold}.ToQFont());
    TitleLab->setAlignment(Qt::AlignCenter);
    QPalette pal = TitleLab->palette();
    pal.setColor(QPalette::WindowText, ColorToQColor(clNavy));
    TitleLab->setPalette(pal);
    AboutLab = new TLinkEdit(this);
    AboutLab->setObjectName(QStringLiteral("AboutLab"));
    AboutLab->setFrameShape(QFrame::NoFrame);
    AboutLab->setFont(TFont{QStringLiteral("Arial"), 10}.ToQFont());
    AboutLab->Alignment = TMarkupAlign::Center;
    AboutLab->UseInternalCursor = true;
    box->addWidget(TitleLab);
    box->addWidget(AboutLab, 1);
}

// ---------------------------------------------------------------------------
// TKWAppliMan

TKWAppliMan::TKWAppliMan(QObject *owner) : TKWActionComponent(owner)
{
    SetTexts();
    CreateWindows();
    FSwitch = new TKWSwitch(this);
    FSwitch->setObjectName(QStringLiteral("KWSwitch"));
}

TKWAppliMan::~TKWAppliMan()
{
    // The windows may be top-level (no widget owner): they go with us.
    if (FHelpForm)
        FHelpForm->removeEventFilter(this);
    delete FHelpForm.data();
    delete FScriptForm.data();
}

void TKWAppliMan::SetTexts()
{
    Version = QString::asprintf("%d.%d.%d", 6, 0, 0);
    Langue = QStringLiteral("en");
    AppTitle = QStringLiteral("Vidstill ") + Version + QLatin1Char(' ') + Langue;
    LastUpdate = QString::asprintf("%.2d/%.2d/%.4d", 28, 7, 2019);
}

void TKWAppliMan::CreateWindows()
{
    auto *ownerWidget = qobject_cast<QWidget *>(parent());
    FHelpForm = new THelpForm(ownerWidget);
    FHelpForm->setObjectName(QStringLiteral("HelpForm"));
    FHelpForm->installEventFilter(this);
    FScriptForm = new TScriptForm(ownerWidget);
    FScriptForm->OnClosed = [this] {
        if (caScript && caScript->Checked())
            caScript->SetChecked(false);
    };
}

TKWScript *TKWAppliMan::Script() const
{
    return FScriptForm ? FScriptForm->KWScript : nullptr;
}

// ---- Actions -----------------------------------------------------------------------

void TKWAppliMan::CreateActions()
{
    struct Check {
        TCheckAction **field;
        const char *name, *caption, *trueHint, *falseHint;
        QKeyCombination key;
    };
    const Check checks[] = {
        {&caScript, "caScript", "Script", "Display the scripts", "Hide the scripts", QKeyCombination(Qt::Key_F12)},
        {&caHelp, "caHelp", "Help", "Display Help", "Hide Help", QKeyCombination(Qt::Key_F1)},
        {&caAbout, "caAbout", "About", "Display About...", "Hide About...", QKeyCombination(Qt::Key_F11)},
        {&caOptions, "caOptions", "Settings", "Display the Options", "Hide the options",
         QKeyCombination(Qt::Key_F10)},
        {&caCustom, "caCustom", "Custom Frame", "", "", Qt::ALT | Qt::Key_F10},
    };
    for (const Check &c : checks) {
        const QString name = QString::fromLatin1(c.name);
        TCheckAction *a = NewAction<TCheckAction>(name, name.mid(2));
        // Not stored: a page or window remembered as shown would come back
        // checked but hidden (loading does not apply these).
        a->IncludePrefs = false;
        a->SetShortCut(QKeySequence(c.key));
        a->TrueHint = QString::fromLatin1(c.trueHint);
        a->FalseHint = QString::fromLatin1(c.falseHint);
        a->SetDefaultValue(false);
        *c.field = a;
    }
    struct Nope {
        TNopeAction **field;
        const char *name, *hint;
        QKeyCombination key;
    };
    const Nope nopes[] = {
        {&naQuit, "naQuit", "Quit Vidstill", Qt::ALT | Qt::Key_F4},
        {&naEMail, "naEMail", "Send a e-mail to Vostrel", Qt::ALT | Qt::Key_F5},
        {&naHomePage, "naHomePage", "Display the Homepage of Vidstill", Qt::ALT | Qt::Key_F6},
    };
    for (const Nope &n : nopes) {
        const QString name = QString::fromLatin1(n.name);
        *n.field = NewAction<TNopeAction>(name, name.mid(2));
        (*n.field)->SetHint(QString::fromLatin1(n.hint));
        (*n.field)->SetShortCut(QKeySequence(n.key));
    }
    raFormSave = NewAction<TRectAction>(QStringLiteral("raFormSave"), QStringLiteral("FormSave"));
    raFormSave->ApplyWhenLoad = true;  // the window comes back where it was
}

void TKWAppliMan::LocateActions()
{
    caScript = Locate<TCheckAction>(QStringLiteral("caScript"));
    caHelp = Locate<TCheckAction>(QStringLiteral("caHelp"));
    caAbout = Locate<TCheckAction>(QStringLiteral("caAbout"));
    caOptions = Locate<TCheckAction>(QStringLiteral("caOptions"));
    caCustom = Locate<TCheckAction>(QStringLiteral("caCustom"));
    naQuit = Locate<TNopeAction>(QStringLiteral("naQuit"));
    naEMail = Locate<TNopeAction>(QStringLiteral("naEMail"));
    naHomePage = Locate<TNopeAction>(QStringLiteral("naHomePage"));
    raFormSave = Locate<TRectAction>(QStringLiteral("raFormSave"));
}

void TKWAppliMan::BindActions()
{
    SetSwitch(FSwitch);
    SetPascalScript(Script());
    const struct {
        TCheckAction *a;
        const char *caption;
    } captions[] = {{caScript, "Script"}, {caHelp, "Help"},         {caAbout, "About"},
                    {caOptions, "Settings"}, {caCustom, "Custom Frame"}};
    for (const auto &c : captions)
        if (c.a) {
            c.a->TrueCaption = c.a->FalseCaption = QString::fromLatin1(c.caption);
            c.a->SetCaption(c.a->TrueCaption);
        }
    const struct {
        TNopeAction *a;
        const char *caption;
    } commands[] = {{naQuit, "Quit"}, {naEMail, "E-mail"}, {naHomePage, "Homepage"}};
    for (const auto &c : commands)
        if (c.a)
            c.a->SetCaption(QString::fromLatin1(c.caption));
    BindPages();
    BindCommands();
    BindFormSave();
}

void TKWAppliMan::BindPages()
{
    const QPointer<TKWAppliMan> self(this);
    if (caAbout) {
        caAbout->InternalTrueApply = [self] {
            if (!self)
                return;
            self->ClosePage(self->caOptions);
            self->ClosePage(self->caCustom);
            self->RebuildAboutTexts();
            self->ShowPage(self->FAboutPanel, self->FAboutFrame, true);
        };
        caAbout->InternalFalseApply = [self] {
            if (self)
                self->ShowPage(self->FAboutPanel, self->FAboutFrame, false);
        };
    }
    if (caOptions) {
        caOptions->InternalTrueApply = [self] {
            if (!self)
                return;
            self->ClosePage(self->caAbout);
            self->ClosePage(self->caCustom);
            self->ShowPage(self->FOptionsPanel, self->FOptionsFrame, true);
        };
        caOptions->InternalFalseApply = [self] {
            if (self)
                self->ShowPage(self->FOptionsPanel, self->FOptionsFrame, false);
        };
    }
    if (caCustom) {
        caCustom->InternalTrueApply = [self] {
            if (!self)
                return;
            self->ShowPage(self->FCustomPanel, self->FCustomFrame, true);
            self->ClosePage(self->caAbout);
            self->ClosePage(self->caOptions);
        };
        caCustom->InternalFalseApply = [self] {
            if (self)
                self->ShowPage(self->FCustomPanel, self->FCustomFrame, false);
        };
    }
}

void TKWAppliMan::BindCommands()
{
    const QPointer<TKWAppliMan> self(this);
    if (caScript) {
        caScript->InternalTrueApply = [self] {
            if (self && self->FScriptForm)
                self->FScriptForm->ShowScript();
        };
        caScript->InternalFalseApply = [self] {
            if (self && self->FScriptForm)
                self->FScriptForm->HideScript();
        };
    }
    if (caHelp) {
        caHelp->InternalTrueApply = [self] {
            if (!self || !self->FHelpForm)
                return;
            self->FHelpForm->show();
            self->FHelpForm->raise();
            self->FHelpForm->activateWindow();
        };
        caHelp->InternalFalseApply = [self] {
            if (self && self->FHelpForm)
                self->FHelpForm->hide();
        };
    }
    if (naQuit)
        naQuit->InternalApply = [self] {
            if (self && self->FWinControl)
                self->FWinControl->window()->close();
        };
    if (naEMail)
        naEMail->InternalApply = [self] {
            if (self)
                self->OpenUrl(self->MailText());
        };
    if (naHomePage)
        naHomePage->InternalApply = [self] {
            if (self)
                self->OpenUrl(self->HomePageText());
        };
}

void TKWAppliMan::BindFormSave()
{
    if (!raFormSave)
        return;
    const QPointer<TKWAppliMan> self(this);
    raFormSave->InternalDefault = [self](TRect &r) {
        if (self && self->FWinControl)
            r = self->CentredBounds();
        return true;
    };
    raFormSave->InternalBeforeSave = [self](TRect &r) {
        if (self && self->FWinControl)
            r = self->FormBounds();
        return true;
    };
    raFormSave->InternalApply = [self](const TRect &r) {
        if (self)
            self->SetFormBounds(r);
    };
}

// ---- Pages -------------------------------------------------------------------------

QWidget *TKWAppliMan::NewPanel(const QString &name, TColor color)
{
    auto *panel = new QWidget(FWinControl);
    panel->setObjectName(name);
    SetBackground(panel, color);
    panel->setGeometry(FWinControl->rect());
    panel->hide();
    panel->installEventFilter(this);
    return panel;
}

void TKWAppliMan::SetWinControl(QWidget *w)
{
    if (w == FWinControl)
        return;
    if (FWinControl)
        FWinControl->removeEventFilter(this);
    // Frames leave the old panels first, so they survive them.
    for (QWidget *frame : {FOptionsFrame.data(), FCustomFrame.data(), FAboutFrame.data()})
        if (frame)
            frame->setParent(nullptr);
    delete FOptionsPanel.data();
    delete FCustomPanel.data();
    delete FAboutPanel.data();
    FWinControl = w;
    if (!w)
        return;
    w->installEventFilter(this);
    FOptionsPanel = NewPanel(QStringLiteral("OptionsPanel"), clSilver);
    FCustomPanel = NewPanel(QStringLiteral("CustomPanel"), clSilver);
    FAboutPanel = NewPanel(QStringLiteral("AboutPanel"), clAppWorkSpace);
    PlaceFrames();
}

void TKWAppliMan::PlaceFrames()
{
    SetFrame(FOptionsFrame, FOptionsFrame, FOptionsPanel);
    SetFrame(FCustomFrame, FCustomFrame, FCustomPanel);
    SetFrame(FAboutFrame, FAboutFrame, FAboutPanel);
}

void TKWAppliMan::SetFrame(QPointer<QWidget> &field, QWidget *frame, QWidget *panel)
{
    field = frame;
    if (!frame || !panel)
        return;
    frame->setParent(panel);
    frame->installEventFilter(this);
    Centre(panel, frame);
    frame->show();
}

void TKWAppliMan::SetOptionsFrame(QWidget *frame)
{
    SetFrame(FOptionsFrame, frame, FOptionsPanel);
    if (!frame)
        return;
    if (!FOptionsClose)
        FOptionsClose = NewCloseLink(QStringLiteral("F10"), QStringLiteral("closeOptions"));
    PlaceCloseLink(FOptionsClose, frame);
    FOptionsClose->setVisible(FOptionsCloseVisible);
}

void TKWAppliMan::SetCustomFrame(QWidget *frame)
{
    SetFrame(FCustomFrame, frame, FCustomPanel);
}

void TKWAppliMan::SetAboutFrame(QWidget *frame)
{
    SetFrame(FAboutFrame, frame, FAboutPanel);
    if (!frame)
        return;
    if (!FAboutClose)
        FAboutClose = NewCloseLink(QStringLiteral("F11"), QStringLiteral("closeAbout"));
    PlaceCloseLink(FAboutClose, frame);
    FAboutClose->show();
}

void TKWAppliMan::SetOptionsCloseVisible(bool v)
{
    FOptionsCloseVisible = v;
    if (FOptionsClose)
        FOptionsClose->setVisible(v);
}

void TKWAppliMan::ShowPage(QWidget *panel, QWidget *frame, bool show)
{
    if (frame)
        frame->setVisible(show);
    if (!panel)
        return;
    panel->setVisible(show);
    if (show) {
        Centre(panel, frame);
        panel->raise();
    }
}

void TKWAppliMan::ClosePage(TCheckAction *a)
{
    if (a && a->Checked())
        a->SetChecked(false);
}

bool TKWAppliMan::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == FWinControl && type == QEvent::Resize) {
        for (QWidget *panel : {FOptionsPanel.data(), FCustomPanel.data(), FAboutPanel.data()})
            if (panel)
                panel->setGeometry(FWinControl->rect());
    } else if (type == QEvent::Resize) {
        // A panel or a frame changed size: the frame is centred again.
        const std::pair<QWidget *, QWidget *> pages[] = {
            {FOptionsPanel, FOptionsFrame}, {FCustomPanel, FCustomFrame}, {FAboutPanel, FAboutFrame}};
        for (const auto &[panel, frame] : pages)
            if (watched == panel || watched == frame)
                Centre(panel, frame);
        if (watched == FOptionsFrame)
            PlaceCloseLink(FOptionsClose, FOptionsFrame);
        if (watched == FAboutFrame)
            PlaceCloseLink(FAboutClose, FAboutFrame);
    } else if (type == QEvent::Close && qobject_cast<THelpForm *>(watched)) {
        // qobject_cast: a help window being destroyed is no THelpForm any more.
        if (caHelp && caHelp->Checked())
            caHelp->SetChecked(false);
    }
    return TKWActionComponent::eventFilter(watched, event);
}

// ---- Close links -------------------------------------------------------------------

QString TKWAppliMan::CloseText(const QString &key, const QString &link)
{
    return QStringLiteral("Type %1 to close this page or <link %2>click here</link>.").arg(key, link);
}

TLinkEdit *TKWAppliMan::NewCloseLink(const QString &key, const QString &link)
{
    auto *label = new TLinkEdit;
    label->setObjectName(link + QStringLiteral("Lab"));
    label->setFrameShape(QFrame::NoFrame);
    label->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    label->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    label->setReadOnly(true);
    label->setFont(TFont{QStringLiteral("Arial"), 8, clMaroon, fsBold | fsItalic}.ToQFont());
    label->FontColor = clMaroon;
    label->UseInternalCursor = true;
    label->OnCustomLinkHint = [](const QString &, QString &hint) { hint = kCloseHint; };
    const QPointer<TKWAppliMan> self(this);
    label->OnCustomLinkClick = [self](const QString &target) {
        if (self)
            self->LinkClicked(target);
    };
    label->SetRichText(CloseText(key, link));
    return label;
}

void TKWAppliMan::PlaceCloseLink(TLinkEdit *label, QWidget *frame)
{
    if (!label || !frame)
        return;
    if (label->parentWidget() != frame) {
        const bool visible = label->isVisibleTo(label->parentWidget()) || !label->parentWidget();
        label->setParent(frame);
        label->setVisible(visible);
    }
    // Takes its parent's colour.
    QPalette pal = label->palette();
    pal.setColor(QPalette::Base, frame->palette().color(frame->backgroundRole()));
    label->setPalette(pal);
    label->setGeometry(frame->width() - 16 - 180, frame->height() - 16 - 40, 180, 40);
    label->raise();
}

void TKWAppliMan::LinkClicked(const QString &link)
{
    if (link == QLatin1String("closeAbout"))
        ClosePage(caAbout);
    else if (link == QLatin1String("closeOptions"))
        ClosePage(caOptions);
}

// ---- About texts -------------------------------------------------------------------

QString TKWAppliMan::UsesText() const
{
    QString list;
    for (int i = 0; i < TitreUses.size(); ++i)
        list += QStringLiteral("<url ") + UrlUses.value(i) + QLatin1Char('>') + TitreUses.at(i) +
                QStringLiteral("</url>, ");
    if (list.isEmpty())
        return {};
    list.chop(2);
    return QStringLiteral("It uses ") + list + QStringLiteral(".<br><br>");
}

QString TKWAppliMan::AboutText() const
{
    return QStringLiteral("<b>Vidstill</b> turns moments of a video into still images.<br>") +
           QStringLiteral("It is written by ") + AuthorName + QStringLiteral(" (<mail ") + AuthorMail +
           QLatin1Char('>') + AuthorMail + QStringLiteral("</mail>).<br><br>") + UsesText() +
           QStringLiteral("Last update: ") + LastUpdate + QStringLiteral("<br><br>") + QStringLiteral("<url ") +
           HomePageText() + QStringLiteral(">Home page</url> - <url ") + DocPage +
           QStringLiteral(">Documentation</url> - <url ") + ForumPage + QStringLiteral(">Support forum</url>");
}

void TKWAppliMan::RebuildAboutTexts()
{
    auto *about = qobject_cast<TAboutPanel *>(FAboutFrame.data());
    if (!about)
        return;
    about->TitleLab->setText(AppTitle);
    if (!about->AboutLab->OnUrlClick) {
        const QPointer<TKWAppliMan> self(this);
        about->AboutLab->OnUrlClick = [self](const QString &url) {
            if (self)
                self->OpenUrl(url);
        };
        about->AboutLab->OnMailClick = [self](const QString &mail) {
            if (self)
                self->OpenUrl(QStringLiteral("mailto:") + mail);
        };
    }
    about->AboutLab->SetRichText(AboutText());
}

QString TKWAppliMan::MailText() const
{
    return QStringLiteral("mailto:") + AuthorMail + QStringLiteral("?subject=") +
           QStringLiteral("About %1").arg(AppTitle) + QStringLiteral("&body=");
}

QString TKWAppliMan::HomePageText() const
{
    QString url = HomePage;
    if (url.endsWith(QChar(0x00A9)))
        url.chop(1);
    return url;
}

bool TKWAppliMan::OpenUrl(const QString &url)
{
    // QUrl encodes the blanks of the subject, which a mail client needs.
    const QUrl u(url, QUrl::TolerantMode);
    return OnOpenUrl ? OnOpenUrl(u) : QDesktopServices::openUrl(u);
}

// ---- Window bounds -----------------------------------------------------------------

TRect TKWAppliMan::FormBounds() const
{
    const QRect g = FWinControl->window()->geometry();
    return TRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void TKWAppliMan::SetFormBounds(const TRect &r)
{
    if (!FWinControl || r.Width() <= 0 || r.Height() <= 0)
        return;  // an empty or inverted stored rectangle would lose the window
    FWinControl->window()->setGeometry(r.Left, r.Top, r.Width(), r.Height());
}

TRect TKWAppliMan::CentredBounds() const
{
    QSize screen = ScreenSize ? ScreenSize() : QSize();
    if (!ScreenSize && QGuiApplication::primaryScreen())
        screen = QGuiApplication::primaryScreen()->size();
    const QSize size = FWinControl->window()->size();
    const int left = (screen.width() - size.width()) / 2;
    const int top = (screen.height() - size.height()) / 2;
    return TRect{left, top, left + size.width(), top + size.height()};
}
