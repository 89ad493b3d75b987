// THelpForm: the reference of commands. Lists every typed action of the
// registered action lists, one page per registered name, and shows for the
// selected one its script name and shortcut, hint, script declaration,
// switch syntax and comments. A double click runs the action.
//
// UI thread only. The window owns its pages, list boxes and entries; it does
// not own the actions, which must outlive the window or leave its lists
// (an entry of a destroyed action shows and runs nothing).
#pragma once

#include "widgets/uObjetListbox.h"

#include <QPointer>
#include <QWidget>

class QMenu;
class QAction;
class QPlainTextEdit;
class QTabWidget;
class TCustomAbstractAction;
class TCustomKWActionList;
class TLinkEdit;

// An entry for one typed action: shown and sorted by its script name.
class TActionObjet : public TAbstractListObjet {
public:
    explicit TActionObjet(TCustomAbstractAction *action);
    // "shortcut": the shortcut text or "zzz", then the script name;
    // "switch": the switch or "zzz", then the script name.
    QString SortKey(const TSortIndex &order) const override;
    // Null once the action is gone.
    TCustomAbstractAction *Action() const;

private:
    QPointer<TCustomAbstractAction> FAction;
};

// How shortcuts are written in this window and in its sort keys.
QString ShortCutText(const TCustomAbstractAction *action);

class THelpForm : public QWidget {
    Q_OBJECT
public:
    explicit THelpForm(QWidget *parent = nullptr);
    ~THelpForm() override;

    // Adds the typed actions of `list` to the page named `name`.
    void AddActionList(const QString &name, TCustomKWActionList *list);
    // Re-sorts every list box of the window.
    void trier(const TSortIndex &order);

    void lbClick(TObjetListBox *lb);
    void lbDblClick(TObjetListBox *lb);
    void pcChange();

    // Components of the form.
    QTabWidget *pc = nullptr;
    TLinkEdit *leName = nullptr;
    TLinkEdit *leHint = nullptr;
    QPlainTextEdit *leSyntaxe = nullptr;
    TLinkEdit *leSwitch = nullptr;
    TLinkEdit *leCommentaire = nullptr;
    QMenu *pmenu = nullptr;
    QAction *Ordrealphabtique1 = nullptr;
    QAction *rierparRaccourcis1 = nullptr;
    QAction *rierparswitch1 = nullptr;

    // The list box on a page, null when there is none.
    TObjetListBox *ListBoxOf(int page) const;

protected:
    void resizeEvent(QResizeEvent *e) override;
    bool event(QEvent *e) override;

private:
    void CreateLabels();
    void CreateMenu();
    TObjetListBox *NewPage(const QString &name);
    void FormResize();
};
