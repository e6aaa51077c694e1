// Reading, building and archiving the engine's event by the one table of its positions.
#include "engine/task_event.h"

#include <oleauto.h>

using namespace task_event;

namespace {

std::wstring TaskEvent::* const kTextMembers[kCount] = {
    nullptr,           &TaskEvent::folder,    &TaskEvent::key,         &TaskEvent::url,
    &TaskEvent::fileName, &TaskEvent::referrer, &TaskEvent::validator, &TaskEvent::partialPath,
    &TaskEvent::created,  &TaskEvent::finished, &TaskEvent::path,      &TaskEvent::finalUrl,
    &TaskEvent::contentType, &TaskEvent::message, nullptr,            &TaskEvent::stateName,
    nullptr,           nullptr,               nullptr,                 nullptr,
    nullptr,           nullptr,               nullptr,                 nullptr,
};

std::wstring TextOf(const VARIANT& value, EventTexts texts) {
  if (V_VT(&value) != VT_BSTR || V_BSTR(&value) == nullptr) return std::wstring();
  if (texts == EventTexts::Whole) return std::wstring(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
  return std::wstring(V_BSTR(&value));
}

// The value field as the position declares it.
uint8_t ByteAt(const VARIANT& value) { return V_UI1(&value); }
uint32_t Unsigned32At(const VARIANT& value) { return V_UI4(&value); }
int32_t Signed32At(const VARIANT& value) { return V_I4(&value); }
int64_t Signed64At(const VARIANT& value) { return V_I8(&value); }
double DoubleAt(const VARIANT& value) { return V_R8(&value); }

void SetText(VARIANT* args, Position at, const std::wstring& text) {
  args[at].vt = VT_BSTR;
  // Null when memory runs out: COM's empty string.
  args[at].bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

template <typename Number>
void SetNumber(VARIANT* args, Position at, Number value) {
  VARIANT& slot = args[at];
  slot.vt = kFields[at].type;
  switch (slot.vt) {
    case VT_UI1: slot.bVal = static_cast<BYTE>(value); break;
    case VT_UI4: slot.ulVal = static_cast<ULONG>(value); break;
    case VT_I4: slot.lVal = static_cast<LONG>(value); break;
    case VT_I8: slot.llVal = static_cast<LONGLONG>(value); break;
    case VT_R8: slot.dblVal = static_cast<double>(value); break;
    default: break;
  }
}

// Owns the copies of one call's texts.
class Texts {
 public:
  ~Texts() {
    for (BSTR text : made_) SysFreeString(text);
  }
  BSTR Copy(const std::wstring& text) {
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) failed_ = true;
    made_[count_++] = copy;
    return copy;
  }
  bool Failed() const { return failed_; }

 private:
  BSTR made_[8] = {};
  int count_ = 0;
  bool failed_ = false;
};

}  // namespace

std::wstring* TextAt(TaskEvent& event, unsigned position) {
  return position < kCount && kTextMembers[position] != nullptr ? &(event.*kTextMembers[position]) : nullptr;
}

const std::wstring* TextAt(const TaskEvent& event, unsigned position) {
  return TextAt(const_cast<TaskEvent&>(event), position);
}

std::optional<TaskEvent> ReadTaskEvent(const DISPPARAMS* params, EventTexts texts) {
  if (params == nullptr || params->rgvarg == nullptr || params->cArgs < kCount) return std::nullopt;
  const VARIANT* at = params->rgvarg;
  TaskEvent event;
  for (const Field& field : kFields)
    if (std::wstring* text = TextAt(event, field.position)) *text = TextOf(at[field.position], texts);
  event.kind = ByteAt(at[kKind]);
  event.queuePosition = Unsigned32At(at[kQueuePosition]);
  event.percent = DoubleAt(at[kPercent]);
  event.connections = ByteAt(at[kConnections]);
  event.complete = ByteAt(at[kComplete]);
  event.state = ByteAt(at[kState]);
  event.errorCode = Signed32At(at[kErrorCode]);
  event.speed = Unsigned32At(at[kSpeed]);
  event.size = Signed64At(at[kSize]);
  event.done = Signed64At(at[kDone]);
  return event;
}

void WriteTaskEvent(const TaskEvent& event, VARIANT* args) {
  for (unsigned i = 0; i < kCount; ++i) VariantInit(&args[i]);
  for (const Field& field : kFields)
    if (const std::wstring* text = TextAt(event, field.position)) SetText(args, field.position, *text);
  SetNumber(args, kKind, event.kind);
  SetNumber(args, kQueuePosition, event.queuePosition);
  SetNumber(args, kPercent, event.percent);
  SetNumber(args, kConnections, event.connections);
  SetNumber(args, kComplete, event.complete);
  SetNumber(args, kState, event.state);
  SetNumber(args, kErrorCode, event.errorCode);
  SetNumber(args, kSpeed, event.speed);
  SetNumber(args, kSize, event.size);
  SetNumber(args, kDone, event.done);
}

HRESULT ArchiveTaskEvent(IDownload* download, const TaskEvent& event) {
  Texts texts;
  BSTR fileName = texts.Copy(event.fileName), path = texts.Copy(event.path), finalUrl = texts.Copy(event.finalUrl),
       contentType = texts.Copy(event.contentType), key = texts.Copy(event.key), url = texts.Copy(event.url),
       created = texts.Copy(event.created), finished = texts.Copy(event.finished);
  if (texts.Failed()) return E_OUTOFMEMORY;
  return download->ArchiveTask(event.connections, fileName, event.size, path, finalUrl, contentType, key, url,
                               created, finished, event.speed, event.complete, 0);
}
