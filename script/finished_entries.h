// Whether a page's delete names one finished entry: the engine's finished list
// holds an entry of that key whose path (the tenth field of its text) is the one
// given. Such a delete means that entry alone.
#pragma once

#include <string>

#include "engine/engine_interfaces.h"

// False when the list cannot be had: the delete then goes on as for any key.
bool NamesFinishedEntry(IDownload* download, const std::wstring& key, const std::wstring& path);
