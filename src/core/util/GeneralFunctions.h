#pragma once

#include <QString>

#include <string>

// Text helpers shared by the services and views. Paths here are remote paths
// as peers send them: both "\" and "/" separate components.

// One trailing separator is dropped first; then the part after the last
// separator, or the whole text when there is none.
std::string GetFileName(const std::string& i_path);
// One trailing separator is dropped first; then the part before the last
// separator (without it), or the whole text when there is none.
std::string GetFolder(const std::string& i_path);
// Every trailing "\" is removed (not "/"), then GetFolder of the rest; ""
// when nothing is left.
std::string GetParentFolder(const std::string& i_path);
// A file's path as a peer names it, split into the folder that holds the
// file and its name. As GetFolder and GetFileName, except that a path
// without a separator is a file at the top of the share, in the folder "".
struct RemoteFilePath
{
    std::string m_folder;
    std::string m_name;
};
RemoteFilePath SplitRemotePath(const std::string& i_path);
// The reverse: folder, "\" and name, or the name alone in the folder "".
std::string JoinRemotePath(const std::string& i_folder, const std::string& i_name);
// The text after the last "." with ASCII letters lower-cased; "" without a dot.
std::string GetFileExtension(const std::string& i_name);
// The comparison key of a path: every run of separators cut to its first
// character, trailing separators removed, ASCII letters lower-cased.
std::string GetAbsoluteFileName(const std::string& i_path);
// The path's components in reverse order joined by "/"; runs of separators
// count once.
std::string ReversePathname(const std::string& i_path);

// The decimal text with "," between groups of three digits; zero and negative
// numbers give an empty text.
QString CommafyNumber(long long i_number);
// A duration without blanks: "1d2h3m4s", "1h2m5s", "4m5s", "0m59s".
QString FormatSeconds(long i_seconds);
// "&", "<" and ">" as entities; nothing else changes.
QString EscapeHTML(const QString& i_text);
// Turns every http or https address in text that EscapeHTML has already
// escaped into an anchor on itself. An address ends at white space, '"',
// '<' or '>', so it can never leave the quoted link target.
QString ConvertLinks(const QString& i_text);

// Names, settings and action texts cross between widgets and the store as
// 8-bit Latin-1 text; a character outside Latin-1 becomes "?".
std::string ToLatin1Text(const QString& i_text);
QString FromLatin1Text(const std::string& i_text);
