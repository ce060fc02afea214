#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The Mandarin reading of Chinese characters, without tones, taken from the rules of ICU's Han-Latin
// transliterator. Running that transliterator costs about 13 microseconds per character, Latin ones
// included, which would make importing a million books take minutes; looking the characters up in a
// table built once from the same rules costs next to nothing and gives the same readings.
class PinyinTable
{
public:
    // Reads ICU's Han-Latin rules; empty (see isEmpty) when ICU has none.
    static PinyinTable fromIcu();

    // Builds the table from rules in the form Han-Latin writes them: "[set] > reading;", "c > reading;"
    // and "{c}' '?n > reading;" (c read so when n follows, with or without a space).
    static PinyinTable fromRules(const QString& rules);

    bool isEmpty() const { return m_readings.isEmpty(); }

    // The toneless reading of c ("guo"), taking the character after it into account; empty when c has none.
    QString reading(char32_t c, char32_t next) const;

private:
    int syllable(const QString& reading);

    QStringList m_syllables;
    QHash<char32_t, int> m_readings; // index into m_syllables
    QHash<quint64, int> m_inContext; // (c << 32 | next) -> index into m_syllables
};
