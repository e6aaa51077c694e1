// The Config object's settings: each read with the engine open, or checked by
// its rule, written and saved at once.
#include "download_engine/engine.h"

#include "download_engine/engine_common.h"
#include "download_engine/machine_identity.h"
#include "download_engine/setting_rules.h"

namespace engine {

template <typename Field, typename Value>
Status Engine::ReadSetting(Field Settings::*field, Value* value) {
  ENGINE_OPEN_OR_RETURN();
  *value = settings_.*field;
  return Ok();
}

template <typename Field>
Status Engine::WriteSetting(Field Settings::*field, Field value) {
  ENGINE_OPEN_OR_RETURN();
  settings_.*field = value;
  return SaveSettingsNow();
}

Status Engine::WriteNumber(int32_t Settings::*field, long value) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckNumber(RuleFor(field), value, &reason)) return BadArgument(reason);
  settings_.*field = static_cast<int32_t>(value);
  return SaveSettingsNow();
}

Status Engine::SetProxy(const ProxySettings& given) {
  ENGINE_OPEN_OR_RETURN();
  ProxySettings proxy;
  std::wstring reason;
  if (!CheckProxy(given, &proxy, &reason)) return BadArgument(reason);
  settings_.proxy = proxy;
  return SaveSettingsNow();
}

Status Engine::SetUpnp(bool on) { return WriteSetting(&Settings::upnp, on); }

Status Engine::GetUpnp(bool* on) { return ReadSetting(&Settings::upnp, on); }

Status Engine::SetLimitSpeed(long downloadKiB, long uploadKiB) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckNumber(RuleFor(&Settings::downloadLimitKiB), downloadKiB, &reason) ||
      !CheckNumber(RuleFor(&Settings::uploadLimitKiB), uploadKiB, &reason))
    return BadArgument(reason);
  settings_.downloadLimitKiB = downloadKiB;
  settings_.uploadLimitKiB = uploadKiB;
  limiter_->SetRate(static_cast<uint64_t>(downloadKiB) * 1024);
  return SaveSettingsNow();
}

Status Engine::GetLimitSpeed(BYTE which, long* kiB) {
  ENGINE_OPEN_OR_RETURN();
  if (which == 0) *kiB = settings_.downloadLimitKiB;
  else if (which == 1) *kiB = settings_.uploadLimitKiB;
  else return BadArgument(L"ask for limit 0 (download) or 1 (upload)");
  return Ok();
}

Status Engine::SetDiskCache(long kiB) { return WriteNumber(&Settings::diskCacheKiB, kiB); }

Status Engine::GetDiskCache(long* kiB) { return ReadSetting(&Settings::diskCacheKiB, kiB); }

Status Engine::SetMaxDownloadCount(long count) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckNumber(RuleFor(&Settings::maxDownloads), count, &reason)) return BadArgument(reason);
  settings_.maxDownloads = count;
  Status saved = SaveSettingsNow();
  Schedule();
  return saved;
}

Status Engine::GetMaxDownloadCount(long* count) { return ReadSetting(&Settings::maxDownloads, count); }

Status Engine::SetAutoStart(bool on) { return WriteSetting(&Settings::autoStart, on); }

Status Engine::GetAutoStart(bool* on) { return ReadSetting(&Settings::autoStart, on); }

Status Engine::SetUdpPort(long port) { return WriteNumber(&Settings::udpPort, port); }

Status Engine::GetUdpPort(long* port) { return ReadSetting(&Settings::udpPort, port); }

Status Engine::SetSingleConnection(bool on) { return WriteSetting(&Settings::singleConnection, on); }

Status Engine::GetSingleConnection(bool* on) { return ReadSetting(&Settings::singleConnection, on); }

Status Engine::GetPeerId(std::wstring* id) { return ReadSetting(&Settings::peerId, id); }

Status Engine::GetAddress(std::wstring* address) {
  ENGINE_OPEN_OR_RETURN();
  *address = MachineAddress();
  return Ok();
}

Status Engine::SetClientVersion(const std::wstring& version) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckClientVersion(version, &reason)) return BadArgument(reason);
  settings_.clientVersion = version;
  return SaveSettingsNow();
}

}  // namespace engine
