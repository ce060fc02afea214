#pragma once

#include <QString>

// The audit trail in the staff's words: each action the server records has its Chinese name (a switch
// over the vocabulary, so a new action without one fails the build), the notes the server writes are
// told in Chinese with local times, and the times are shown local and whole.
namespace AuditWords {

// The Chinese name of an action word; a word the client does not know is shown as it came.
QString action(const QString& word);
// The note of an entry in Chinese; a note of a form the client does not know is shown as it came.
QString note(const QString& detail);
// A stored time (ISO 8601, UTC) in local time, to the second; another text is shown as it came.
QString time(const QString& at);

} // namespace AuditWords
