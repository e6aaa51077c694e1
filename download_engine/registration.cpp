#include "download_engine/registration.h"

#include <olectl.h>

#include <string>

#include "download_engine/class_ids.h"
#include "download_engine/module_state.h"
#include "engine/engine_interfaces.h"

namespace engine {

namespace {

struct ClassEntry {
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* description;
};

const ClassEntry kClasses[] = {
    {&CLSID_Schedule, kScheduleProgId, L"Halvo download engine: schedule"},
    {&CLSID_Config, kConfigProgId, L"Halvo download engine: settings"},
    {&CLSID_Download, kDownloadProgId, L"Halvo download engine: downloads"},
};

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ClassesRoot(RegistrationScope) { return L"Software\\Classes\\"; }

HKEY Hive(RegistrationScope scope) { return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

LSTATUS SetValue(HKEY hive, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle;
  LSTATUS status = RegCreateKeyExW(hive, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status;
}

bool ReadValue(HKEY hive, const std::wstring& key, std::wstring* value) {
  wchar_t buffer[MAX_PATH * 2];
  DWORD size = sizeof buffer;
  if (RegGetValueW(hive, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return false;
  *value = buffer;
  return true;
}

}  // namespace

HRESULT RegisterClasses(RegistrationScope scope) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(ModuleHandle(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  HKEY hive = Hive(scope);
  std::wstring root = ClassesRoot(scope);
  for (const auto& entry : kClasses) {
    std::wstring clsid = GuidText(*entry.clsid);
    std::wstring classKey = root + L"CLSID\\" + clsid;
    LSTATUS status = SetValue(hive, classKey, nullptr, entry.description);
    if (status == ERROR_SUCCESS) status = SetValue(hive, classKey + L"\\InprocServer32", nullptr, path);
    if (status == ERROR_SUCCESS)
      status = SetValue(hive, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    if (status == ERROR_SUCCESS) status = SetValue(hive, classKey + L"\\ProgID", nullptr, entry.progId);
    if (status == ERROR_SUCCESS) status = SetValue(hive, root + entry.progId, nullptr, entry.description);
    if (status == ERROR_SUCCESS) status = SetValue(hive, root + entry.progId + L"\\CLSID", nullptr, clsid);
    if (status != ERROR_SUCCESS) {
      UnregisterClasses(scope);
      return status == ERROR_ACCESS_DENIED ? E_ACCESSDENIED : SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

HRESULT UnregisterClasses(RegistrationScope scope) {
  HKEY hive = Hive(scope);
  std::wstring root = ClassesRoot(scope);
  HRESULT result = S_OK;
  for (const auto& entry : kClasses) {
    std::wstring clsid = GuidText(*entry.clsid);
    std::wstring named;
    if (ReadValue(hive, root + entry.progId + L"\\CLSID", &named) && _wcsicmp(named.c_str(), clsid.c_str()) == 0) {
      LSTATUS status = RegDeleteTreeW(hive, (root + entry.progId).c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
    }
    LSTATUS status = RegDeleteTreeW(hive, (root + L"CLSID\\" + clsid).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
  }
  return result;
}

}  // namespace engine
