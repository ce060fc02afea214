#include "transliteratorpool.h"

#include <QDebug>

TransliteratorPool::TransliteratorPool(const char* id)
{
    UErrorCode status = U_ZERO_ERROR;
    m_prototype.reset(icu::Transliterator::createInstance(icu::UnicodeString(id, -1, US_INV), UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !m_prototype) {
        qWarning("ICU has no transliterator %s: %s", id, u_errorName(status));
        m_prototype.reset();
        return;
    }
    m_prototype->getSourceSet(m_sourceSet);
    m_sourceSet.freeze();
}

TransliteratorPool::~TransliteratorPool() = default;

void TransliteratorPool::transliterate(icu::UnicodeString& text)
{
    if (!m_prototype)
        return;
    std::unique_ptr<icu::Transliterator> t = acquire();
    if (!t)
        return;
    t->transliterate(text);
    release(std::move(t));
}

std::unique_ptr<icu::Transliterator> TransliteratorPool::acquire()
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_idle.empty()) {
            std::unique_ptr<icu::Transliterator> t = std::move(m_idle.back());
            m_idle.pop_back();
            return t;
        }
    }
    return std::unique_ptr<icu::Transliterator>(m_prototype->clone());
}

void TransliteratorPool::release(std::unique_ptr<icu::Transliterator> t)
{
    QMutexLocker lock(&m_mutex);
    m_idle.push_back(std::move(t));
}
