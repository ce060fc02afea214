#pragma once

#include "accountfields.h"

#include <QString>

#include <initializer_list>

class QLineEdit;
class QWidget;

// What the forms check before anything is sent: the rules the server applies to account fields (one
// rule, in wire/accountfields.h) and years, so that the user learns what is wrong from the client
// instead of a bare refusal.
namespace FormChecks {

// A year editor accepts at most four digits.
void limitToYear(QLineEdit* edit);
// Four digits, or nothing.
bool isYearOrEmpty(const QString& text);
QString yearMessage();

// What the user is told when a field breaks the account field rule that the server applies too.
QString problemText(const AccountFields::Finding& finding);
// Why a user ID cannot be registered, or an empty string when it can: 1 to 32 printable characters,
// no space at either end.
QString userIdProblem(const QString& id);
// Why a password cannot be chosen, or an empty string when it can: 6 to 128 characters.
QString passwordProblem(const QString& password);

// Tab moves through the widgets in this order.
void setTabOrder(std::initializer_list<QWidget*> widgets);

// Asks before something that cannot be undone: Yes or No, No the default. True for Yes.
bool confirm(QWidget* parent, const QString& question);

} // namespace FormChecks
