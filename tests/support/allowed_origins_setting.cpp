#include "tests/support/allowed_origins_setting.h"

namespace {

const wchar_t kParent[] = L"Software\\Halvo";
const wchar_t kKey[] = L"Software\\Halvo\\Transfer Plugin";
const wchar_t kValue[] = L"AllowedOrigins";

bool KeyExists(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

AllowedOriginsSetting::AllowedOriginsSetting(HKEY root) : root_(root) {
  parentExisted_ = KeyExists(root, kParent);
  keyExisted_ = KeyExists(root, kKey);
  DWORD type = 0, bytes = 0;
  if (RegGetValueW(root, kKey, kValue, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &bytes) == ERROR_SUCCESS) {
    std::vector<BYTE> data(bytes);
    if (RegGetValueW(root, kKey, kValue, RRF_RT_ANY | RRF_NOEXPAND, &type, bytes ? data.data() : nullptr, &bytes) ==
        ERROR_SUCCESS) {
      data.resize(bytes);
      saved_.emplace(type, std::move(data));
    }
  }
}

AllowedOriginsSetting::~AllowedOriginsSetting() {
  if (saved_) {
    SetRaw(saved_->first, saved_->second.data(), static_cast<DWORD>(saved_->second.size()));
    return;
  }
  Remove();
  if (!keyExisted_) RegDeleteKeyW(root_, kKey);
  if (!parentExisted_) RegDeleteKeyW(root_, kParent);  // only when nothing else was put in it
}

bool AllowedOriginsSetting::Set(const std::wstring& list) {
  return SetRaw(REG_SZ, list.c_str(), static_cast<DWORD>((list.size() + 1) * sizeof(wchar_t)));
}

bool AllowedOriginsSetting::SetRaw(DWORD type, const void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG written = RegSetValueExW(key, kValue, 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
  return written == ERROR_SUCCESS;
}

void AllowedOriginsSetting::Remove() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root_, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, kValue);
  RegCloseKey(key);
}
