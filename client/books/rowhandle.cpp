#include "rowhandle.h"

#include <QTreeWidgetItem>

namespace {

// Kept under column 0; invisible, and the rows carry no other data.
constexpr int TagRole = Qt::UserRole + 0x5254;

quint64 tagOf(const QTreeWidgetItem* item)
{
    return item->data(0, TagRole).toULongLong();
}

} // namespace

RowHandle::RowHandle(QTreeWidgetItem* item)
    : m_tree(item ? item->treeWidget() : nullptr)
    , m_item(item)
{
    if (!item)
        return;
    // Rows are tagged when first referred to; two handles on one row share its tag.
    static quint64 lastTag = 0;
    m_tag = tagOf(item);
    if (m_tag == 0) {
        m_tag = ++lastTag;
        item->setData(0, TagRole, m_tag);
    }
}

QTreeWidgetItem* RowHandle::item() const
{
    if (!m_tree || !m_item)
        return nullptr;
    // Compares addresses only: a destroyed row is never dereferenced.
    if (m_tree->indexOfTopLevelItem(m_item) < 0)
        return nullptr;
    return tagOf(m_item) == m_tag ? m_item : nullptr;
}

void RowHandle::reset()
{
    m_tree.clear();
    m_item = nullptr;
    m_tag = 0;
}
