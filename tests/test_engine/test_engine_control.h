/* The test engine's control interface: plain C functions exported by
 * halvo_test_engine.dll and found with GetProcAddress. The DLL serves
 * "transfer.Schedule", "transfer.Config" and "transfer.Download" to whoever
 * creates them through COM; a test loads the same DLL file (the path it
 * registered) and steers and observes those objects through these functions.
 *
 * State is process-wide: the plug-in (through CoCreateInstance) and the test
 * (through LoadLibrary) share one copy. The DLL pins itself in the process at
 * its first use, so that state, the call log and the memory spy live until
 * the process ends; TestEngine_Reset starts a test afresh.
 *
 * Pointers returned into the DLL's storage stay valid until the next
 * TestEngine_Reset, or TestEngine_ClearLog (calls) or TestEngine_ClearFaults
 * (faults).
 * Names of objects: L"Schedule", L"Config", L"Download", L"ConnectionPoint"
 * (the Download object's connection point). Names of methods: as in the
 * engine's interfaces, plus L"QueryInterface", L"AddRef", L"Release",
 * L"GetTypeInfoCount", L"GetTypeInfo", L"GetIDsOfNames", L"Invoke",
 * L"InterfaceSupportsErrorInfo", L"EnumConnectionPoints",
 * L"FindConnectionPoint", L"GetConnectionInterface",
 * L"GetConnectionPointContainer", L"Advise", L"Unadvise", L"EnumConnections",
 * L"Unused8" and the like for placeholders, L"CreateInstance" (the class
 * factory) and L"Destroy" (logged inside the Release that drops the last
 * reference, so just before that Release's own entry). */
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Class identifiers of the test engine's three classes (the ProgIDs are the real ones). */
/* {7BA7E74C-A483-43E2-897C-B3E028D1CBA8} */
static const CLSID CLSID_TestEngineSchedule = {0x7BA7E74C, 0xA483, 0x43E2, {0x89, 0x7C, 0xB3, 0xE0, 0x28, 0xD1, 0xCB, 0xA8}};
/* {FE8EDDE7-E13C-4DC7-9894-6061F76818C5} */
static const CLSID CLSID_TestEngineConfig = {0xFE8EDDE7, 0xE13C, 0x4DC7, {0x98, 0x94, 0x60, 0x61, 0xF7, 0x68, 0x18, 0xC5}};
/* {D566D654-870E-4996-85F2-9979D6A34707} */
static const CLSID CLSID_TestEngineDownload = {0xD566D654, 0x870E, 0x4996, {0x85, 0xF2, 0x99, 0x79, 0xD6, 0xA3, 0x47, 0x07}};

#define TEST_ENGINE_DLL L"halvo_test_engine.dll"

/* ---- The call log ---------------------------------------------------------
 * Every call that reaches an engine object through its virtual tables is
 * logged when it returns, in that order, with its arguments as received. */

typedef enum TestEngineValueType {
  TestEngineValue_Text = 1,  /* text/textLength: a BSTR's characters (SysStringLen of them) */
  TestEngineValue_NullText,  /* a null BSTR */
  TestEngineValue_Signed,    /* long, flag, 64-bit: number */
  TestEngineValue_Unsigned,  /* byte, unsigned 32-bit, cookie, VARTYPE: number */
  TestEngineValue_Double,    /* real */
  TestEngineValue_Guid,      /* guid: an interface or class identifier */
  TestEngineValue_Pointer    /* number: the address (0 for a null pointer) */
} TestEngineValueType;

/* flags of a value */
#define TEST_ENGINE_VALUE_OUT 0x1     /* what an out parameter held on entry (the caller's preset) */
#define TEST_ENGINE_VALUE_NOT_BSTR 0x2 /* text that is not a live SysAllocString block: read up to its NUL */

typedef struct TestEngineValue {
  int32_t type; /* TestEngineValueType */
  uint32_t flags;
  int64_t number;
  double real;
  GUID guid;
  const wchar_t* text;
  uint32_t textLength;
} TestEngineValue;

typedef struct TestEngineCall {
  uint32_t sequence;      /* 1-based position since the log was last cleared */
  const wchar_t* object;  /* L"Download", ... */
  uint32_t instance;      /* 1-based creation number of the object within its class */
  const wchar_t* method;
  int32_t slot;           /* virtual table slot of the interface called; -1 for Destroy */
  DWORD thread;           /* the calling thread */
  int64_t result;         /* the HRESULT returned; the new count for AddRef and Release */
  uint32_t argumentCount;
  const TestEngineValue* arguments;
} TestEngineCall;

