// The engine's settings as a session holds them: read from settings.txt in the
// data folder when the session opens, and every change checked by its rule
// (setting_rules) and written at once. A refused change leaves the value and
// the file as they were.
#pragma once

#include <string>
#include <vector>

#include "download_engine/settings.h"
#include "download_engine/status.h"

namespace engine {

class SettingsStore {
 public:
  // A damaged file is kept beside for a look (".damaged") and the defaults
  // are used and written; a peer id is made once and kept.
  void Open(const std::wstring& folder);
  const Settings& Values() const { return settings_; }

  Status SetFlag(bool Settings::*field, bool value);
  // A number with a rule of its own (RuleFor).
  Status SetNumber(int32_t Settings::*field, long value);
  Status SetLimits(long downloadKiB, long uploadKiB);
  // which: 0 the download limit, 1 the upload limit.
  Status GetLimit(unsigned which, long* kiB) const;
  Status SetProxy(const ProxySettings& given);
  Status SetClientVersion(const std::wstring& version);
  // The persistent cookies.
  Status SetCookies(std::vector<Cookie> cookies);

 private:
  Status Save();

  std::wstring path_;
  Settings settings_;
};

}  // namespace engine
