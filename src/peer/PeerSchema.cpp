#include "peer/PeerSchema.h"

#include "core/store/Data.h"

namespace
{
Type* Declare(const char* ip_name, bool i_primary, bool i_null, bool i_spontaneous)
{
    return d.NewType(ip_name, i_primary, i_null, i_spontaneous);
}

// An A item holds i_aHolds B items; a B item holds i_bHolds A items.
void Relate(const char* ip_a, const char* ip_b, OneOrMany i_aHolds, OneOrMany i_bHolds, bool i_aOwnsB = false)
{
    d.GetType(ip_a)->RelateToType(d.GetType(ip_b), i_bHolds, i_aHolds, i_aOwnsB);
}
}

namespace PeerSchema
{
void DeclareConnectionTypes()
{
    Declare("uninitialized_socket", true, false, false);
    Declare("peer_socket", true, false, false);
    Declare("connection_open_time", false, false, true);
    // Holds the address of the connection's QDateTime.
    Declare("last_activity_time", true, false, true);
    Declare("is_obfuscated", false, true, true);

    Relate("peer_socket", "user", One, Many);
    Relate("peer_socket", "connection_open_time", One, Many);
    Relate("peer_socket", "last_activity_time", One, Many);
    Relate("peer_socket", "is_obfuscated", One, Many);
    Relate("uninitialized_socket", "is_obfuscated", One, Many);
}

void DeclareRelayedRequestTypes()
{
    Declare("peer_connection_request", true, true, false);
    Declare("peer_connection_request_id", false, false, true);
    Declare("peer_connection_type", false, false, true);
    Declare("peer_connection_request_socket", true, false, false);
    Declare("user_address", false, false, true);
    Declare("user_port", false, false, true);
    Declare("user_obfuscated_port", false, false, true);
    Declare("socket_creation_time", false, false, true);

    Relate("peer_connection_request", "peer_connection_request_id", One, Many);
    Relate("peer_connection_request", "peer_connection_request_socket", One, One);
    Relate("peer_connection_request", "user", One, Many);
    Relate("peer_connection_request", "peer_connection_type", One, Many);
    Relate("peer_connection_request", "is_obfuscated", One, Many);
    Relate("peer_connection_request_socket", "socket_creation_time", One, Many);
    Relate("user", "user_address", One, Many);
    Relate("user", "user_port", One, Many);
    Relate("user", "user_obfuscated_port", One, Many);
}

void DeclareSearchTypes()
{
    Declare("search_request", true, false, false);
    Declare("search_request_text", false, false, true);
    Declare("wishlist_search", false, true, true);
    Declare("search_results", true, true, true);
    Declare("search_result", false, true, true);
    Declare("search_results_user_available", false, false, true);
    Declare("search_results_user_speed", false, false, true);
    Declare("search_results_uploads_in_queue", false, false, true);
    Declare("search_result_file_name", false, false, true);
    Declare("search_result_file_folder", false, false, true);
    Declare("search_result_file_size", false, false, true);
    // One path of one user's answers within one search (see
    // PeerSearchReplies.cpp).
    Declare("search_result_key", false, false, true);

    Relate("search_request", "search_request_text", One, Many);
    Relate("search_request", "wishlist_search", One, Many);
    Relate("search_request", "search_results", Many, One, true);
    Relate("search_results", "search_result", Many, One, true);
    Relate("search_results", "user", One, Many);
    Relate("search_results", "search_results_user_available", One, Many);
    Relate("search_results", "search_results_user_speed", One, Many);
    Relate("search_results", "search_results_uploads_in_queue", One, Many);
    Relate("search_result", "search_result_file_name", One, Many);
    Relate("search_result", "search_result_file_folder", One, Many);
    Relate("search_result", "search_result_file_size", One, Many);
    Relate("search_result", "search_result_key", One, Many);

    Declare("mpeg_version", false, false, true);
    Declare("channel_mode", false, false, true);
    Declare("audio_frequency", false, false, true);
    Declare("bitrate_mode", false, false, true);
    Declare("bitrate", false, false, true);
    Declare("length_seconds", false, false, true);

    Relate("search_result", "bitrate_mode", One, Many);
    Relate("search_result", "bitrate", One, Many);
    Relate("search_result", "length_seconds", One, Many);
}

void DeclareQueueTypes()
{
    // Holds the address of the queued copy of a message.
    Declare("unsent_message", true, false, true);
    Declare("send_order", false, false, true);
    Declare("send_time", false, false, true);
    Declare("send_count", false, false, true);

    Relate("unsent_message", "user", One, Many);
    Relate("unsent_message", "send_order", One, One);
    Relate("unsent_message", "send_time", One, Many);
    Relate("unsent_message", "send_count", One, Many);
}

void DeclareAttemptTypes()
{
    Declare("connect_to_peer_request", true, true, true);
    Declare("connect_to_peer_request_status", false, false, true);
    Declare("connect_to_peer_request_socket", true, false, true);
    Declare("indirect_connect_to_peer_request", true, false, true);

    Relate("connect_to_peer_request", "connect_to_peer_request_status", One, Many);
    Relate("connect_to_peer_request", "connect_to_peer_request_socket", One, One);
    Relate("connect_to_peer_request", "user", One, Many);
    Relate("connect_to_peer_request", "peer_connection_type", One, Many);
    Relate("connect_to_peer_request", "indirect_connect_to_peer_request", One, One);
    Relate("connect_to_peer_request", "send_time", One, Many);
    Relate("connect_to_peer_request_socket", "socket_creation_time", One, Many);
    Relate("indirect_connect_to_peer_request", "send_time", One, Many);
    Relate("connect_to_peer_request_socket", "user", One, Many);
    Relate("connect_to_peer_request_socket", "peer_connection_type", One, Many);
    Relate("connect_to_peer_request_socket", "is_obfuscated", One, Many);
    Relate("indirect_connect_to_peer_request", "user", One, Many);
    Relate("indirect_connect_to_peer_request", "peer_connection_type", One, Many);
}
}
