#include "accountwindow.h"

#include <QVariant>
#include <QWidget>

namespace AccountWindow {
namespace {
constexpr char Property[] = "closesAtLogout";
} // namespace

void mark(QWidget* window)
{
    window->setProperty(Property, true);
}

bool isMarked(const QWidget* window)
{
    return window->property(Property).toBool();
}

void closeAll(QWidget* owner)
{
    const QList<QWidget*> windows = owner->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* window : windows) {
        if (isMarked(window))
            window->close();
    }
}

} // namespace AccountWindow
