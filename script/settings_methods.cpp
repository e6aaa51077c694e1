// The engine-settings methods: each converts its arguments (texts by the ANSI
// route), calls the engine's Config object and answers a status.
#include "engine/engine_call.h"
#include "script/conversions.h"
#include "script/halvo_script_object.h"
#include "script/script_status.h"
#include "transfer/halvo_plugin.h"

namespace {

using Args = const NPVariant*;

long Number(const NPVariant& value) { return NumberToInt(value.value.doubleValue); }
long Flag(const NPVariant& value) { return NumberToBool(ValueAsDouble(value)) ? 1 : 0; }

}  // namespace

bool HalvoScriptObject::SetProxy(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount,
              {Argument::String, Argument::Number, Argument::String, Argument::String, Argument::String,
               Argument::String},
              result))
    return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetProxy, AnsiBstr(args[0]).Get(), Number(args[1]), AnsiBstr(args[2]).Get(),
             AnsiBstr(args[3]).Get(), AnsiBstr(args[4]).Get(), AnsiBstr(args[5]).Get());
  return Done(result);
}

bool HalvoScriptObject::GetProxy(Args, uint32_t, NPVariant* result) {
  if (ReadyConfig(result) == nullptr) return true;
  return Done(result);
}

bool HalvoScriptObject::SetUPnP(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Any}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetUPnP, Flag(args[0]));
  return Done(result);
}

bool HalvoScriptObject::GetUPnP(Args, uint32_t, NPVariant* result) {
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  long flag = 0;
  EngineCall(config, &IConfig::GetUPnP, &flag);
  return Done(result);
}

bool HalvoScriptObject::SetLimitSpeed(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Number, Argument::Number}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetLimitSpeed, Number(args[0]), Number(args[1]));
  return Done(result);
}

bool HalvoScriptObject::GetLimitSpeed(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Number}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  long speed = 0;
  EngineCall(config, &IConfig::GetLimitSpeed, static_cast<BYTE>(Number(args[0]) & 0xFF), &speed);
  return Done(result);
}

bool HalvoScriptObject::SetDiskCache(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Number}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetDiskCache, Number(args[0]));
  return Done(result);
}

bool HalvoScriptObject::GetDiskCache(Args, uint32_t, NPVariant* result) {
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  long size = 0;
  EngineCall(config, &IConfig::GetDiskCache, &size);
  return Done(result);
}

bool HalvoScriptObject::SetMaxDownloadCount(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Number}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetMaxDownloadCount, Number(args[0]));
  return Done(result);
}

bool HalvoScriptObject::GetMaxDownloadCount(Args, uint32_t, NPVariant* result) {
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  long count = 0;
  EngineCall(config, &IConfig::GetMaxDownloadCount, &count);
  return Done(result);
}

bool HalvoScriptObject::SetAutoStart(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Any}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetAutoStart, Flag(args[0]));
  return Done(result);
}

bool HalvoScriptObject::GetAutoStart(Args, uint32_t, NPVariant* result) {
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  long flag = 0;
  EngineCall(config, &IConfig::GetAutoStart, &flag);
  return Done(result);
}

bool HalvoScriptObject::SetUDPPort(Args args, uint32_t argCount, NPVariant* result) {
  // Port 0 is refused with the arguments, before the instance is looked at.
  if (!Accept(args, argCount, {Argument::Any}, result)) return true;
  const double port = ValueAsDouble(args[0]);
  if (port == 0.0) {
    SetStatusResult(result, StatusBadArguments);
    return true;
  }
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetUDPPort, static_cast<long>(NumberToInt(port)));
  return Done(result);
}

bool HalvoScriptObject::GetUDPPort(Args, uint32_t, NPVariant* result) {
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  long port = 0;
  EngineCall(config, &IConfig::GetUDPPort, &port);
  return Done(result);
}

bool HalvoScriptObject::SetDownloadSingleThread(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Any}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetDownloadSingleThread, Flag(args[0]));
  return Done(result);
}

bool HalvoScriptObject::GetDownloadSingleThread(Args, uint32_t, NPVariant* result) {
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  long flag = 0;
  EngineCall(config, &IConfig::GetDownloadSingleThread, &flag);
  return Done(result);
}

bool HalvoScriptObject::GetPeerID(Args, uint32_t, NPVariant* result) { return TextResult(&IConfig::GetPeerID, result); }

bool HalvoScriptObject::GetIP(Args, uint32_t, NPVariant* result) { return TextResult(&IConfig::GetIP, result); }

bool HalvoScriptObject::TextResult(HRESULT (STDMETHODCALLTYPE IConfig::*getter)(BSTR*), NPVariant* result) {
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  UniqueBstr text;
  EngineCall(config, getter, text.Out());
  // Without host memory the call fails for script; no status is written.
  return StringToResult(BstrToAnsi(text.Get()).value_or(std::string()), result);
}

bool HalvoScriptObject::SetClientVersion(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String}, result)) return true;
  IConfig* config = ReadyConfig(result);
  if (config == nullptr) return true;
  EngineCall(config, &IConfig::SetClientVersion, AnsiBstr(args[0]).Get());
  return Done(result);
}
