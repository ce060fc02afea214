#pragma once

#include <QPointer>
#include <QTreeWidget>

class QTreeWidgetItem;

// A reference to a top-level row of a tree widget that is safe to keep while the list changes under
// it: a new search, a return or a delete may destroy the row. item() hands the row out only while that
// very row is still in the list. Membership is checked by address without touching the row, and a tag
// stored on the row tells it apart from a newer row that was allocated at the same address.
class RowHandle
{
public:
    RowHandle() = default;
    explicit RowHandle(QTreeWidgetItem* item);

    // The row, or nullptr when it has left the list (or the list is gone).
    QTreeWidgetItem* item() const;
    void reset();

private:
    QPointer<QTreeWidget> m_tree;
    QTreeWidgetItem* m_item = nullptr;
    quint64 m_tag = 0;
};
