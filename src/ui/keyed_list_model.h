#pragma once

#include <QAbstractListModel>
#include <QSet>

#include <vector>

namespace sonaric
{

/// The rows of a list model whose rows carry a stable key. `replaceRows` turns the old rows into the new ones
/// with removals, moves, insertions and changes of single rows, never a reset, so the views of rows that stay
/// keep their state (a slider being dragged keeps its drag) and a list that did not change notifies nobody.
///
/// `Model` is the `QAbstractListModel` that inherits this (and befriends it, so that it may announce the
/// changes); it says which roles differ between two versions of a row (`changedRoles(before, after)`) and
/// hears when the count changed (`rowCountChanged()`). `Row` has `QString key() const`.
template <class Model, class Row> class KeyedRows
{
protected:
    int keyedRowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

    const Row* rowAt(const QModelIndex& index) const
    {
        if (!index.isValid() || index.parent().isValid() || index.row() < 0 || index.row() >= int(m_rows.size()))
            return nullptr;
        return &m_rows[size_t(index.row())];
    }

    /// Makes `next` the rows. A key that comes twice keeps its first row only.
    void replaceRows(std::vector<Row> next)
    {
        Model& model = static_cast<Model&>(*this);
        QSet<QString> keys;
        std::erase_if(next, [&](const Row& row) {
            if (keys.contains(row.key()))
                return true;
            keys.insert(row.key());
            return false;
        });
        const size_t countBefore = m_rows.size();

        // Rows that leave, from the end, one contiguous run at a time.
        for (int last = int(m_rows.size()) - 1; last >= 0;) {
            if (keys.contains(m_rows[size_t(last)].key())) {
                --last;
                continue;
            }
            int first = last;
            while (first > 0 && !keys.contains(m_rows[size_t(first - 1)].key()))
                --first;
            model.beginRemoveRows({}, first, last);
            m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
            model.endRemoveRows();
            last = first - 1;
        }

        // Every row left is in `next`: walk it, moving, inserting and updating in place.
        for (size_t i = 0; i < next.size(); ++i) {
            const QString key = next[i].key();
            if (i < m_rows.size() && m_rows[i].key() == key) {
                update(model, i, std::move(next[i]));
                continue;
            }
            size_t found = i + 1;
            while (found < m_rows.size() && m_rows[found].key() != key)
                ++found;
            if (found < m_rows.size()) {
                model.beginMoveRows({}, int(found), int(found), {}, int(i));
                Row moved = std::move(m_rows[found]);
                m_rows.erase(m_rows.begin() + long(found));
                m_rows.insert(m_rows.begin() + long(i), std::move(moved));
                model.endMoveRows();
                update(model, i, std::move(next[i]));
            } else {
                model.beginInsertRows({}, int(i), int(i));
                m_rows.insert(m_rows.begin() + long(i), std::move(next[i]));
                model.endInsertRows();
            }
        }
        if (m_rows.size() != countBefore)
            model.rowCountChanged();
    }

    std::vector<Row> m_rows;

private:
    void update(Model& model, size_t i, Row next)
    {
        const QList<int> roles = model.changedRoles(m_rows[i], next);
        m_rows[i] = std::move(next);
        if (!roles.isEmpty())
            emit model.dataChanged(model.index(int(i)), model.index(int(i)), roles);
    }
};

} // namespace sonaric
