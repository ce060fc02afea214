#pragma once

#include <QString>

#include <optional>

// International Standard Book Numbers as the catalogue stores them: ISBN-13, digits only.
namespace Isbn {

// The ISBN-13 of a text holding an ISBN-10 or ISBN-13, with or without hyphens and spaces (an ISBN-10
// may end in X); nullopt when it is none or its check digit is wrong.
std::optional<QString> normalised(const QString& text);

// Whether the text has the shape of an ISBN (10 or 13 digits, hyphens and spaces aside, an ISBN-10's
// last one possibly X), right check digit or not.
bool hasShape(const QString& text);

} // namespace Isbn
