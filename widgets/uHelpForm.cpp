#include "uHelpForm.h"

#include "KWPack/uLinkEdit.h"
#include "KWPack/uPascalHighlighter.h"
#include "KWPack/uScriptAction.h"

#include <QEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kNoKey = QStringLiteral("zzz");  // after every real shortcut or switch

QFont PixelFont(const QString &family, int height, bool bold = false, bool italic = false)
{
    QFont font(family);
    font.setPixelSize(height);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

void SetBackground(QWidget *w, TColor color)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, ColorToQColor(color));
    w->setPalette(pal);
}

}  // namespace

// ---- Entries ---------------------------------------------------------------------

QString ShortCutText(const TCustomAbstractAction *action)
{
    return action ? action->ShortCut().toString(QKeySequence::NativeText) : QString();
}

TActionObjet::TActionObjet(TCustomAbstractAction *action)
    : TAbstractListObjet(action->ScriptName, action->ScriptName), FAction(action)
{
}

TCustomAbstractAction *TActionObjet::Action() const
{
    return FAction.data();
}

QString TActionObjet::SortKey(const TSortIndex &order) const
{
    if (order.Key == SortShortcut().Key) {
        const QString key = ShortCutText(FAction);
        return (key.isEmpty() ? kNoKey : key) + SortText;
    }
    if (order.Key == SortSwitch().Key) {
        const QString key = FAction ? FAction->Switch : QString();
        return (key.isEmpty() ? kNoKey : key) + SortText;
    }
    return TAbstractListObjet::SortKey(order);
}

// ---- Window ----------------------------------------------------------------------

THelpForm::THelpForm(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Help for Shortcuts, Script and Macros"));
    resize(859, 609);
    pc = new QTabWidget(this);
    pc->setObjectName(QStringLiteral("pc"));
    pc->setGeometry(8, 2, 321, 543);
    connect(pc, &QTabWidget::currentChanged, this, [this] { pcChange(); });
    CreateLabels();
    CreateMenu();
}

THelpForm::~THelpForm() = default;

void THelpForm::CreateLabels()
{
    const auto label = [this](const char *name, QRect place, const QFont &font) {
        auto *le = new TLinkEdit(this);
        le->setObjectName(QLatin1String(name));
        le->setGeometry(place);
        le->setFont(font);
        le->LinkColor = le->UrlColor = le->MailColor = clNavy;
        return le;
    };
    leName = label("leName", {335, 10, 493, 49}, PixelFont(QStringLiteral("Arial"), 23, true));
    leName->setFrameShape(QFrame::NoFrame);
    leName->FontColor = clBlue;
    SetBackground(leName, clMoneyGreen);
    leHint = label("leHint", {335, 59, 493, 74}, PixelFont(QStringLiteral("Arial"), 15));
    SetBackground(leHint, clInfoBk);
    leSwitch = label("leSwitch", {334, 187, 493, 35}, PixelFont(QStringLiteral("Arial"), 17));
    leSwitch->FontColor = clBlack;
    SetBackground(leSwitch, clSilver);
    leCommentaire = label("leCommentaire", {335, 226, 493, 307},
                          PixelFont(QStringLiteral("Arial"), 15, false, true));

    leSyntaxe = new QPlainTextEdit(this);
    leSyntaxe->setObjectName(QStringLiteral("leSyntaxe"));
    leSyntaxe->setGeometry(335, 138, 493, 39);
    leSyntaxe->setReadOnly(true);
    leSyntaxe->setFont(PixelFont(QStringLiteral("Courier New"), 17));
    leSyntaxe->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    leSyntaxe->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    leSyntaxe->setLineWrapMode(QPlainTextEdit::NoWrap);
    new TPascalHighlighter(leSyntaxe->document());
}

void THelpForm::CreateMenu()
{
    pmenu = new QMenu(this);
    pmenu->setObjectName(QStringLiteral("pmenu"));
    const auto item = [this](const char *name, const TSortIndex &order) {
        QAction *a = pmenu->addAction(QString());
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, [this, &order] { trier(order); });
        return a;
    };
    Ordrealphabtique1 = item("Ordrealphabtique1", SortAlpha());
    rierparRaccourcis1 = item("rierparRaccourcis1", SortShortcut());
    rierparswitch1 = item("rierparswitch1", SortSwitch());
}

TObjetListBox *THelpForm::ListBoxOf(int page) const
{
    QWidget *w = pc->widget(page);
    return w ? w->findChild<TObjetListBox *>() : nullptr;
}