uint32_t TestEngine_CallCount(void);
BOOL TestEngine_GetCall(uint32_t index, TestEngineCall* call); /* index from 0 */
void TestEngine_ClearLog(void);

/* Protocol faults seen by the engine (a call on an object after its last
 * Release, a text argument that is not a BSTR, ...), one text each. */
uint32_t TestEngine_FaultCount(void);
const wchar_t* TestEngine_GetFault(uint32_t index);
/* For a test that provoked its faults on purpose. */
void TestEngine_ClearFaults(void);

/* Everything back to the start: log, faults, rules, out values, ledger
 * counts, object table (objects still alive keep working but are no longer
 * listed or numbered), finished workers, holds. Waits for running workers first. */
void TestEngine_Reset(void);

/* ---- Results --------------------------------------------------------------
 * A rule makes calls of one method answer a chosen HRESULT. Below zero the
 * method does nothing else (out pointers of interfaces are set to null and
 * Advise's cookie to 0, as COM asks; other outs are left as the caller preset
 * them); zero or above, it works as usual and answers
 * that value. With a description the engine also sets the thread's error
 * object (source the object's ProgID, GUID its interface identifier) before
 * returning; without one it leaves the thread's error object alone. The
 * objects' InterfaceSupportsErrorInfo answers S_OK for their own interface and
 * S_FALSE for any other, unless a rule says otherwise. Rules are examined in
 * the order added; the first that matches decides. */

typedef struct TestEngineRule {
  const wchar_t* object; /* object name, L"Schedule", ... */
  const wchar_t* method; /* method name as logged */
  const IID* iid;        /* QueryInterface, FindConnectionPoint, InterfaceSupportsErrorInfo and
                            CreateInstance only: the identifier asked for; null matches any */
  HRESULT result;
  const wchar_t* description; /* null: no error object */
  uint32_t skip;              /* matching calls that pass untouched before the rule applies */
  uint32_t times;             /* calls it applies to then; 0 = every later call */
} TestEngineRule;

HRESULT TestEngine_AddRule(const TestEngineRule* rule); /* E_INVALIDARG for unknown names */

/* ---- Out values -----------------------------------------------------------
 * Numbers: L"CreateDownload" (its out byte), L"GetBlockStatusList" (its out
 * long), L"GetResourceSize", L"GetTotalDownloadSpeed", L"GetDownloadingCount",
 * L"GetUPnP", L"GetLimitSpeed", L"GetDiskCache", L"GetMaxDownloadCount",
 * L"GetAutoStart", L"GetUDPPort", L"GetDownloadSingleThread". A number not
 * set leaves the caller's storage as it was.
 * Texts: L"GetPeerID", L"GetIP", L"GetBlockStatusList". A text not set is
 * written as a null BSTR. Every text is handed out as a fresh BSTR per call.
 * Lists: L"ListWorkTasks", L"ListFinishedTasks": a fresh SAFEARRAY of BSTR
 * VARIANTs per call (null items give null BSTRs); not set: an empty list. */

HRESULT TestEngine_SetOutNumber(const wchar_t* method, int64_t value);
HRESULT TestEngine_SetOutText(const wchar_t* method, const wchar_t* text); /* text null: a null BSTR */
HRESULT TestEngine_SetList(const wchar_t* method, const wchar_t* const* items, uint32_t count, LONG lowerBound);

/* QueryTaskInfo for one key (compared exactly). A key without info leaves
 * every out as the caller preset it. info null forgets the key. */
typedef struct TestEngineTaskInfo { /* QueryTaskInfo's outs, named as engine/engine_interfaces.h names them */
  const wchar_t* url; /* null: a null BSTR */
  const wchar_t* folder;
  const wchar_t* fileName;
  const wchar_t* message;
  BOOL writeState; /* FALSE leaves the state byte at the caller's preset */
  BYTE state;
  int64_t size;
  int64_t done;
  uint32_t speed;
} TestEngineTaskInfo;

HRESULT TestEngine_SetTaskInfo(const wchar_t* key, const TestEngineTaskInfo* info);

/* ---- Events ---------------------------------------------------------------
 * TaskEvent goes to every sink advised on one Download object's connection
 * point, through the sink's IDispatch::Invoke (riid IID_NULL, lcid 0,
 * DISPATCH_METHOD, no named arguments). The argument array is passed as given:
 * COM order, index k = declared parameter 24 - k; any count, any VARTYPEs,
 * or a null array. */

typedef struct TestEngineEvent {
  uint32_t download; /* instance number of the Download object; 0 = the newest live one */
  DISPID dispid;
  const VARIANT* args;
  uint32_t argCount;
} TestEngineEvent;

