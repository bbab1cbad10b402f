#pragma once

#include <string>

// Settings live in the item store: a "global" item named after the setting,
// connected to the one "global_value" item that holds its text. "vglobal"
// items are settings that live only while the program runs. Switches hold
// "yes" or "no"; a missing value reads as "" and as not "yes".
namespace Settings {

// Declares "global", "vglobal" and "global_value" with their relations, and
// registers "global" (and its values) with the data saver when one exists.
void DeclareTypes();

std::string Get(const char* ip_name);
unsigned int GetUInt(const char* ip_name);
bool IsYes(const char* ip_name);
void Set(const char* ip_name, const std::string& i_value);
// Sets the value only when the setting has none.
void SetDefault(const char* ip_name, const std::string& i_value);
// Leaves the setting without a value (it then reads as "" and is saved as
// such), rather than storing "no".
void Clear(const char* ip_name);

std::string GetVolatile(const char* ip_name);
void SetVolatile(const char* ip_name, const std::string& i_value);

}  // namespace Settings
