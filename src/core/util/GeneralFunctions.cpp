#include "core/util/GeneralFunctions.h"

#include <algorithm>
#include <vector>

namespace {

bool IsSeparator(char i_char)
{
    return i_char == '\\' || i_char == '/';
}

char ToLowerAscii(char i_char)
{
    return (i_char >= 'A' && i_char <= 'Z') ? char(i_char - 'A' + 'a') : i_char;
}

// The path without one trailing separator, and the position of its last
// separator (npos when there is none).
std::size_t SplitAtLastSeparator(const std::string& i_path, std::string& o_trimmed)
{
    o_trimmed = i_path;
    if (!o_trimmed.empty() && IsSeparator(o_trimmed.back()))
        o_trimmed.pop_back();
    return o_trimmed.find_last_of("\\/");
}

bool StartsWithScheme(const QString& i_text, qsizetype i_at, qsizetype& o_length)
{
    static const QString s_schemes[] = {QStringLiteral("https://"), QStringLiteral("http://")};
    for (const QString& l_scheme : s_schemes) {
        if (QStringView(i_text).mid(i_at).startsWith(l_scheme, Qt::CaseInsensitive)) {
            o_length = l_scheme.size();
            return true;
        }
    }
    return false;
}

bool EndsAddress(QChar i_char)
{
    return i_char.isSpace() || i_char == u'"' || i_char == u'<' || i_char == u'>';
}

} // namespace

std::string GetFileName(const std::string& i_path)
{
    std::string l_trimmed;
    const std::size_t l_separator = SplitAtLastSeparator(i_path, l_trimmed);
    if (l_separator == std::string::npos)
        return l_trimmed;
    return l_trimmed.substr(l_separator + 1);
}

std::string GetFolder(const std::string& i_path)
{
    std::string l_trimmed;
    const std::size_t l_separator = SplitAtLastSeparator(i_path, l_trimmed);
    if (l_separator == std::string::npos)
        return l_trimmed;
    return l_trimmed.substr(0, l_separator);
}

std::string GetParentFolder(const std::string& i_path)
{
    const std::size_t l_end = i_path.find_last_not_of('\\');
    if (l_end == std::string::npos)
        return std::string();
    return GetFolder(i_path.substr(0, l_end + 1));
}

RemoteFilePath SplitRemotePath(const std::string& i_path)
{
    std::string l_trimmed;
    const std::size_t l_separator = SplitAtLastSeparator(i_path, l_trimmed);
    if (l_separator == std::string::npos)
        return {std::string(), l_trimmed};
    return {l_trimmed.substr(0, l_separator), l_trimmed.substr(l_separator + 1)};
}

std::string JoinRemotePath(const std::string& i_folder, const std::string& i_name)
{
    return i_folder.empty() ? i_name : i_folder + '\\' + i_name;
}

std::string GetFileExtension(const std::string& i_name)
{
    const std::size_t l_dot = i_name.rfind('.');
    if (l_dot == std::string::npos)
        return std::string();
    std::string l_extension = i_name.substr(l_dot + 1);
    std::transform(l_extension.begin(), l_extension.end(), l_extension.begin(), ToLowerAscii);
    return l_extension;
}

std::string GetAbsoluteFileName(const std::string& i_path)
{
    std::string l_key;
    l_key.reserve(i_path.size());
    for (const char l_char : i_path) {
        if (IsSeparator(l_char) && !l_key.empty() && IsSeparator(l_key.back()))
            continue;
        l_key.push_back(ToLowerAscii(l_char));
    }
    while (!l_key.empty() && IsSeparator(l_key.back()))
        l_key.pop_back();
    return l_key;
}

std::string ReversePathname(const std::string& i_path)
{
    std::vector<std::string> l_components;
    std::string l_current;
    for (const char l_char : i_path) {
        if (IsSeparator(l_char)) {
            if (!l_current.empty())
                l_components.push_back(std::move(l_current));
            l_current.clear();
        } else {
            l_current.push_back(l_char);
        }
    }
    if (!l_current.empty())
        l_components.push_back(std::move(l_current));

    std::string l_reversed;
    for (auto l_it = l_components.rbegin(); l_it != l_components.rend(); ++l_it) {
        if (!l_reversed.empty())
            l_reversed.push_back('/');
        l_reversed += *l_it;
    }
    return l_reversed;
}

QString CommafyNumber(long long i_number)
{
    if (i_number <= 0)
        return QString();
    const QString l_digits = QString::number(i_number);
    QString l_text;
    l_text.reserve(l_digits.size() + l_digits.size() / 3);
    for (qsizetype l_index = 0; l_index < l_digits.size(); ++l_index) {
        if (l_index > 0 && (l_digits.size() - l_index) % 3 == 0)
            l_text.append(u',');
        l_text.append(l_digits.at(l_index));
    }
    return l_text;
}

QString FormatSeconds(long i_seconds)
{
    const long l_days = i_seconds / 86400;
    const long l_hours = (i_seconds / 3600) % 24;
    const long l_minutes = (i_seconds / 60) % 60;
    const long l_seconds = i_seconds % 60;

    QString l_text;
    if (l_days != 0)
        l_text += QString::number(l_days) + u'd';
    if (l_days != 0 || l_hours != 0)
        l_text += QString::number(l_hours) + u'h';
    l_text += QString::number(l_minutes) + u'm' + QString::number(l_seconds) + u's';
    return l_text;
}

QString EscapeHTML(const QString& i_text)
{
    QString l_text = i_text;
    l_text.replace(u'&', QStringLiteral("&amp;"));
    l_text.replace(u'<', QStringLiteral("&lt;"));
    l_text.replace(u'>', QStringLiteral("&gt;"));
    return l_text;
}

QString ConvertLinks(const QString& i_text)
{
    QString l_result;
    l_result.reserve(i_text.size());
    qsizetype l_index = 0;
    while (l_index < i_text.size()) {
        qsizetype l_schemeLength = 0;
        if (!StartsWithScheme(i_text, l_index, l_schemeLength)) {
            l_result.append(i_text.at(l_index));
            ++l_index;
            continue;
        }
        qsizetype l_end = l_index + l_schemeLength;
        while (l_end < i_text.size() && !EndsAddress(i_text.at(l_end)))
            ++l_end;
        if (l_end == l_index + l_schemeLength) {
            // A scheme with nothing after it is no address.
            l_result.append(QStringView(i_text).mid(l_index, l_schemeLength));
            l_index = l_end;
            continue;
        }
        const QStringView l_address = QStringView(i_text).mid(l_index, l_end - l_index);
        l_result += QStringLiteral("<a href=\"");
        l_result += l_address;
        l_result += QStringLiteral("\">");
        l_result += l_address;
        l_result += QStringLiteral("</a>");
        l_index = l_end;
    }
    return l_result;
}

std::string ToLatin1Text(const QString& i_text)
{
    return i_text.toLatin1().toStdString();
}

QString FromLatin1Text(const std::string& i_text)
{
    return QString::fromLatin1(i_text.data(), static_cast<qsizetype>(i_text.size()));
}
