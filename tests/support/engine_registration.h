// Puts the built engine where COM finds it for the duration of a test
// program: its own DllRegisterServer writes its classes under
// HKEY_CLASSES_ROOT of the private prefix, DllUnregisterServer removes them;
// and the test certificate authority becomes trusted for the HTTPS port.
#pragma once

#include <string>

class EngineRegistration {
 public:
  // fileName is looked for beside the running program.
  explicit EngineRegistration(const wchar_t* fileName = L"halvo_engine.dll");
  ~EngineRegistration();
  EngineRegistration(const EngineRegistration&) = delete;
  EngineRegistration& operator=(const EngineRegistration&) = delete;

  bool Registered() const { return registered_; }
  const std::string& Problem() const { return problem_; }

  // Calls an export of the engine DLL taking no arguments, or DllInstall.
  static long CallExport(const wchar_t* fileName, const char* name);
  static long CallInstall(const wchar_t* fileName, bool install, const wchar_t* command);

 private:
  std::wstring fileName_;
  bool registered_ = false;
  std::string problem_;
};

// Trusts a PEM certificate authority in the machine's "Root" store while alive.
class TrustedAuthority {
 public:
  explicit TrustedAuthority(const std::wstring& pemPath);
  ~TrustedAuthority();
  TrustedAuthority(const TrustedAuthority&) = delete;
  TrustedAuthority& operator=(const TrustedAuthority&) = delete;
  bool Trusted() const { return !der_.empty(); }

 private:
  std::string der_;
};
