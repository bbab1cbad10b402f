#pragma once

// The states of transfers as the store holds them: the value of an entry's
// "download_entry_status" or "upload_entry_status" item, lower case, with
// the blanks shown. A state is active while its value is connected to the
// "is_active" flag; the transfer manager marks those values once, at start.
namespace TransferStatus
{
// Both kinds.
inline constexpr char Queued[] = "queued";
inline constexpr char Complete[] = "complete";
inline constexpr char Aborted[] = "aborted";
inline constexpr char Denied[] = "denied";
inline constexpr char LocalError[] = "local error";
// Downloads only; the one active download state.
inline constexpr char Downloading[] = "downloading";
// Uploads only; all four are active.
inline constexpr char Requesting[] = "requesting";
inline constexpr char Connecting[] = "connecting";
inline constexpr char WaitingForOffset[] = "waiting for offset";
inline constexpr char Uploading[] = "uploading";
}  // namespace TransferStatus
