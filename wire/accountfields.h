#pragma once

#include <QString>

#include <optional>

// The one rule for what an account's fields may hold, applied by the server to registration, the
// information update and the reader import, and by the client's forms before anything is sent.
// Lengths count characters (Unicode code points), the same on both sides: a name outside the basic
// plane counts once per character, not per UTF-16 unit.
namespace AccountFields {

constexpr int MaxIdLength = 32;
constexpr int MinPasswordLength = 6;
constexpr int MaxPasswordLength = 128;
constexpr int MaxNameLength = 64;
constexpr int MaxShortFieldLength = 32; // student number, telephone
constexpr int MaxEmailLength = 128;
constexpr int MaxInfoLength = 500;

enum class Field { Id, Password, Name, StudentNumber, Phone, Email, Notes };

enum class Problem {
    Empty, // an ID or a password must be given
    TooShort, // a password below MinPasswordLength
    TooLong,
    ControlCharacter, // control or format characters (line breaks only in the notes)
    SpaceAtEnd, // an ID that starts or ends with a space
    NotAnEmail, // not of the form name@host.domain
};

struct Finding {
    Field field;
    Problem problem;
};

int characterCount(const QString& text);
int maxLength(Field field);

// Why the value cannot be stored in the field, or nullopt. Optional fields may be empty.
std::optional<Problem> problemOf(Field field, const QString& value);

// The first field of a registration that breaks the rule.
std::optional<Finding> registrationProblem(const QString& id, const QString& password, const QString& name,
                                           const QString& studentNumber, const QString& phone, const QString& email,
                                           const QString& notes);
// The same for the details a reader or staff change later; the password only when one is given.
std::optional<Finding> detailsProblem(const QString& name, const QString& phone, const QString& email,
                                      const QString& notes, const QString& newPassword = QString());

// For the log: "user ID longer than 32 characters", "e-mail not of the form name@host".
QString describe(const Finding& finding);

// A value for a CSV cell: a text that a spreadsheet would take for a formula (starting with =, +, -,
// @, a tab or a carriage return) gets a leading apostrophe, so it shows as text; a telephone number
// ("+86 10 1234 5678") stays as it is.
QString csvSafe(const QString& value);

} // namespace AccountFields
