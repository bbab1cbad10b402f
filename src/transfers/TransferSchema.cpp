#include "transfers/TransferSchema.h"

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"

#include <initializer_list>

namespace
{
void Declare(const char* ip_name, bool i_primary = false, bool i_null = false)
{
    d.NewType(ip_name, i_primary, i_null, true);
}

// The entry holds one item of each attribute type; an attribute item serves
// many entries when shared, one when private.
void Relate(const char* ip_entry, std::initializer_list<const char*> i_attributes, bool i_shared)
{
    Type* lp_entry = d.GetType(ip_entry);
    for (const char* lp_attribute : i_attributes)
        lp_entry->RelateToType(d.GetType(lp_attribute), i_shared ? Many : One, One, false);
}

void SaveWhole(const char* ip_type)
{
    if (dataSaver)
        dataSaver->AddSavedType(ip_type);
}

void SaveWith(const char* ip_owner, std::initializer_list<const char*> i_types)
{
    if (!dataSaver)
        return;
    for (const char* lp_type : i_types)
        dataSaver->AddSavedByConnectionType(lp_type, ip_owner);
}
}  // namespace

namespace TransferSchema
{
void DeclareDownloadTypes()
{
    Declare("download_entry", true, true);
    for (const char* lp_name : {"file_name", "remote_folder", "file_size", "download_folder", "transfer_req",
                                "remote_transfer_req"})
        Declare(lp_name);
    Declare("download_socket", true);
    Declare("download_file", true);
    Declare("write_position");
    Declare("download_entry_status");
    Declare("download_order");
    Declare("upload_socket", true);
    Declare("upload_file", true);
    Declare("read_position");
    Declare("upload_entry_status", true);
    Declare("upload_order");
    Declare("is_active", false, true);
    for (const char* lp_name : {"last_receipt_time", "last_speed_measurement_time", "bytes_per_second",
                                "bytes_since_last_receipt", "place_in_line", "last_place_in_line_request_time"})
        Declare(lp_name);
    Declare("download_thread", true);
    Declare("subfolder_save_level");
    Declare("last_status_change_time");
    Declare("partial_path");
    Declare("partial_unrecorded", false, true);
    Declare("complete_path");

    Relate("download_entry",
           {"user", "file_name", "remote_folder", "file_size", "download_folder", "remote_transfer_req", "write_position",
            "download_entry_status", "place_in_line", "subfolder_save_level", "last_status_change_time",
            "partial_path", "partial_unrecorded", "complete_path"},
           true);
    Relate("download_entry",
           {"transfer_req", "download_socket", "download_thread", "download_file", "download_order", "last_receipt_time",
            "last_speed_measurement_time", "bytes_per_second", "bytes_since_last_receipt"},
           false);
    Relate("download_entry_status", {"is_active"}, true);
    Relate("user", {"last_place_in_line_request_time"}, true);

    SaveWhole("download_entry");
    SaveWith("download_entry", {"user", "file_name", "remote_folder", "file_size", "download_folder",
                                "download_entry_status", "download_order", "subfolder_save_level",
                                "partial_path", "complete_path"});
}

void DeclareUploadTypes()
{
    Declare("upload_entry", true, true);
    Declare("filename_as_requested");
    Declare("upload_start_time");
    Declare("bytes_uploaded");
    Declare("upload_thread", true);
    Declare("effective_upload_order");
    // Why an upload of ours was aborted, when it is worth showing.
    Declare("upload_failure_reason");

    Relate("upload_entry",
           {"user", "shared_file", "read_position", "upload_entry_status", "filename_as_requested", "upload_start_time",
            "bytes_uploaded", "last_status_change_time", "upload_failure_reason"},
           true);
    Relate("upload_entry",
           {"upload_socket", "upload_file", "upload_order", "transfer_req", "last_receipt_time",
            "last_speed_measurement_time", "bytes_per_second", "bytes_since_last_receipt", "upload_thread",
            "effective_upload_order"},
           false);
    Relate("upload_entry_status", {"is_active"}, true);
}

void DeclareDenialReason()
{
    Declare("denial_reason");
    Relate("download_entry", {"denial_reason"}, true);
    Relate("upload_entry", {"denial_reason"}, true);
}

void DeclareCompleteDownloadTypes()
{
    Declare("complete_download", true, true);
    const std::initializer_list<const char*> l_attributes{
        "user", "complete_download_folder", "complete_download_relative_folder", "complete_download_filename",
        "complete_download_file_size", "complete_download_completion_time"};
    for (const char* lp_name : l_attributes) {
        if (!d.HasType(lp_name))
            Declare(lp_name);
    }
    Relate("complete_download", l_attributes, true);
    Relate("complete_download", {"search_request_text"}, true);
    SaveWhole("complete_download");
    SaveWith("complete_download", l_attributes);
}
}  // namespace TransferSchema
