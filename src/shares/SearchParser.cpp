#include "shares/SearchParser.h"

bool SearchParser::Tokenize(std::string i_text)
{
    const std::string::size_type l_end = i_text.size();
    std::string::size_type l_position = 0;
    for (;;) {
        l_position = i_text.find_first_not_of(Whitespace(), l_position);
        if (l_position == std::string::npos)
            break;

        // One prefix at most: "-*a" excludes "*a", "*-a" asks for "-a".
        std::set<std::string>* lp_set = &m_includedTokenSet;
        if (i_text[l_position] == '-' || i_text[l_position] == '*') {
            lp_set = i_text[l_position] == '-' ? &m_excludedTokenSet : &m_includedPartTokenSet;
            if (++l_position == l_end)
                return false;
        }

        std::string::size_type l_wordBegin = l_position;
        std::string::size_type l_wordEnd = 0;
        if (i_text[l_position] == '"') {
            l_wordBegin = l_position + 1;
            const std::string::size_type l_close = i_text.find('"', l_wordBegin);
            l_wordEnd = l_close == std::string::npos ? l_end : l_close;
            // The next word may follow a closing quote directly.
            l_position = l_close == std::string::npos ? l_end : l_close + 1;
        } else {
            const std::string::size_type l_separator = i_text.find_first_of(Whitespace(), l_wordBegin);
            l_wordEnd = l_separator == std::string::npos ? l_end : l_separator;
            l_position = l_wordEnd;
        }

        const std::string l_word = i_text.substr(l_wordBegin, l_wordEnd - l_wordBegin);
        if (l_word.empty() || l_word.find('"') != std::string::npos)
            return false;
        lp_set->insert(l_word);
        if (l_position >= l_end)
            break;
    }
    return !m_includedTokenSet.empty() || !m_includedPartTokenSet.empty();
}
