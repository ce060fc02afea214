#pragma once

#include <QMutex>
#include <QString>

#include <unicode/translit.h>
#include <unicode/uniset.h>

#include <memory>
#include <vector>

// One ICU transliterator for use from many threads. Creating one costs tens to hundreds of
// milliseconds, so it is created once; a transliterator must not be used by two threads at once, so
// every caller borrows a clone of its own (a clone shares the rule data and costs microseconds) and
// gives it back. The pool grows to the number of callers at the busiest moment.
class TransliteratorPool
{
public:
    // An invalid pool (see isValid) when ICU does not know the ID.
    explicit TransliteratorPool(const char* id);
    ~TransliteratorPool();

    bool isValid() const { return m_prototype != nullptr; }

    // The characters the transliterator may change; text without any of them can skip it.
    const icu::UnicodeSet& sourceSet() const { return m_sourceSet; }

    // Transliterates text in place.
    void transliterate(icu::UnicodeString& text);

private:
    std::unique_ptr<icu::Transliterator> acquire();
    void release(std::unique_ptr<icu::Transliterator> t);

    std::unique_ptr<icu::Transliterator> m_prototype;
    icu::UnicodeSet m_sourceSet;
    QMutex m_mutex;
    std::vector<std::unique_ptr<icu::Transliterator>> m_idle;
};
