// The file name a server suggests in its Content-Disposition header.
#pragma once

#include <string>

namespace engine {

// The filename* (RFC 5987, UTF-8 or ISO-8859-1) or else the filename
// parameter, unquoted; empty when the header names no file. The result is the
// server's text as it stands: the caller decides whether it is a safe name.
std::wstring FileNameFromDisposition(const std::wstring& header);

}  // namespace engine
