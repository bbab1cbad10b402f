#include "core/persist/Settings.h"

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"

namespace {

std::string ValueOf(const char* ip_type, const char* ip_name)
{
    return d.GetType(ip_type)->GetItem(ip_name)["global_value"].AsString();
}

void Assign(const char* ip_type, const char* ip_name, const std::string& i_value)
{
    ItemPtr l_setting = d.GetType(ip_type)->GetItem(ip_name);
    l_setting += d.GetType("global_value")->GetItem(i_value);
}

}  // namespace

namespace Settings {

void DeclareTypes()
{
    Type* lp_global = d.NewType("global", true, false, true);
    Type* lp_volatile = d.NewType("vglobal", true, false, true);
    Type* lp_value = d.NewType("global_value", false, false, true);
    lp_global->RelateToType(lp_value, Many, One, false);
    lp_volatile->RelateToType(lp_value, Many, One, false);
    if (dataSaver) {
        dataSaver->AddSavedType("global");
        dataSaver->AddSavedByConnectionType("global_value", "global");
    }
}

std::string Get(const char* ip_name)
{
    return ValueOf("global", ip_name);
}

unsigned int GetUInt(const char* ip_name)
{
    return ValueText::ToUInt(Get(ip_name));
}

bool IsYes(const char* ip_name)
{
    return Get(ip_name) == "yes";
}

void Set(const char* ip_name, const std::string& i_value)
{
    Assign("global", ip_name, i_value);
}

void SetDefault(const char* ip_name, const std::string& i_value)
{
    if (!d.GetType("global")->GetItem(ip_name).IsConnected("global_value"))
        Set(ip_name, i_value);
}

void Clear(const char* ip_name)
{
    d.GetType("global")->GetItem(ip_name).Disconnect("global_value");
}

std::string GetVolatile(const char* ip_name)
{
    return ValueOf("vglobal", ip_name);
}

void SetVolatile(const char* ip_name, const std::string& i_value)
{
    Assign("vglobal", ip_name, i_value);
}

}  // namespace Settings
