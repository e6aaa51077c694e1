// The download-task methods: each converts its arguments, calls the engine's
// Download object and answers a status.
#include <vector>

#include "engine/engine_call.h"
#include "script/conversions.h"
#include "script/engine_list.h"
#include "script/finished_entries.h"
#include "script/halvo_script_object.h"
#include "script/script_status.h"
#include "transfer/halvo_plugin.h"
#include "transfer/page_channel.h"
#include "transfer/task_query.h"

namespace {

// A string argument as wide text, as the page's store keys it (invalid UTF-8 reads as empty).
std::wstring WideText(const NPVariant& value) {
  auto wide = Utf8ToWide(NPStringToString(value.value.stringValue).c_str());
  return wide ? std::wstring(wide.get()) : std::wstring();
}

}  // namespace

bool HalvoScriptObject::CreateDownload(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount,
              {Argument::String, Argument::String, Argument::String, Argument::String, Argument::Number,
               Argument::Number},
              result))
    return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  BYTE created = 0;
  EngineCall(download, &IDownload::CreateDownload, Utf8Bstr(args[0]).Get(), Utf8Bstr(args[1]).Get(),
             Utf8Bstr(args[2]).Get(), AnsiBstr(args[3]).Get(), static_cast<long>(NumberToInt(args[4].value.doubleValue)),
             static_cast<long>(NumberToInt(args[5].value.doubleValue)), &created);
  return Done(result);
}

bool HalvoScriptObject::StopDownload(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  EngineCall(download, &IDownload::StopDownload, Utf8Bstr(args[0]).Get());
  return Done(result);
}

bool HalvoScriptObject::DeleteDownload(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String, Argument::String, Argument::Any}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  const long flag = NumberToBool(ValueAsDouble(args[2])) ? 1 : 0;
  const std::wstring key = WideText(args[0]);
  // A page that names a finished entry by its path deletes that entry alone: a
  // re-download of the same address still working keeps its task and its partial file.
  if (!NamesFinishedEntry(download, key, WideText(args[1]))) {
    // The task leaves the page's store before the engine hears of it, even if the engine then fails.
    plugin->RemoveTask(key);
    EngineCall(download, &IDownload::DeleteDownload, Utf8Bstr(args[0]).Get(), flag);
  }
  EngineCall(download, &IDownload::DeleteDownload2, Utf8Bstr(args[0]).Get(), Utf8Bstr(args[1]).Get(), flag);
  return Done(result);
}

bool HalvoScriptObject::CancelDownload(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  EngineCall(download, &IDownload::CancelDownload, Utf8Bstr(args[0]).Get());
  return Done(result);
}

bool HalvoScriptObject::GetBlockStatusList(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  UniqueBstr blocks;
  long count = 0;
  EngineCall(download, &IDownload::GetBlockStatusList, Utf8Bstr(args[0]).Get(), blocks.Out(), &count);
  return Done(result);
}

bool HalvoScriptObject::GetResourceSize(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  long size = 0;
  EngineCall(download, &IDownload::GetResourceSize, Utf8Bstr(args[0]).Get(), &size);
  return Done(result);
}

bool HalvoScriptObject::GetTotalDownloadSpeed(Args, uint32_t, NPVariant* result) {
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  long speed = 0;
  EngineCall(download, &IDownload::GetTotalDownloadSpeed, &speed);
  return Done(result);
}

bool HalvoScriptObject::GetDownloadingCount(Args, uint32_t, NPVariant* result) {
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  long count = 0;
  EngineCall(download, &IDownload::GetDownloadingCount, &count);
  return Done(result);
}

bool HalvoScriptObject::ImportTask(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  EngineCall(download, &IDownload::ImportTask, Utf8Bstr(args[0]).Get());
  return Done(result);
}

bool HalvoScriptObject::SetCookie(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String, Argument::Any}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  EngineCall(download, &IDownload::SetCookie, AnsiBstr(args[0]).Get(),
             NumberToBool(ValueAsDouble(args[1])) ? 1L : 0L);
  return Done(result);
}

bool HalvoScriptObject::ClearCookie(Args, uint32_t, NPVariant* result) {
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  EngineCall(download, &IDownload::ClearCookie);
  return Done(result);
}

bool HalvoScriptObject::Move(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::String, Argument::Number}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  EngineCall(download, &IDownload::Move, Utf8Bstr(args[0]).Get(),
             static_cast<BYTE>(NumberToInt(args[1].value.doubleValue) & 0xFF));
  return Done(result);
}

bool HalvoScriptObject::LoadWorkTask(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Object}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  NPObject* callback = args[0].value.objectValue;
  HalvoPlugin* owner = plugin;
  EngineList list;
  EngineCall(download, &IDownload::ListWorkTasks, list.Out());
  // Only keys this call added leave the store at its end; a task the page
  // already knew from an event is refreshed and stays.
  std::vector<std::wstring> added;
  try {
    for (const auto& key : list.Strings()) {
      if (!key) continue;
      std::optional<_TaskParam> record = QueryTaskRecord(download, *key);
      if (record && owner->StoreTask(*record)) added.push_back(*key);
    }
    owner->DeliverTaskRecords(callback);
    // A page function that removed the element has taken the instance with it.
    if (plugin != owner) return Done(result);
  } catch (...) {
    // No half-loaded list stays behind a failed engine call.
    owner->RemoveTasks(added);
    throw;
  }
  owner->RemoveTasks(added);
  return Done(result);
}

bool HalvoScriptObject::LoadFinishTask(Args args, uint32_t argCount, NPVariant* result) {
  if (!Accept(args, argCount, {Argument::Object}, result)) return true;
  IDownload* download = ReadyDownload(result);
  if (download == nullptr) return true;
  NPObject* callback = args[0].value.objectValue;
  NPP npp = plugin->npp;
  EngineList list;
  EngineCall(download, &IDownload::ListFinishedTasks, list.Out());
  for (const auto& text : list.Strings()) {
    if (plugin == nullptr) break;  // the page removed the element from inside its function
    CallPageCallback(npp, callback, EscapeForScript(text.value_or(L"")));
  }
  return Done(result);
}
