#include "transfer/task_event.h"

#include "engine/engine_interfaces.h"

namespace {

// Texts are taken only from VT_BSTR: reading another type's value as a string
// pointer would crash.
std::wstring TextAt(const VARIANT& value) {
  if (V_VT(&value) != VT_BSTR || V_BSTR(&value) == nullptr) return std::wstring();
  return std::wstring(V_BSTR(&value));
}

// Numbers are read from the value field as the event declares them, whatever the tag.
uint8_t ByteAt(const VARIANT& value) { return V_UI1(&value); }
uint32_t Unsigned32At(const VARIANT& value) { return V_UI4(&value); }
int32_t Signed32At(const VARIANT& value) { return V_I4(&value); }
int64_t Signed64At(const VARIANT& value) { return V_I8(&value); }
double DoubleAt(const VARIANT& value) { return V_R8(&value); }

}  // namespace

_TaskParam TaskEvent::Record() const {
  _TaskParam record;
  record.key = Key();
  record.text1 = Text(3);
  record.text2 = Text(1);
  record.text3 = Text(4);
  record.text4 = Text(13);
  record.text5 = text15;
  record.state = state;
  record.number1 = number22;
  record.number2 = number23;
  record.number3 = number21;
  return record;
}

std::optional<TaskEvent> ReadTaskEvent(const DISPPARAMS* params) {
  if (params == nullptr || params->rgvarg == nullptr || params->cArgs < kTaskEventArgumentCount) return std::nullopt;
  const VARIANT* at = params->rgvarg;
  TaskEvent event;
  event.kind = ByteAt(at[0]);
  for (int index = 1; index <= 13; ++index) event.texts[index - 1] = TextAt(at[index]);
  event.number14 = Unsigned32At(at[14]);
  event.text15 = TextAt(at[15]);
  event.number16 = DoubleAt(at[16]);
  event.number17 = ByteAt(at[17]);
  event.number18 = ByteAt(at[18]);
  event.state = ByteAt(at[19]);
  event.number20 = Signed32At(at[20]);
  event.number21 = Unsigned32At(at[21]);
  event.number22 = Signed64At(at[22]);
  event.number23 = Signed64At(at[23]);
  return event;
}
