// The item types of the server link, their relations and what is saved.
#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "server/Server.h"

void Server::CreateData()
{
    Type* lp_user = d.NewType("user", true, false, true);
    Type* lp_addressRequest = d.NewType("user_address_request", false, true, false);
    Type* lp_tracked = d.NewType("is_tracked", false, true, true);
    // A user's status as the server last told it since the login: online,
    // reported offline, or neither (not told yet, or the link is down).
    Type* lp_online = d.NewType("is_online", false, true, true);
    Type* lp_offline = d.NewType("is_offline", false, true, true);
    Type* lp_privileged = d.NewType("is_privileged", false, true, true);
    lp_user->RelateToType(lp_addressRequest, One, One, false);
    lp_user->RelateToType(lp_tracked, Many, One, false);
    lp_user->RelateToType(lp_online, Many, One, false);
    lp_user->RelateToType(lp_offline, Many, One, false);
    lp_user->RelateToType(lp_privileged, Many, One, false);

    // Rooms are roots: a saved auto-join room has no members until joined,
    // and must survive the collection of unreachable items meanwhile.
    Type* lp_room = d.NewType("room", true, false, true);
    Type* lp_inRoom = d.NewType("in_room", false, true, true);
    Type* lp_autojoin = d.NewType("room_autojoin", false, true, true);
    Type* lp_userCount = d.NewType("user_count", false, false, true);
    lp_room->RelateToType(lp_user, Many, Many, false);
    lp_room->RelateToType(lp_inRoom, Many, One, false);
    lp_room->RelateToType(lp_autojoin, Many, One, false);
    lp_room->RelateToType(lp_userCount, Many, One, false);

    Type* lp_speed = d.NewType("average_download_speed", false, false, true);
    Type* lp_files = d.NewType("shared_files_count", false, false, true);
    Type* lp_country = d.NewType("country_code", false, false, true);
    lp_user->RelateToType(lp_speed, Many, One, false);
    lp_user->RelateToType(lp_files, Many, One, false);
    lp_user->RelateToType(lp_country, Many, One, false);

    Type* lp_inUserList = d.NewType("in_user_list", false, true, true);
    Type* lp_group = d.NewType("user_list_group", true, false, true);
    Type* lp_priority = d.NewType("group_download_priority", false, false, true);
    lp_user->RelateToType(lp_inUserList, One, One, false);
    lp_inUserList->RelateToType(lp_group, Many, Many, false);
    lp_group->RelateToType(lp_priority, Many, One, false);

    if (!dataSaver)
        return;
    dataSaver->AddSavedByConnectionType("user", "in_user_list");
    dataSaver->AddSavedType("in_user_list");
    dataSaver->AddSavedType("user_list_group");
    // Without this every group's download priority would be lost at each
    // restart.
    dataSaver->AddSavedByConnectionType("group_download_priority", "user_list_group");
    dataSaver->AddSavedType("room_autojoin");
    dataSaver->AddSavedByConnectionType("room", "room_autojoin");
}
