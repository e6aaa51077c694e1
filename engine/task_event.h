// The engine's one event, TaskEvent: 24 values the Download object's
// connection point passes to every advised sink's IDispatch::Invoke. This is
// the one place their positions, names and types are written down; the
// module's sink, the download engine, the test engine and the tests all read
// and build events through it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine_interfaces.h"

namespace task_event {

// Positions in the DISPPARAMS argument array. COM passes arguments last
// declared first: position k holds declared parameter 24 - k.
enum Position : unsigned {
  kKind = 0,        // what happened (the kinds below)
  kFolder = 1,      // the task's folder
  kKey = 2,         // the task key (the normalised address)
  kUrl = 3,         // the address asked for
  kFileName = 4,    // the file name, or the one asked for while none is chosen
  kReferrer = 5,
  kValidator = 6,   // what identifies the server's version of the file
  kPartialPath = 7, // the file being written, while there is one
  kCreated = 8,     // UTC times, ISO 8601
  kFinished = 9,
  kPath = 10,       // the finished file's path
  kFinalUrl = 11,   // the address that answered, after redirects
  kContentType = 12,
  kMessage = 13,    // why a task failed, started over or is tried again
  kQueuePosition = 14,
  kStateName = 15,  // the state as a word
  kPercent = 16,
  kConnections = 17,
  kComplete = 18,   // 1 when the file is whole
  kState = 19,      // the state byte (the engine's TaskState)
  kErrorCode = 20,
  kSpeed = 21,      // bytes per second (the average one when finished)
  kSize = 22,       // -1 while unknown
  kDone = 23,       // bytes in the file
  kCount = 24,
};

struct Field {
  Position position;
  const char* name;
  VARTYPE type;
};

// Each value's name and VARTYPE, by position. In declared order the event's
// method takes VT_I8, VT_I8, VT_UI4, VT_I4, VT_UI1 (three times), VT_R8,
// VT_BSTR, VT_UI4, VT_BSTR (thirteen times) and VT_UI1.
constexpr Field kFields[kCount] = {
    {kKind, "kind", VT_UI1},
    {kFolder, "folder", VT_BSTR},
    {kKey, "key", VT_BSTR},
    {kUrl, "url", VT_BSTR},
    {kFileName, "fileName", VT_BSTR},
    {kReferrer, "referrer", VT_BSTR},
    {kValidator, "validator", VT_BSTR},
    {kPartialPath, "partialPath", VT_BSTR},
    {kCreated, "created", VT_BSTR},
    {kFinished, "finished", VT_BSTR},
    {kPath, "path", VT_BSTR},
    {kFinalUrl, "finalUrl", VT_BSTR},
    {kContentType, "contentType", VT_BSTR},
    {kMessage, "message", VT_BSTR},
    {kQueuePosition, "queuePosition", VT_UI4},
    {kStateName, "stateName", VT_BSTR},
    {kPercent, "percent", VT_R8},
    {kConnections, "connections", VT_UI1},
    {kComplete, "complete", VT_UI1},
    {kState, "state", VT_UI1},
    {kErrorCode, "errorCode", VT_I4},
    {kSpeed, "speed", VT_UI4},
    {kSize, "size", VT_I8},
    {kDone, "done", VT_I8},
};

// The dispatch identifier the engine invokes; sinks must not rely on it.
constexpr DISPID kDispId = 1;

// Kinds.
constexpr uint8_t kKindRecord = 0;    // silent update of the task's record
constexpr uint8_t kKindTask = 3;      // the task changed: state, progress or details
constexpr uint8_t kKindFinished = 5;  // the task left the work list (completed or removed)

// The one state a page's sink tells apart: all bytes are in and the file is
// being renamed; its record is kept whatever the kind.
constexpr uint8_t kStateCompleting = 5;

}  // namespace task_event

// One event's values by name; each member carries its position.
struct TaskEvent {
  uint8_t kind = 0;            // 0
  std::wstring folder;         // 1
  std::wstring key;            // 2
  std::wstring url;            // 3
  std::wstring fileName;       // 4
  std::wstring referrer;       // 5
  std::wstring validator;      // 6
  std::wstring partialPath;    // 7
  std::wstring created;        // 8
  std::wstring finished;       // 9
  std::wstring path;           // 10
  std::wstring finalUrl;       // 11
  std::wstring contentType;    // 12
  std::wstring message;        // 13
  uint32_t queuePosition = 0;  // 14
  std::wstring stateName;      // 15
  double percent = 0;          // 16
  uint8_t connections = 0;     // 17
  uint8_t complete = 0;        // 18
  uint8_t state = 0;           // 19
  int32_t errorCode = 0;       // 20
  uint32_t speed = 0;          // 21
  int64_t size = 0;            // 22
  int64_t done = 0;            // 23
};

// The member that holds the text at a position; null at a number's position.
std::wstring* TextAt(TaskEvent& event, unsigned position);
const std::wstring* TextAt(const TaskEvent& event, unsigned position);

// How a text position is read: up to its first NUL (the module, which hands
// texts on as C strings), or whole, as long as the BSTR says (the tests, which
// compare what the engine sent).
enum class EventTexts { UpToNul, Whole };

// Reads an event; nothing when fewer than 24 values arrived. Numbers are read
// from the value field as their position declares them, whatever the tag; a
// text position that does not hold a BSTR reads as empty text, as does a null
// BSTR (reading another type's value as a string pointer would crash).
std::optional<TaskEvent> ReadTaskEvent(const DISPPARAMS* params, EventTexts texts = EventTexts::UpToNul);

// Fills args[0..23] with the event's values, each with its position's VARTYPE;
// the caller clears them. A text that cannot be allocated is COM's empty string.
void WriteTaskEvent(const TaskEvent& event, VARIANT* args);

// What a page's sink does for an event of kind 5 that is not a completing
// task: hands 12 of its values back to the Download object's ArchiveTask (the
// 13th argument is 0). E_OUTOFMEMORY when a text cannot be copied.
HRESULT ArchiveTaskEvent(IDownload* download, const TaskEvent& event);
