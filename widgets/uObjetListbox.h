// TObjetListBox: a list box whose lines carry entry objects, kept in the
// order of a sort key that each entry gives for the box's sort order.
//
// UI thread only. The box owns its entries: an entry replaced by a later one
// with the same key (keys compare without regard to case) is freed at once.
// Entries are handed out as plain pointers, valid until the line goes.
#pragma once

#include <QListWidget>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// A sort order: its key decides what the entries sort by.
struct TSortIndex {
    QString Key, Caption, Description;
};

// The three orders, made once.
const TSortIndex &SortAlpha();
const TSortIndex &SortShortcut();
const TSortIndex &SortSwitch();

class TAbstractListObjet {
public:
    TAbstractListObjet(const QString &text, const QString &sortText)
        : DisplayText(text), SortText(sortText) {}
    virtual ~TAbstractListObjet() = default;

    // "alpha": the sort text; an order the entry does not know: empty.
    virtual QString SortKey(const TSortIndex &order) const;

    QString DisplayText;
    QString SortText;
};

class TObjetListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TObjetListBox(QWidget *parent = nullptr);
    ~TObjetListBox() override;

    bool SelectionnerOuverts = false;
    bool KeyDelete = false;
    // Asked before an entry goes in; false keeps it out (and frees it).
    std::function<bool(const TAbstractListObjet *)> OnAccept;
    std::function<void(int selected, int total)> OnCountsChange;
    std::function<void(TAbstractListObjet *active)> OnActiveChange;

    const TSortIndex &SortIndex() const { return FSortIndex; }
    // Takes effect at the next Resort.
    void SetSortIndex(const TSortIndex &order) { FSortIndex = order; }

    // Adds at the line its key gives; returns the line, -1 when refused.
    int AddObjet(std::unique_ptr<TAbstractListObjet> entry, bool select = false);
    TAbstractListObjet *Objet(int line) const;
    TAbstractListObjet *CurrentObjet() const { return Objet(currentRow()); }
    int LineOf(const TAbstractListObjet *entry) const;
    // Puts every entry again under the current order, keeping the current one.
    void Resort();
    void ClearObjets();
    // Removes the selected lines; the line before the last removed one
    // becomes current (the first line when that was line 0 or 1).
    void DeleteSelected();
    // Fires the events when the counts or the current entry changed.
    void UpdateCounts();

protected:
    void mouseReleaseEvent(QMouseEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;

private:
    int KeyPosition(const QString &key, bool &found) const;
    void RemoveLine(int line);

    TSortIndex FSortIndex;
    QStringList FKeys;  // parallel to the lines, sorted
    std::vector<std::unique_ptr<TAbstractListObjet>> FObjets;  // parallel to the lines
    int FLastTotal = -1;
    int FLastSelected = -1;
    const TAbstractListObjet *FLastActive = nullptr;
};
