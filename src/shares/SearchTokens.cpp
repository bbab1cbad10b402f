#include "shares/SearchTokens.h"

#include <algorithm>

namespace SearchTokens {

bool IsSeparator(unsigned char i_char)
{
    if (i_char >= 0x80)
        return false;
    return !((i_char >= '0' && i_char <= '9') || (i_char >= 'a' && i_char <= 'z') || (i_char >= 'A' && i_char <= 'Z'));
}

namespace {

bool IsSecondPassSeparator(unsigned char i_char)
{
    return i_char == ' ' || i_char == '/' || i_char == '\\';
}

template <class Separator>
void AppendPass(const std::string& i_lower, Separator i_isSeparator, std::vector<std::string>& io_words)
{
    std::size_t l_begin = 0;
    const std::size_t l_size = i_lower.size();
    while (l_begin < l_size) {
        while (l_begin < l_size && i_isSeparator(static_cast<unsigned char>(i_lower[l_begin])))
            ++l_begin;
        std::size_t l_end = l_begin;
        while (l_end < l_size && !i_isSeparator(static_cast<unsigned char>(i_lower[l_end])))
            ++l_end;
        if (l_end > l_begin) {
            std::string l_word = i_lower.substr(l_begin, l_end - l_begin);
            // Word lists are short (a path has a dozen words): a linear check
            // beats any set here.
            if (std::find(io_words.begin(), io_words.end(), l_word) == io_words.end())
                io_words.push_back(std::move(l_word));
        }
        l_begin = l_end;
    }
}

}  // namespace

void AppendWords(const std::string& i_text, std::vector<std::string>& io_words)
{
    std::string l_lower = i_text;
    for (char& l_char : l_lower) {
        if (l_char >= 'A' && l_char <= 'Z')
            l_char = static_cast<char>(l_char - 'A' + 'a');
    }
    AppendPass(l_lower, IsSeparator, io_words);
    AppendPass(l_lower, IsSecondPassSeparator, io_words);
}

std::vector<std::string> FileWords(const std::string& i_folder, const std::string& i_name)
{
    std::vector<std::string> l_words;
    AppendWords(i_folder, l_words);
    AppendWords(i_name, l_words);
    return l_words;
}

}  // namespace SearchTokens
