#pragma once

#include "vocabulary.h"

#include <QString>
#include <QStringList>

class QWidget;

// The one table of what the server's refusal words mean to a user, shared by every window.
namespace Refusals {

// The short Chinese message for a refusal. Every refusal of the vocabulary has one: the table is a
// switch over them all, and a missing one fails the build.
QString message(Refusal refusal);

// True for a refusal word of the vocabulary, false for success words and words nobody knows.
bool isKnown(const QString& word);

// The login throttle's words: the lockout is told instead of "Wrong password!".
bool isLoginThrottle(const QString& word);

// The short Chinese message for a refusal word. `detail` is the frame's second string: the seconds
// to wait for the login throttle's words. A word outside the table gets a message that names it.
QString message(const QString& word, const QString& detail = QString());
// The same message told to staff about the reader they serve ("该读者…" where the reader hears "您…").
QString aboutReader(const QString& word, const QString& detail = QString());

// The text shown once when the server has ended the login.
QString loginEndedMessage();

// Tells the user why the server refused a request, in a warning box over `parent`. The lost-login
// words end the client's login instead: one box for the first of them, none for later ones, then
// LoginSession::lost(). "PASSWORD_CHANGE_REQUIRED" is explained, then announced so that the personal
// information form opens.
void report(QWidget* parent, const QStringList& frame);

} // namespace Refusals
