// Files from the internet carry their origin, as every browser's downloads
// do: the Zone.Identifier stream of a finished file says it came from the
// Internet zone (3), so that Windows warns before a downloaded program runs.
#pragma once

#include <string>

namespace engine {

// The stream's text: "[ZoneTransfer]", "ZoneId=3", then "ReferrerUrl=" and
// "HostUrl=" for the URLs that are http or https. The URLs lose any user
// name and password and their fragment; every character outside printable
// ASCII is percent-encoded (UTF-8), so no URL can add a line of its own.
// Lines end with CR LF.
std::string ZoneIdentifierText(const std::wstring& hostUrl, const std::wstring& referrerUrl);

// Writes the text as the file's "Zone.Identifier" stream. Only where the
// file's volume has named streams (NTFS does; FAT and Wine's file system do
// not, and Wine would make a separate file of that name): false otherwise,
// or when the write fails. A download is complete either way.
bool WriteZoneIdentifier(const std::wstring& path, const std::string& text);

}  // namespace engine
