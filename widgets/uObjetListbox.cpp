#include "uObjetListbox.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

const TSortIndex &SortAlpha()
{
    static const TSortIndex order{QStringLiteral("alpha"), QStringLiteral("in alphabetical order"),
                                  QStringLiteral("alphabetically sorted")};
    return order;
}

const TSortIndex &SortShortcut()
{
    static const TSortIndex order{QStringLiteral("shortcut"), QStringLiteral("by shortcut"),
                                  QStringLiteral("sorted by shortcuts")};
    return order;
}

const TSortIndex &SortSwitch()
{
    static const TSortIndex order{QStringLiteral("switch"), QStringLiteral("by switch"),
                                  QStringLiteral("sorted by switches")};
    return order;
}

QString TAbstractListObjet::SortKey(const TSortIndex &order) const
{
    return order.Key == SortAlpha().Key ? SortText : QString();
}

TObjetListBox::TObjetListBox(QWidget *parent)
    : QListWidget(parent), FSortIndex(SortAlpha())
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
}

TObjetListBox::~TObjetListBox()
{
    // The events belong to the owner, which may be half gone already.
    OnCountsChange = nullptr;
    OnActiveChange = nullptr;
}

int TObjetListBox::KeyPosition(const QString &key, bool &found) const
{
    const auto less = [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    };
    const auto it = std::lower_bound(FKeys.cbegin(), FKeys.cend(), key, less);
    found = it != FKeys.cend() && QString::compare(*it, key, Qt::CaseInsensitive) == 0;
    return static_cast<int>(it - FKeys.cbegin());
}

int TObjetListBox::AddObjet(std::unique_ptr<TAbstractListObjet> entry, bool select)
{
    if (!entry || (OnAccept && !OnAccept(entry.get())))
        return -1;
    const QString key = entry->SortKey(FSortIndex);
    bool found = false;
    const int line = KeyPosition(key, found);
    if (found) {
        // Same key: the later entry wins, under the line's text.
        if (FObjets[line].get() == FLastActive)
            FLastActive = nullptr;
        FObjets[line] = std::move(entry);
    } else {
        FKeys.insert(line, key);
        FObjets.insert(FObjets.begin() + line, std::move(entry));
        insertItem(line, FObjets[line]->DisplayText);
        if (select || SelectionnerOuverts)
            item(line)->setSelected(true);
    }
    if (count() == 1)
        setCurrentRow(0);
    UpdateCounts();
    return line;
}

TAbstractListObjet *TObjetListBox::Objet(int line) const
{
    if (line < 0 || line >= static_cast<int>(FObjets.size()))
        return nullptr;
    return FObjets[line].get();
}

int TObjetListBox::LineOf(const TAbstractListObjet *entry) const
{
    for (size_t i = 0; i < FObjets.size(); ++i)
        if (FObjets[i].get() == entry)
            return static_cast<int>(i);
    return -1;
}

void TObjetListBox::Resort()
{
    const TAbstractListObjet *current = CurrentObjet();
    std::vector<std::unique_ptr<TAbstractListObjet>> aside = std::move(FObjets);
    FObjets.clear();
    FKeys.clear();
    {
        const QSignalBlocker block(this);
        clear();
    }
    const auto accept = std::exchange(OnAccept, nullptr);  // they were accepted once
    for (auto &entry : aside)
        AddObjet(std::move(entry));
    OnAccept = accept;
    const int line = LineOf(current);
    if (line >= 0)
        setCurrentRow(line, QItemSelectionModel::ClearAndSelect);
    UpdateCounts();
}

void TObjetListBox::ClearObjets()
{
    FLastActive = nullptr;
    FKeys.clear();
    clear();
    FObjets.clear();
    UpdateCounts();
}

void TObjetListBox::RemoveLine(int line)
{
    if (FObjets[line].get() == FLastActive)
        FLastActive = nullptr;
    delete takeItem(line);
    FKeys.removeAt(line);
    FObjets.erase(FObjets.begin() + line);
}

void TObjetListBox::DeleteSelected()
{
    int last = -1;
    for (int line = count() - 1; line >= 0; --line) {
        if (!item(line)->isSelected())
            continue;
        last = std::max(last, line);
        RemoveLine(line);
    }
    if (last >= 0 && count() > 0)
        setCurrentRow(std::min(last <= 1 ? 0 : last - 1, count() - 1));
    UpdateCounts();
}

void TObjetListBox::UpdateCounts()
{
    const int total = count();
    const int selected = static_cast<int>(selectedItems().size());
    if (total != FLastTotal || selected != FLastSelected) {
        FLastTotal = total;
        FLastSelected = selected;
        setToolTip(selected < 2 ? QStringLiteral("one item seleteced on %1").arg(total)
                                : QStringLiteral("%1 items selected on %2").arg(selected).arg(total));
        if (OnCountsChange)
            OnCountsChange(selected, total);
    }
    TAbstractListObjet *active = CurrentObjet();
    if (active != FLastActive) {
        FLastActive = active;
        if (OnActiveChange)
            OnActiveChange(active);
    }
}

void TObjetListBox::mouseReleaseEvent(QMouseEvent *e)
{
    QListWidget::mouseReleaseEvent(e);
    UpdateCounts();
}

void TObjetListBox::keyReleaseEvent(QKeyEvent *e)
{
    QListWidget::keyReleaseEvent(e);
    switch (e->key()) {
    case Qt::Key_Delete:
        if (KeyDelete && !(e->modifiers() & Qt::ShiftModifier)) {
            DeleteSelected();
            return;
        }
        UpdateCounts();
        break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Up:
    case Qt::Key_Down:
        UpdateCounts();
        break;
    default:
        break;
    }
}
