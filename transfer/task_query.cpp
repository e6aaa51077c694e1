#include "transfer/task_query.h"

#include "engine/engine_call.h"
#include "script/conversions.h"

namespace {

std::wstring TextOf(const UniqueBstr& text) { return text.Get() != nullptr ? std::wstring(text.Get()) : std::wstring(); }

}  // namespace

std::optional<_TaskParam> QueryTaskRecord(IDownload* download, const std::wstring& key) {
  UniqueBstr keyText = WideToBstr(key.c_str());
  UniqueBstr text1, text2, text3, text4;
  BYTE state = 0xFF;
  LONGLONG number1 = 0, number2 = 0;
  ULONG number3 = 0;
  EngineCall(download, &IDownload::QueryTaskInfo, keyText.Get(), text1.Out(), text2.Out(), text3.Out(), &state,
             &number1, &number2, &number3, text4.Out());
  if (state == 0xFF) return std::nullopt;
  _TaskParam record;
  record.key = key;
  record.text1 = TextOf(text1);
  record.text2 = TextOf(text2);
  record.text3 = TextOf(text3);
  record.text4 = TextOf(text4);
  record.state = state;
  record.number1 = number1;
  record.number2 = number2;
  record.number3 = number3;
  return record;
}
