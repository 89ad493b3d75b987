// The main window's toolbar, main menu and the video's popup menu. Every
// entry is the typed action itself, so captions, hints, shortcuts, images
// and check marks follow the action wherever it is shown.
#include "app/main.h"

#include "widgets/uAppliMan.h"
#include "KWPack/uAudioMan.h"
#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uVideoMan.h"

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QToolBar>
#include <QLayout>
#include <QToolButton>

namespace {

constexpr int kButtonWidth = 29;

// The theme's icon when there is one, else a small drawn badge: the toolbar
// must stay usable on a desktop without an icon theme.
QIcon ToolIcon(const char *themeName, const QString &badge, const QColor &colour)
{
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeName));
    if (!themed.isNull())
        return themed;
    QPixmap pm(22, 22);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colour.darker(160));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(1.5, 1.5, 19, 19), 4, 4);
    QFont f = p.font();
    f.setPixelSize(badge.size() > 2 ? 8 : 10);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 22, 22), Qt::AlignCenter, badge);
    return QIcon(pm);
}

struct ToolEntry {
    QAction *action;
    const char *theme;
    const char *badge;
    QColor colour;
    bool separatorAfter;
};

}  // namespace

void TShowForm::CreateToolbar()
{
    tbUnique = new QToolBar(Client);
    tbUnique->setObjectName(QStringLiteral("tbUnique"));
    tbUnique->setIconSize(QSize(22, 22));
    tbUnique->setMovable(false);
    tbUnique->setFloatable(false);
    // Buttons of 29 pixels and the four gaps fill the width exactly.
    tbUnique->setContentsMargins(0, 0, 0, 0);
    tbUnique->layout()->setContentsMargins(0, 0, 0, 0);
    tbUnique->layout()->setSpacing(0);
    tbUnique->setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; spacing: 0px; }"));
}

// After the components exist: the buttons need their actions.
void TShowForm::CreateMenus()
{
    FillToolbar();
    CreateMainMenu();
    CreatePopupMenu();
}

void TShowForm::FillToolbar()
{
    const QColor blue(40, 90, 160), green(40, 130, 70), red(170, 50, 50), grey(90, 90, 100), violet(110, 60, 140);
    const ToolEntry entries[] = {
        {ficman->waOpenFile, "document-open", "Op", blue, false},
        {ficman->naPasteFile, "edit-paste", "Pa", blue, false},
        {ficman->naCloseFile, "document-close", "Cl", blue, true},
        {naGrab, "camera-photo", "Gr", green, false},
        {naCopy, "edit-copy", "Co", green, false},
        {caIntervalloShow, "chronometer", "In", green, true},
        {vidman->caFullscreen, "view-fullscreen", "FS", grey, false},
        {audman->caMute, "audio-volume-muted", "Mu", grey, false},
        {vidman->caInsertTextOn, "insert-text", "T", violet, false},
        {vidman->caFlipVertical, "object-flip-vertical", "FV", grey, false},
        {vidman->caFlipHorizontal, "object-flip-horizontal", "FH", grey, true},
        {naShowExtraireFrame, "image-x-generic", "Sn", green, false},
        {naShowSaveImagesFrame, "folder", "Fo", green, false},
        {naShowDVIncrustFrame, "x-office-calendar", "DV", violet, true},
        {naShowIncrustFrame, "format-text-bold", "Il", violet, false},
        {am->caHelp, "help-contents", "?", red, false},
        {am->caScript, "text-x-script", "Sc", red, false},
        {am->caOptions, "preferences-system", "Se", red, false},
        {am->caAbout, "help-about", "i", red, false},
        {am->naQuit, "application-exit", "Q", red, false},
    };
    ToolButtonCount = 0;
    for (const ToolEntry &e : entries) {
        if (e.action->icon().isNull())
            e.action->setIcon(ToolIcon(e.theme, QString::fromLatin1(e.badge), e.colour));
        tbUnique->addAction(e.action);
        if (QWidget *button = tbUnique->widgetForAction(e.action))
            button->setFixedWidth(kButtonWidth);
        ++ToolButtonCount;
        if (e.separatorAfter) {
            auto *gap = new QWidget(tbUnique);
            gap->setObjectName(QStringLiteral("ToolSeparator%1").arg(ToolSeparators.size() + 1));
            tbUnique->addWidget(gap);
            ToolSeparators.append(gap);
            ++ToolButtonCount;  // the separators are buttons of the bar too
        }
    }

}

