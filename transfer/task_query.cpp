#include "transfer/task_query.h"

#include "engine/engine_call.h"
#include "script/conversions.h"

namespace {

std::wstring TextOf(const UniqueBstr& text) { return text.Get() != nullptr ? std::wstring(text.Get()) : std::wstring(); }

}  // namespace

std::optional<_TaskParam> QueryTaskRecord(IDownload* download, const std::wstring& key) {
  UniqueBstr keyText = WideToBstr(key.c_str());
  UniqueBstr url, folder, fileName, message;
  BYTE state = 0xFF;
  LONGLONG size = 0, done = 0;
  ULONG speed = 0;
  EngineCall(download, &IDownload::QueryTaskInfo, keyText.Get(), url.Out(), folder.Out(), fileName.Out(), &state,
             &size, &done, &speed, message.Out());
  if (state == 0xFF) return std::nullopt;
  // The same fields as the record an event of the task keeps (transfer/task_event.h).
  _TaskParam record;
  record.key = key;
  record.text1 = TextOf(url);
  record.text2 = TextOf(folder);
  record.text3 = TextOf(fileName);
  record.text4 = TextOf(message);
  record.state = state;
  record.number1 = size;
  record.number2 = done;
  record.number3 = speed;
  return record;
}
