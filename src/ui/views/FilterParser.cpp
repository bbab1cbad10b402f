#include "ui/views/FilterParser.h"

namespace
{
bool Occurs(const QString& i_word, const QString& i_text)
{
    return i_text.contains(i_word, Qt::CaseInsensitive);
}
}  // namespace

void FilterParser::Parse(const QString& i_text)
{
    for (const QString& l_part : i_text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (l_part.startsWith(QLatin1Char('-'))) {
            if (l_part.size() > 1)
                m_excludeTokens.append(l_part.mid(1));
        } else {
            m_includeTokens.append(l_part);
        }
    }
}

MatchResult FilterParser::IsMatching(const QString& i_text, FilterParser* ip_remainderParser) const
{
    if (ip_remainderParser) {
        ip_remainderParser->m_includeTokens.clear();
        ip_remainderParser->m_excludeTokens.clear();
    }
    for (const QString& l_word : m_excludeTokens) {
        if (Occurs(l_word, i_text))
            return Mismatch;
    }
    if (!ip_remainderParser) {
        for (const QString& l_word : m_includeTokens) {
            if (!Occurs(l_word, i_text))
                return PartialMatch;
        }
        return Match;
    }
    ip_remainderParser->m_excludeTokens = m_excludeTokens;
    for (const QString& l_word : m_includeTokens) {
        if (!Occurs(l_word, i_text))
            ip_remainderParser->m_includeTokens.append(l_word);
    }
    return ip_remainderParser->m_includeTokens.isEmpty() ? Match : PartialMatch;
}
