#pragma once

#include <string>

// The MD5 digest of the bytes as 32 lower-case hexadecimal digits; the login
// sends it for the user name followed by the password.
std::string Md5HexDigest(const std::string& i_bytes);
