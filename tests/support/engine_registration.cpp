#include "tests/support/engine_registration.h"

#include <windows.h>
#include <wincrypt.h>

#include "tests/support/plugin_module.h"

namespace {

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

long EngineRegistration::CallExport(const wchar_t* fileName, const char* name) {
  HMODULE module = LoadLibraryW((ProgramFolder() + fileName).c_str());
  if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  auto function = Export<HRESULT(STDAPICALLTYPE*)()>(module, name);
  HRESULT result = function ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  FreeLibrary(module);
  return result;
}

long EngineRegistration::CallInstall(const wchar_t* fileName, bool install, const wchar_t* command) {
  HMODULE module = LoadLibraryW((ProgramFolder() + fileName).c_str());
  if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  auto function = Export<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>(module, "DllInstall");
  HRESULT result = function ? function(install, command) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  FreeLibrary(module);
  return result;
}

EngineRegistration::EngineRegistration(const wchar_t* fileName) : fileName_(fileName) {
  HRESULT result = CallExport(fileName, "DllRegisterServer");
  registered_ = SUCCEEDED(result);
  if (!registered_) problem_ = "DllRegisterServer failed: " + std::to_string(static_cast<unsigned long>(result));
}

EngineRegistration::~EngineRegistration() {
  if (registered_) CallExport(fileName_.c_str(), "DllUnregisterServer");
}

TrustedAuthority::TrustedAuthority(const std::wstring& pemPath) {
  HANDLE file = CreateFileW(pemPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char pem[16384];
  DWORD length = 0;
  ReadFile(file, pem, sizeof pem, &length, nullptr);
  CloseHandle(file);
  BYTE der[16384];
  DWORD derLength = sizeof der;
  if (!CryptStringToBinaryA(pem, length, CRYPT_STRING_BASE64HEADER, der, &derLength, nullptr, nullptr)) return;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return;
  if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, derLength, CERT_STORE_ADD_REPLACE_EXISTING,
                                       nullptr))
    der_.assign(reinterpret_cast<char*>(der), derLength);
  CertCloseStore(store, 0);
}

TrustedAuthority::~TrustedAuthority() {
  if (der_.empty()) return;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return;
  PCCERT_CONTEXT added = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                                       static_cast<DWORD>(der_.size()));
  if (added) {
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, added, nullptr);
    if (found) CertDeleteCertificateFromStore(found);  // frees found
    CertFreeCertificateContext(added);
  }
  CertCloseStore(store, 0);
}
