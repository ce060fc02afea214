#include "idlookalikes.h"

#include "searchtext.h"

#include <unicode/uspoof.h>

#include <memory>

namespace IdLookalikes {
namespace {

struct SpoofCheckerDeleter {
    void operator()(USpoofChecker* checker) const { uspoof_close(checker); }
};
using SpoofChecker = std::unique_ptr<USpoofChecker, SpoofCheckerDeleter>;

// One checker, configured once; ICU allows concurrent checks on a configured checker.
const USpoofChecker* checker()
{
    static const SpoofChecker shared = [] {
        UErrorCode status = U_ZERO_ERROR;
        SpoofChecker made(uspoof_open(&status));
        if (U_FAILURE(status))
            return SpoofChecker();
        // Latin beside Han, Hiragana, Katakana, Bopomofo or Hangul is how readers write; other
        // mixtures are how look-alikes are made.
        uspoof_setRestrictionLevel(made.get(), USPOOF_HIGHLY_RESTRICTIVE);
        uspoof_setChecks(made.get(), USPOOF_RESTRICTION_LEVEL | USPOOF_INVISIBLE | USPOOF_MIXED_NUMBERS, &status);
        return U_SUCCESS(status) ? std::move(made) : SpoofChecker();
    }();
    return shared.get();
}

} // namespace

QString key(const QString& id)
{
    const QString folded = SearchText::fold(id);
    const USpoofChecker* spoof = checker();
    if (!spoof)
        return folded;
    UErrorCode status = U_ZERO_ERROR;
    QString skeleton(folded.size() * 2 + 16, Qt::Uninitialized);
    int32_t length =
        uspoof_getSkeleton(spoof, 0, reinterpret_cast<const UChar*>(folded.utf16()), int32_t(folded.size()),
                           reinterpret_cast<UChar*>(skeleton.data()), int32_t(skeleton.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        skeleton.resize(length);
        length = uspoof_getSkeleton(spoof, 0, reinterpret_cast<const UChar*>(folded.utf16()), int32_t(folded.size()),
                                    reinterpret_cast<UChar*>(skeleton.data()), int32_t(skeleton.size()), &status);
    }
    if (U_FAILURE(status))
        return folded;
    skeleton.resize(length);
    // The skeleton may bring back case (it maps to the characters of the confusable table).
    return SearchText::fold(skeleton);
}

bool isSuspicious(const QString& id)
{
    const USpoofChecker* spoof = checker();
    if (!spoof)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    const int32_t result =
        uspoof_check(spoof, reinterpret_cast<const UChar*>(id.utf16()), int32_t(id.size()), nullptr, &status);
    return U_FAILURE(status) || result != 0;
}

} // namespace IdLookalikes
