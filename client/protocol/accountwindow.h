#pragma once

class QWidget;

// Windows that act for the logged-in account (its loans, its details, staff tools). They close when
// the login ends, by logout or because the server ended it, so that the next person at a shared PC
// does not find the last one's loans, readers' phone numbers or audit trail on the screen. A window
// says so itself in its constructor; the main window closes whatever says so.
namespace AccountWindow {

void mark(QWidget* window);
bool isMarked(const QWidget* window);
// Closes every marked window among the descendants of `owner`.
void closeAll(QWidget* owner);

} // namespace AccountWindow