void TShowForm::CreateMainMenu()
{
    QMenuBar *bar = menuBar();
    mnFiles = bar->addMenu(QStringLiteral("Files"));
    mnFiles->setObjectName(QStringLiteral("mnFiles"));
    mnFiles->addActions({ficman->waOpenFile, ficman->naPasteFile, ficman->naCloseFile});
    mnFiles->addSeparator();
    for (TNopeAction *recent : ficman->naRecent)
        mnFiles->addAction(recent);

    mnVideo = bar->addMenu(QStringLiteral("Video"));
    mnVideo->setObjectName(QStringLiteral("mnVideo"));
    mnVideo->addActions({vidman->caFullscreen, vidman->caPreviewForm, caBasculerVue});
    mnVideo->addSeparator();
    mnVideo->addActions({vidman->caFlipVertical, vidman->caFlipHorizontal});
    mnVideo->addSeparator();
    mnVideo->addActions({naForcerNormal, naForcer4x3, naForcer16x9, naForcerNative});
    mnVideo->addSeparator();
    mnVideo->addAction(audman->caMute);

    mnFrames = bar->addMenu(QStringLiteral("Frames"));
    mnFrames->setObjectName(QStringLiteral("mnFrames"));
    mnFrames->addActions({naGrab, naCopy});
    mnFrames->addSeparator();
    mnFrames->addActions({Naming.naBmpExtension, Naming.naJpegExtension, Naming.naAjouterTimeStamp,
                          Naming.naAjouterNumero, baImageDeinterlacer, naShowSaveImagesFrame});

    mnInlay = bar->addMenu(QStringLiteral("Inlay"));
    mnInlay->setObjectName(QStringLiteral("mnInlay"));
    mnInlay->addAction(vidman->caInsertTextOn);
    mnInlay->addSeparator();
    mnInlay->addActions({naInsertTimestamp, naInsertTimecode, naInsertPerso, naInsertNumero, naInsertDatecode,
                         naInsertSysdateTime});
    mnInlay->addSeparator();
    mnInlay->addAction(naShowIncrustFrame);

    mnHelp = bar->addMenu(QStringLiteral("?"));
    mnHelp->setObjectName(QStringLiteral("mnHelp"));
    mnHelp->addActions({am->caHelp, am->caScript, am->caOptions, am->caAbout, am->naHomePage, am->naQuit});
}

void TShowForm::CreatePopupMenu()
{
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addActions({naGrab, naCopy, vidman->caFullscreen, naForcerNormal, naForcer4x3, naForcer16x9,
                           naForcerNative, audman->caMute, vidman->caInsertTextOn, vidman->caFlipVertical,
                           vidman->caFlipHorizontal, caSliders});
    QMenu *settings = PopupMenu->addMenu(QStringLiteral("Settings panel"));
    settings->setObjectName(QStringLiteral("mnSettingsPanel"));
    settings->addActions({naShowSaveImagesFrame, naShowExtraireFrame, naShowIncrustFrame, am->caOptions,
                          am->caScript, am->caHelp, am->caAbout});
    for (int i = 0; i < 4; ++i)
        PopupMenu->addAction(ficman->naRecent[static_cast<size_t>(i)]);
    PopupMenu->addAction(am->naQuit);
    videoPanel->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(videoPanel, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu->popup(videoPanel->mapToGlobal(pos)); });
}
