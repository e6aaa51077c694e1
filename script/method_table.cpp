// The one place the script methods are registered, in the order pages know them.
#include "script/halvo_script_object.h"

void HalvoScriptObject::RegisterFunctions() {
  using Self = HalvoScriptObject;
  const struct {
    const char* name;
    bool (Self::*handler)(const NPVariant*, uint32_t, NPVariant*);
  } methods[] = {
      {"CreateDownload", &Self::CreateDownload},
      {"StopDownload", &Self::StopDownload},
      {"DeleteDownload", &Self::DeleteDownload},
      {"CancelDownload", &Self::CancelDownload},
      {"GetBlockStatusList", &Self::GetBlockStatusList},
      {"GetResourceSize", &Self::GetResourceSize},
      {"GetResourceInfo", &Self::NoOpHandler},
      {"GetTotalDownloadSpeed", &Self::GetTotalDownloadSpeed},
      {"GetDownloadingCount", &Self::GetDownloadingCount},
      {"ImportTask", &Self::ImportTask},
      {"SetCookie", &Self::SetCookie},
      {"ClearCookie", &Self::ClearCookie},
      {"LoadFinishTask", &Self::LoadFinishTask},
      {"LoadWorkTask", &Self::LoadWorkTask},
      {"Move", &Self::Move},
      {"AddPeer", &Self::NoOpHandler},
      {"SetResvrWordUrl", &Self::NoOpHandler},
      {"GetResvrWordUrl", &Self::NoOpHandler},
      {"SetProxy", &Self::SetProxy},
      {"GetProxy", &Self::GetProxy},
      {"SetUPnP", &Self::SetUPnP},
      {"GetUPnP", &Self::GetUPnP},
      {"SetLimitSpeed", &Self::SetLimitSpeed},
      {"GetLimitSpeed", &Self::GetLimitSpeed},
      {"SetDiskCache", &Self::SetDiskCache},
      {"GetDiskCache", &Self::GetDiskCache},
      {"SetMaxDownloadCount", &Self::SetMaxDownloadCount},
      {"GetMaxDownloadCount", &Self::GetMaxDownloadCount},
      {"SetAutoStart", &Self::SetAutoStart},
      {"GetAutoStart", &Self::GetAutoStart},
      {"SetUDPPort", &Self::SetUDPPort},
      {"GetUDPPort", &Self::GetUDPPort},
      {"SetDownloadSingleThread", &Self::SetDownloadSingleThread},
      {"GetDownloadSingleThread", &Self::GetDownloadSingleThread},
      {"GetPeerID", &Self::GetPeerID},
      {"GetIP", &Self::GetIP},
      {"SetClientVersion", &Self::SetClientVersion},
      {"ExecuteFile", &Self::ExecuteFile},
  };
  for (const auto& method : methods) AddFunction({method.name, static_cast<FunctionHandler>(method.handler)});
}
