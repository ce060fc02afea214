#pragma once

#include <QString>

// The one normalisation that stored book fields and search texts both go through, so that a reader's
// text matches however it was typed. Safe to use from any number of threads; the ICU data behind it
// is loaded on first use (a few hundred milliseconds) or by warmUp().
class SearchText
{
public:
    // Loads the ICU data now, so that the first search does not wait for it.
    static void warmUp();

    // The form texts are compared in: compatibility forms folded (full-width "ＡＢＣ１" to "abc1"),
    // case folded, accents removed from Latin, Greek and Cyrillic letters ("Café" to "cafe"),
    // Traditional Chinese turned into Simplified ("三國" to "三国"), runs of white space made one space.
    static QString fold(const QString& text);

    // The pinyin of a folded text that contains Chinese: every character's syllable without tones, and
    // the other words as they are, written together ("三国演义 第2版" gives "sanguoyanyidi2ban"), and the
    // first letters of the same ("sgyyd2b"); v is written u in both, as pinyinQuery reads it. Both
    // empty when the text has no Chinese character.
    struct Pinyin {
        QString syllables;
        QString initials;
    };
    static Pinyin pinyin(const QString& folded);

    // A folded search text read as pinyin, in the form of Pinyin::syllables: spaces and apostrophes
    // dropped, "v" read as "u" (readers type ü as v; stored pinyin has u for both). Empty when the
    // text has anything but Latin letters, digits, spaces and apostrophes, or no letter.
    static QString pinyinQuery(const QString& folded);

    // Whether every character of a non-empty text is Chinese.
    static bool isChinese(const QString& text);

    // The Chinese characters of a folded text, each alone and each pair of neighbours, as words apart
    // ("三国 演义" gives "三 国 演 义 三国 演义"): texts of one or two characters, too short for a trigram
    // index, are looked up among these words.
    static QString grams(const QString& folded);

    // A book number as compared: folded like text, without spaces and hyphens ("isbn 7-02-0" to "isbn7020").
    static QString bookNumberKey(const QString& number);
};
