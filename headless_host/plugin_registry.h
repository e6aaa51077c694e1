// Where Windows browsers find NPAPI modules without being told: the keys
// under Software\MozillaPlugins of HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE,
// each naming its module in "Path" and its types as subkeys of "MimeTypes".
#pragma once

#include <string>
#include <vector>

struct RegisteredPlugin {
  std::wstring key;   // e.g. HKEY_LOCAL_MACHINE\Software\MozillaPlugins\@vendor/name,version=1
  std::wstring path;  // the module, environment variables expanded
};

// Every registered module that names the type (compared without regard to
// case) and whose file exists: the current user's keys first, so that a
// user's own install comes before the machine's. The registry view is the
// host's own: a 32-bit host reads the 32-bit view, as a 32-bit browser does,
// and loads only modules it can load.
std::vector<RegisteredPlugin> FindRegisteredPlugins(const std::string& mimeType);
