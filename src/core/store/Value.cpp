#include "core/store/Value.h"

#include <charconv>

namespace {

// Sets o_number to the text's number, or 0 with the reason it has none.
template <class T>
std::errc ParseDecimal(const std::string& i_text, T& o_number)
{
    const char* lp_begin = i_text.data();
    const char* lp_end = lp_begin + i_text.size();
    while (lp_begin != lp_end && (*lp_begin == ' ' || *lp_begin == '\t'))
        ++lp_begin;
    if (lp_begin != lp_end && *lp_begin == '+')
        ++lp_begin;
    o_number = 0;
    const auto l_result = std::from_chars(lp_begin, lp_end, o_number);
    if (l_result.ec != std::errc())
        o_number = 0;
    return l_result.ec;
}

template <class T>
T ParseDecimal(const std::string& i_text)
{
    T l_number;
    ParseDecimal(i_text, l_number);
    return l_number;
}

}  // namespace

namespace ValueText {

int ToInt(const std::string& i_text)
{
    return ParseDecimal<int>(i_text);
}

unsigned int ToUInt(const std::string& i_text)
{
    return ParseDecimal<unsigned int>(i_text);
}

bool ToUInt(const std::string& i_text, unsigned int& o_number)
{
    return ParseDecimal(i_text, o_number) != std::errc::result_out_of_range;
}

long long ToInt64(const std::string& i_text)
{
    return ParseDecimal<long long>(i_text);
}

quintptr ToUIntPtr(const std::string& i_text)
{
    return ParseDecimal<quintptr>(i_text);
}

}  // namespace ValueText
