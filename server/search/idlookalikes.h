#pragma once

#include <QString>

#include <optional>

// IDs that a reader could take for one another: the same letters in another case or width, with or
// without accents, or letters of another script that look the same (Cyrillic "а" for Latin "a").
// Checked with ICU's spoof checker (UTS #39), the ICU that search already uses. Thread-safe.
namespace IdLookalikes {

// The form two IDs share when a reader could confuse them: folded as search folds text (case, width,
// accents, Traditional and Simplified), then ICU's confusable skeleton. Stored beside each account.
QString key(const QString& id);

// Whether the ID mixes scripts in a way no reader writes (Latin with Cyrillic, say; Latin with Chinese
// is fine), or holds characters that cannot be seen.
bool isSuspicious(const QString& id);

} // namespace IdLookalikes
