#include "download_engine/settings_store.h"

#include <windows.h>

#include "download_engine/machine_identity.h"
#include "download_engine/setting_rules.h"

namespace engine {

void SettingsStore::Open(const std::wstring& folder) {
  path_ = folder + L"\\settings.txt";
  bool damaged = false;
  settings_ = LoadSettings(path_, &damaged);
  // As with a damaged journal: kept beside for a look, the defaults used and written.
  if (damaged) MoveFileExW(path_.c_str(), (path_ + L".damaged").c_str(), MOVEFILE_REPLACE_EXISTING);
  bool save = damaged;
  if (settings_.peerId.empty()) {
    settings_.peerId = NewPeerId();
    save = true;
  }
  if (save) SaveSettings(path_, settings_);
}

Status SettingsStore::Save() {
  unsigned long error = SaveSettings(path_, settings_);
  if (error != 0) return Fail(HRESULT_FROM_WIN32(error), L"the settings could not be saved");
  return Ok();
}

Status SettingsStore::SetFlag(bool Settings::*field, bool value) {
  settings_.*field = value;
  return Save();
}

Status SettingsStore::SetNumber(int32_t Settings::*field, long value) {
  std::wstring reason;
  if (!CheckNumber(RuleFor(field), value, &reason)) return BadArgument(reason);
  settings_.*field = static_cast<int32_t>(value);
  return Save();
}

Status SettingsStore::SetLimits(long downloadKiB, long uploadKiB) {
  std::wstring reason;
  if (!CheckNumber(RuleFor(&Settings::downloadLimitKiB), downloadKiB, &reason) ||
      !CheckNumber(RuleFor(&Settings::uploadLimitKiB), uploadKiB, &reason))
    return BadArgument(reason);
  settings_.downloadLimitKiB = downloadKiB;
  settings_.uploadLimitKiB = uploadKiB;
  return Save();
}

Status SettingsStore::GetLimit(unsigned which, long* kiB) const {
  if (which == 0) *kiB = settings_.downloadLimitKiB;
  else if (which == 1) *kiB = settings_.uploadLimitKiB;
  else return BadArgument(L"ask for limit 0 (download) or 1 (upload)");
  return Ok();
}

Status SettingsStore::SetProxy(const ProxySettings& given) {
  ProxySettings proxy;
  std::wstring reason;
  if (!CheckProxy(given, &proxy, &reason)) return BadArgument(reason);
  settings_.proxy = proxy;
  return Save();
}

Status SettingsStore::SetClientVersion(const std::wstring& version) {
  std::wstring reason;
  if (!CheckClientVersion(version, &reason)) return BadArgument(reason);
  settings_.clientVersion = version;
  return Save();
}

Status SettingsStore::SetCookies(std::vector<Cookie> cookies) {
  settings_.cookies = std::move(cookies);
  return Save();
}

}  // namespace engine
