#include "tests/support/test_engine_registration.h"

#include <windows.h>
#include <objbase.h>

#include "tests/support/plugin_module.h"
#include "tests/test_engine/test_engine_control.h"

namespace {

struct EngineClass {
  unsigned flag;
  const wchar_t* progId;
  const CLSID* clsid;
};

const EngineClass kClasses[] = {
    {kScheduleClass, L"transfer.Schedule", &CLSID_TestEngineSchedule},
    {kConfigClass, L"transfer.Config", &CLSID_TestEngineConfig},
    {kDownloadClass, L"transfer.Download", &CLSID_TestEngineDownload},
};

std::wstring ClsidText(const CLSID& clsid) {
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return text;
}

bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG written = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return written == ERROR_SUCCESS;
}

void Remove(const EngineClass& entry) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, entry.progId);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + ClsidText(*entry.clsid)).c_str());
}

bool Register(const EngineClass& entry) {
  std::wstring clsid = ClsidText(*entry.clsid);
  std::wstring classKey = L"CLSID\\" + clsid;
  return SetValue(entry.progId, nullptr, entry.progId) && SetValue(std::wstring(entry.progId) + L"\\CLSID", nullptr, clsid) &&
         SetValue(classKey, nullptr, entry.progId) && SetValue(classKey + L"\\ProgID", nullptr, entry.progId) &&
         SetValue(classKey + L"\\InprocServer32", nullptr, TestEngineRegistration::EnginePath()) &&
         SetValue(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
}

}  // namespace

std::wstring TestEngineRegistration::EnginePath() { return ProgramFolder() + TEST_ENGINE_DLL; }

TestEngineRegistration::TestEngineRegistration(unsigned classes) {
  for (const EngineClass& entry : kClasses) {
    Remove(entry);  // a registration left by an earlier run that did not end
    if ((classes & entry.flag) != 0 && !Register(entry)) succeeded_ = false;
  }
}

TestEngineRegistration::~TestEngineRegistration() {
  for (const EngineClass& entry : kClasses) Remove(entry);
}
