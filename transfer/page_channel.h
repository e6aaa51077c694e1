// Everything the plug-in tells the page outside a call's own result: engine
// events posted as window messages through a "javascript:" URL, and task texts
// handed to a page function. Texts leave as pure ASCII: every UTF-16 code unit
// becomes \uXXXX, so no character of a text can end the string literal, start
// a percent escape or break the script.
#pragma once

#include <string>

#include "npapi/npruntime.h"

// Replaces every occurrence of `search` (non-empty); inserted text is never searched again.
void ReplaceAll(std::wstring& text, const std::wstring& search, const std::wstring& replacement);

// Six bytes per code unit: a backslash, "u" and four upper-case hexadecimal digits.
std::string EscapeForScript(const std::wstring& text);

// Asks the host to run window.postMessage with the text in the element's own frame
// (double quotes arrive preceded by a backslash). Plug-in thread only.
void PostPageMessage(NPP npp, const std::wstring& text);

// Calls a page function with one string argument; whatever it returns is released.
bool CallPageCallback(NPP npp, NPObject* callback, const std::string& text);
