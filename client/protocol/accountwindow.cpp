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
    // Descendants too: a window opened from another account window (reader cards from the user
    // management window) would otherwise stay open when its parent is only hidden.
    const QList<QWidget*> windows = owner->findChildren<QWidget*>();
    for (QWidget* window : windows) {
        if (isMarked(window))
            window->close();
    }
}

} // namespace AccountWindow
