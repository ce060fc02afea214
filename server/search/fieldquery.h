#pragma once

#include <QString>

// What a reader typed into one text field of a search, in the forms it is compared in, and how well
// a stored field matches it.
struct FieldQuery {
    QString folded; // SearchText::fold of the text: looked for in the folded column
    QString pinyin; // SearchText::pinyinQuery: looked for in the pinyin syllables; empty when not pinyin
    bool initials = false; // pinyin is one word of at least two letters: looked for in the initials too
    bool shortChinese = false; // one or two Chinese characters: looked up among the grams (SearchText::grams)

    static FieldQuery from(const QString& typed);

    bool isEmpty() const { return folded.isEmpty(); }

    // How well a field whose stored forms are given matches, best first: 0 the whole field (exact
    // title), 1 the field begins with the text, 2 the text is whole words of the field, 3 elsewhere.
    enum Tier { Exact, Beginning, WholeWords, Inside };
    Tier tier(const QString& folded, const QString& pinyin, const QString& initials) const;
};
