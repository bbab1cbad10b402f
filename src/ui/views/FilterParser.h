#pragma once

#include <QString>
#include <QStringList>

// How a text stands to a filter.
enum MatchResult {
    Match = 0,         // no unwanted word, every wanted word
    PartialMatch = 1,  // no unwanted word, but a wanted word is missing
    Mismatch = 2       // an unwanted word occurs
};

// The filter line of the result tabs and browse pages: words that must
// occur in a row's text and words (typed with a leading "-") that must not,
// found anywhere in the text, whatever their case.
//
// A tree is filtered level by level: a parent's text is tested with a
// remainder parser, which then holds every unwanted word and only the wanted
// words the parent lacks; the parent's children are tested against it, so
// that a word found higher up need not occur again below.
class FilterParser
{
public:
    // Appends the words of the text: it is split at blanks (U+0020 only,
    // empty parts dropped); a part longer than one character that starts
    // with "-" is unwanted (without its "-"), a lone "-" is dropped, any
    // other part is wanted as it stands.
    void Parse(const QString& i_text);

    // Tests the text. A remainder parser, when given, is emptied first and
    // then, unless an unwanted word occurs, receives every unwanted word and
    // each wanted word the text lacks.
    MatchResult IsMatching(const QString& i_text, FilterParser* ip_remainderParser) const;

    const QStringList& IncludeTokens() const { return m_includeTokens; }
    const QStringList& ExcludeTokens() const { return m_excludeTokens; }

private:
    QStringList m_includeTokens;
    QStringList m_excludeTokens;
};
