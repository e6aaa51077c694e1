// The Config object's settings: each read with the engine open, or changed
// through the session's SettingsStore (its rules and its file), with what a
// change sets going at once (the rate limit, the download slots).
#include "download_engine/engine.h"

#include "download_engine/engine_common.h"
#include "download_engine/machine_identity.h"

namespace engine {

template <typename Field, typename Value>
Status Engine::ReadSetting(Field Settings::*field, Value* value) {
  ENGINE_OPEN_OR_RETURN();
  *value = session_.Values().*field;
  return Ok();
}

Status Engine::SetProxy(const ProxySettings& given) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().SetProxy(given);
}

Status Engine::SetUpnp(bool on) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().SetFlag(&Settings::upnp, on);
}

Status Engine::GetUpnp(bool* on) { return ReadSetting(&Settings::upnp, on); }

Status Engine::SetLimitSpeed(long downloadKiB, long uploadKiB) {
  ENGINE_OPEN_OR_RETURN();
  Status status = session_.Store().SetLimits(downloadKiB, uploadKiB);
  // A refused pair changes nothing; an accepted one holds even if the file could not be written.
  session_.Limiter()->SetRate(static_cast<uint64_t>(session_.Values().downloadLimitKiB) * 1024);
  return status;
}

Status Engine::GetLimitSpeed(BYTE which, long* kiB) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().GetLimit(which, kiB);
}

Status Engine::SetDiskCache(long kiB) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().SetNumber(&Settings::diskCacheKiB, kiB);
}

Status Engine::GetDiskCache(long* kiB) { return ReadSetting(&Settings::diskCacheKiB, kiB); }

Status Engine::SetMaxDownloadCount(long count) {
  ENGINE_OPEN_OR_RETURN();
  Status saved = session_.Store().SetNumber(&Settings::maxDownloads, count);
  if (saved.result == E_INVALIDARG) return saved;
  scheduler_.Schedule();
  return saved;
}

Status Engine::GetMaxDownloadCount(long* count) { return ReadSetting(&Settings::maxDownloads, count); }

Status Engine::SetAutoStart(bool on) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().SetFlag(&Settings::autoStart, on);
}

Status Engine::GetAutoStart(bool* on) { return ReadSetting(&Settings::autoStart, on); }

Status Engine::SetUdpPort(long port) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().SetNumber(&Settings::udpPort, port);
}

Status Engine::GetUdpPort(long* port) { return ReadSetting(&Settings::udpPort, port); }

Status Engine::SetSingleConnection(bool on) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().SetFlag(&Settings::singleConnection, on);
}

Status Engine::GetSingleConnection(bool* on) { return ReadSetting(&Settings::singleConnection, on); }

Status Engine::GetPeerId(std::wstring* id) { return ReadSetting(&Settings::peerId, id); }

Status Engine::GetAddress(std::wstring* address) {
  ENGINE_OPEN_OR_RETURN();
  *address = MachineAddress();
  return Ok();
}

Status Engine::SetClientVersion(const std::wstring& version) {
  ENGINE_OPEN_OR_RETURN();
  return session_.Store().SetClientVersion(version);
}

}  // namespace engine
