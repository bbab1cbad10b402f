#pragma once

#include <string>
#include <vector>

// The words through which incoming searches find a shared file. The text of
// a file is its folder, "\", its name, lower-cased byte by byte (ASCII
// letters only). Two passes cut it into words: the first splits at every
// ASCII byte that is neither a letter nor a digit, the second only at space,
// "/" and "\". Since "\" splits in both passes, the words of a file are the
// words of its folder together with those of its name.
namespace SearchTokens {

// True for the bytes that separate words in the first pass.
bool IsSeparator(unsigned char i_char);

// Appends the words of both passes over the text, lower-cased, each once
// (also against words already in the list when it was empty on entry).
void AppendWords(const std::string& i_text, std::vector<std::string>& io_words);

// The words of a file of that folder and name, each once.
std::vector<std::string> FileWords(const std::string& i_folder, const std::string& i_name);

}  // namespace SearchTokens
