#pragma once

#include <set>
#include <string>

// The query syntax of searches that reach us from other users. A query is
// words separated by spaces and tabs; a word may be a phrase in double
// quotes; a leading "-" makes it an excluded word, a leading "*" a word that
// must occur inside the file name. Words are byte strings exactly as they
// stand in the query: no case folding, no character-set conversion.
class SearchParser
{
public:
    // Adds the query's words to the three sets. True when the query is well
    // formed and has at least one included or part word; a malformed query
    // stops at the faulty word, keeping the words read before it.
    bool SetSearchText(std::string i_text) { return Tokenize(std::move(i_text)); }
    bool Tokenize(std::string i_text);

    const std::set<std::string>& GetIncludedTokenSet() const { return m_includedTokenSet; }
    const std::set<std::string>& GetIncludedPartTokenSet() const { return m_includedPartTokenSet; }
    const std::set<std::string>& GetExcludedTokenSet() const { return m_excludedTokenSet; }

    // The separators: space, then horizontal tab.
    static const char* Whitespace() { return " \t"; }

private:
    std::set<std::string> m_includedTokenSet;
    std::set<std::string> m_includedPartTokenSet;
    std::set<std::string> m_excludedTokenSet;
};
