#pragma once

// The item types of the transfer manager, their relations and which of them
// the client data file keeps. Every entry holds at most one item of each
// attribute type; an attribute value is shared by many entries or private
// to one. Needs "user", "shared_file", "search_request_text" and the data
// saver (when one exists) before it runs.
namespace TransferSchema
{
// "download_entry" with its attributes, the "is_active" flag and the
// per-user time of the last place-in-line request; downloads are saved,
// each with the path of the partial file it writes and, once finished, the
// path its file was stored under (none in data files of older versions).
void DeclareDownloadTypes();
// "upload_entry" with its attributes (among them the
// "upload_failure_reason" that the Uploads view shows for an aborted
// upload); nothing of an upload is saved.
void DeclareUploadTypes();
// "denial_reason", for downloads and uploads.
void DeclareDenialReason();
// "complete_download", a finished download's record; saved whole.
void DeclareCompleteDownloadTypes();
}  // namespace TransferSchema
