// TKWAppliMan: the application manager. The chrome every program of the
// family shares: the application title and version texts, three full-window
// pages (options, a custom page, about) that cover the main window one at a
// time, the help window, the script window with the one script engine, the
// command-line switch processor, quitting, mail to the author, the home page,
// and the main window's bounds (raFormSave).
//
// Pages: each page is a panel filling WinControl, hidden until its action is
// checked; the frame given for it is moved into the panel and kept centred
// there. Checking one page's action unchecks the other two, so at most one
// page shows.
//
// UI thread only. Ownership: the manager owns its actions, the help window,
// the script window (which owns the engine), the switch processor, the two
// close-link labels and the two string lists. The page panels are children of
// WinControl; WinControl and the frames are borrowed and forgotten when they
// are destroyed.
//
// Create with TKWActionComponent::New<TKWAppliMan>(owner).
#pragma once

#include "KWPack/uLinkEdit.h"
#include "KWPack/uScriptForm.h"
#include "KWPack/uWndComponent.h"
#include "widgets/uHelpForm.h"

#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QFrame>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class TKWSwitch;

// The application's about panel: a title label and a mark-up label that the
// manager fills each time the about page is shown. The window owns it.
class TAboutPanel : public QFrame {
    Q_OBJECT
public:
    explicit TAboutPanel(QWidget *parent = nullptr);

    QLabel *TitleLab = nullptr;
    TLinkEdit *AboutLab = nullptr;
};

class TKWAppliMan : public TKWActionComponent {
    Q_OBJECT
public:
    explicit TKWAppliMan(QObject *owner = nullptr);
    ~TKWAppliMan() override;

    // ---- application-wide texts (set at creation) ----
    QString Version;     // "6.0.0"
    QString Langue;      // "en"
    QString AppTitle;    // "Vidstill 6.0.0 en"
    QString LastUpdate;  // "28/07/2019"

    // Our own contact addresses (placeholders of this project, not a third
    // party's). HomePage may end with a "©", which is dropped when opened.
    QString AuthorName = QStringLiteral("the Vidstill developers");
    QString AuthorMail = QStringLiteral("author@vidstill.example.org");
    QString HomePage = QStringLiteral("https://vidstill.example.org/");
    QString DocPage = QStringLiteral("https://vidstill.example.org/doc/");
    QString ForumPage = QStringLiteral("https://vidstill.example.org/forum/");

    // Shown on the about page as "It uses <links>." (titles with their
    // addresses, index by index).
    QStringList TitreUses;
    QStringList UrlUses;

    // ---- published properties ----
    QWidget *WinControl() const { return FWinControl; }
    // Places the three page panels in `w` (hidden, filling it).
    void SetWinControl(QWidget *w);
    QWidget *OptionsFrame() const { return FOptionsFrame; }
    void SetOptionsFrame(QWidget *frame);
    QWidget *CustomFrame() const { return FCustomFrame; }
    void SetCustomFrame(QWidget *frame);
    QWidget *AboutFrame() const { return FAboutFrame; }
    void SetAboutFrame(QWidget *frame);
    bool OptionsCloseVisible() const { return FOptionsCloseVisible; }
    void SetOptionsCloseVisible(bool v);

    // ---- owned parts ----
    QWidget *OptionsPanel() const { return FOptionsPanel; }
    QWidget *CustomPanel() const { return FCustomPanel; }
    QWidget *AboutPanel() const { return FAboutPanel; }
    TLinkEdit *OptionsCloseLink() const { return FOptionsClose; }
    TLinkEdit *AboutCloseLink() const { return FAboutClose; }
    THelpForm *HelpForm() const { return FHelpForm; }
    TScriptForm *ScriptForm() const { return FScriptForm; }
    // The program's one script engine (the script window's).
    TKWScript *Script() const;
    // The program's one switch processor.
    TKWSwitch *Switch() const { return FSwitch; }

    // ---- texts ----
    // "It uses <url ..>..</url>, ....<br><br>", or empty without titles.
    QString UsesText() const;
    QString AboutText() const;
    // "mailto:" + author + "?subject=About <title>&body=".
    QString MailText() const;
    // HomePage without a trailing "©".
    QString HomePageText() const;
    // Fills the about panel (only when AboutFrame is a TAboutPanel).
    void RebuildAboutTexts();

    // ---- injectable platform parts (tests) ----
    // The screen raFormSave's default centres on; unset: the primary screen.
    std::function<QSize()> ScreenSize;
    // Opens a URL (mail or web) with the desktop; unset: QDesktopServices.
    std::function<bool(const QUrl &)> OnOpenUrl;

    // ---- actions ----
    TCheckAction *caScript = nullptr, *caHelp = nullptr, *caAbout = nullptr, *caOptions = nullptr,
                 *caCustom = nullptr;
    TNopeAction *naQuit = nullptr, *naEMail = nullptr, *naHomePage = nullptr;
    TRectAction *raFormSave = nullptr;

    void CreateActions() override;
    void LocateActions() override;
    void BindActions() override;

    static QString CloseText(const QString &key, const QString &link);
    static const QString kCloseHint;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetTexts();
    void CreateWindows();
    void BindPages();
    void BindCommands();
    void BindFormSave();
    QWidget *NewPanel(const QString &name, TColor color);
    void SetFrame(QPointer<QWidget> &field, QWidget *frame, QWidget *panel);
    void PlaceFrames();
    void ShowPage(QWidget *panel, QWidget *frame, bool show);
    void ClosePage(TCheckAction *a);
    TLinkEdit *NewCloseLink(const QString &key, const QString &link);
    void PlaceCloseLink(TLinkEdit *label, QWidget *frame);
    void LinkClicked(const QString &link);
    bool OpenUrl(const QString &url);
    TRect FormBounds() const;
    void SetFormBounds(const TRect &r);
    TRect CentredBounds() const;

    QPointer<QWidget> FWinControl, FOptionsFrame, FCustomFrame, FAboutFrame;
    QPointer<QWidget> FOptionsPanel, FCustomPanel, FAboutPanel;
    QPointer<TLinkEdit> FOptionsClose, FAboutClose;
    QPointer<THelpForm> FHelpForm;
    QPointer<TScriptForm> FScriptForm;
    TKWSwitch *FSwitch = nullptr;
    bool FOptionsCloseVisible = true;
};