TObjetListBox *THelpForm::NewPage(const QString &name)
{
    auto *page = new QWidget;
    page->setObjectName(name);
    auto *lb = new TObjetListBox(page);
    lb->setObjectName(QStringLiteral("lb") + QString::number(pc->count() + 1));
    lb->SetSortIndex(SortAlpha());
    lb->setToolTip(QStringLiteral("Click with the right button to sort"));
    lb->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lb, &QWidget::customContextMenuRequested, this,
            [this, lb](const QPoint &at) { pmenu->popup(lb->viewport()->mapToGlobal(at)); });
    connect(lb, &QListWidget::currentRowChanged, this, [this, lb] { lbClick(lb); });
    connect(lb, &QListWidget::itemClicked, this, [this, lb] { lbClick(lb); });
    connect(lb, &QListWidget::itemDoubleClicked, this, [this, lb] { lbDblClick(lb); });
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lb);
    pc->addTab(page, name);
    return lb;
}

void THelpForm::AddActionList(const QString &name, TCustomKWActionList *list)
{
    Ordrealphabtique1->setText(QStringLiteral("Alphabetical order"));
    rierparRaccourcis1->setText(QStringLiteral("Sort by shortcuts"));
    rierparswitch1->setText(QStringLiteral("Sort by Switch"));
    TObjetListBox *lb = nullptr;
    for (int i = 0; i < pc->count() && !lb; ++i)
        if (pc->tabText(i) == name)
            lb = ListBoxOf(i);
    if (!lb)
        lb = NewPage(name);
    if (list)
        for (TCustomAbstractAction *a : list->TypedActions())
            lb->AddObjet(std::make_unique<TActionObjet>(a));
    if (lb->count() > 0) {
        lb->SetSortIndex(SortAlpha());
        lb->Resort();
        lb->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        lbClick(lb);
    }
}

void THelpForm::trier(const TSortIndex &order)
{
    for (int i = 0; i < pc->count(); ++i)
        if (TObjetListBox *lb = ListBoxOf(i)) {
            lb->SetSortIndex(order);
            lb->Resort();
        }
}

void THelpForm::lbClick(TObjetListBox *lb)
{
    const auto *entry = dynamic_cast<const TActionObjet *>(lb ? lb->CurrentObjet() : nullptr);
    TCustomAbstractAction *a = entry ? entry->Action() : nullptr;
    if (!a)
        return;
    leName->SetRichText(a->ScriptName + QStringLiteral("    <size 12><color Black>") + ShortCutText(a) +
                        QStringLiteral("</color></size>"));
    leHint->SetRichText(a->Hint());
    QString text;
    a->GetScriptDeclaration(text);
    leSyntaxe->setPlainText(text);
    const QString head = QStringLiteral("<i>Switch:    </i><B><color Navy><size 10>");
    const QString tail = QStringLiteral("</size></color></B>");
    if (a->Switch.isEmpty()) {
        leSwitch->SetRichText(head + QStringLiteral(" N/A ") + tail);
    } else {
        text.clear();
        a->GetSwitchSyntax(text);
        leSwitch->SetRichText(head + text + tail);
    }
    leCommentaire->SetRichText(a->Comments.join(QStringLiteral("<BR>")));
}

void THelpForm::lbDblClick(TObjetListBox *lb)
{
    const auto *entry = dynamic_cast<const TActionObjet *>(lb ? lb->CurrentObjet() : nullptr);
    if (entry && entry->Action())
        entry->Action()->trigger();
}

void THelpForm::pcChange()
{
    if (TObjetListBox *lb = ListBoxOf(pc->currentIndex()))
        lbClick(lb);
}

void THelpForm::FormResize()
{
    const int h = height(), w = width();
    pc->resize(pc->width(), h - pc->y() - 8);
    leCommentaire->resize(leCommentaire->width(), h - leCommentaire->y() - 8);
    const int labelWidth = w - leName->x() - 8;
    for (QWidget *le : {static_cast<QWidget *>(leName), static_cast<QWidget *>(leHint),
                        static_cast<QWidget *>(leSwitch), static_cast<QWidget *>(leSyntaxe),
                        static_cast<QWidget *>(leCommentaire)}) {
        le->resize(labelWidth, le->height());
        le->update();
    }
}

void THelpForm::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    FormResize();
}

bool THelpForm::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate)
        pcChange();
    return QWidget::event(e);
}