typedef struct TestEngineFireResult {
  uint32_t sinks;        /* sinks invoked */
  HRESULT result;        /* what the last Invoke answered */
  BOOL resultWritten;    /* an Invoke wrote to pVarResult (which the engine then clears) */
  BOOL exceptionWritten; /* ... to pExcepInfo */
  BOOL argErrorWritten;  /* ... to puArgErr */
  DWORD thread;          /* the thread Invoke ran on */
} TestEngineFireResult;

/* On the calling thread; returns once every Invoke has returned. S_OK,
 * CONNECT_E_NOCONNECTION when no sink is advised, E_INVALIDARG when there is
 * no such Download object. result may be null. */
HRESULT TestEngine_FireEvent(const TestEngineEvent* event, TestEngineFireResult* result);

/* On a worker thread that runs no other event meanwhile (COM initialised
 * multithreaded there; an idle worker is reused, a new one started when none
 * is idle). The event's values are copied bitwise, BSTRs duplicated; whatever
 * else they point to must outlive the worker. Returns a ticket (from 1), 0 on
 * failure. */
uint32_t TestEngine_FireEventOnWorker(const TestEngineEvent* event);
/* While held, new workers wait before firing; releasing lets all of them go at once. */
void TestEngine_HoldWorkers(BOOL hold);
/* TRUE when every event given to the workers so far has been fired within the time. */
BOOL TestEngine_WaitForWorkers(DWORD timeoutMilliseconds);
/* FALSE while the worker runs or for an unknown ticket. */
BOOL TestEngine_GetWorkerResult(uint32_t ticket, HRESULT* fired, TestEngineFireResult* result);

/* ---- Holds ----------------------------------------------------------------
 * Places where calls wait on purpose until released, so that a test can keep
 * an event inside the plug-in's sink while the plug-in tears down.
 * ArchiveTask: every Download.ArchiveTask call (the sink makes it while
 * handling a finished task) waits inside the engine while held. Meanwhile a
 * Release of any engine object arriving on another thread is recorded as a
 * fault: it pulls the engine from under the event.
 * Invoke: a worker (TestEngine_FireEventOnWorker) takes the sinks, each with
 * a reference as an engine does, and waits before invoking them while held;
 * released, it invokes them even if they were unadvised meanwhile. */

typedef enum TestEngineHold {
  TestEngineHold_ArchiveTask = 0,
  TestEngineHold_Invoke = 1
} TestEngineHold;

void TestEngine_Hold(int32_t place, BOOL hold); /* place: TestEngineHold */
/* TRUE once at least count calls wait at the place, within the time. */
BOOL TestEngine_WaitForHeld(int32_t place, uint32_t count, DWORD timeoutMilliseconds);

/* ---- Objects --------------------------------------------------------------*/

typedef struct TestEngineObjectInfo {
  const wchar_t* object;
  uint32_t instance;
  LONG references;   /* the reference count now */
  BOOL live;         /* FALSE once the count reached zero */
  uint32_t addRefs;  /* AddRef and Release calls received */
  uint32_t releases;
  uint32_t sinks;    /* Download: sinks advised now */
} TestEngineObjectInfo;

/* object null counts every class. */
uint32_t TestEngine_ObjectCount(const wchar_t* object, BOOL liveOnly);
BOOL TestEngine_GetObject(const wchar_t* object, uint32_t instance, TestEngineObjectInfo* info);

/* ---- Memory handed out ----------------------------------------------------
 * Every BSTR and SAFEARRAY the engine hands out is remembered; an IMallocSpy
 * registered with COM sees the task allocator free it (SysFreeString,
 * SafeArrayDestroy, VariantClear). The engine turns oleaut32's BSTR cache off
 * at its first use, since cached frees never reach the allocator. */

typedef struct TestEngineLedger {
  uint32_t textsHandedOut;  /* out BSTRs */
  uint32_t textsOutstanding;
  uint32_t listsHandedOut;  /* out SAFEARRAYs */
  uint32_t listsOutstanding;
  uint32_t itemsHandedOut;  /* BSTRs inside them */
  uint32_t itemsOutstanding;
  uint64_t taskAllocations; /* task-allocator traffic of the whole process since the reset */
  uint64_t taskFrees;       /* (frees of blocks allocated while the spy was registered) */
  uint32_t taskOutstanding; /* blocks allocated since the reset and not freed yet, whoever made them */
  BOOL reliable;            /* the spy is registered and a probe saw a BSTR freed */
} TestEngineLedger;

void TestEngine_GetLedger(TestEngineLedger* ledger);

#ifdef __cplusplus
}
#endif
