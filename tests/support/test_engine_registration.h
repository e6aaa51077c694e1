// Registers the test engine's classes under HKEY_CLASSES_ROOT of the test
// prefix, as an installer registers an engine: ProgID\CLSID, and
// CLSID\{...}\InprocServer32 with the DLL's Windows path and
// ThreadingModel=Apartment. The plug-in then finds the classes through
// CLSIDFromProgID and CoCreateInstance. Every key is removed again by the
// destructor. Tests that register take the CTest lock "engine_registry"
// (HKEY_CLASSES_ROOT is shared by every test process of the prefix).
#pragma once

#include <string>

enum EngineClasses : unsigned {
  kScheduleClass = 1,
  kConfigClass = 2,
  kDownloadClass = 4,
  kAllEngineClasses = kScheduleClass | kConfigClass | kDownloadClass,
};

class TestEngineRegistration {
 public:
  // Registers the chosen classes; the others are made sure to be absent.
  explicit TestEngineRegistration(unsigned classes = kAllEngineClasses);
  ~TestEngineRegistration();
  TestEngineRegistration(const TestEngineRegistration&) = delete;
  TestEngineRegistration& operator=(const TestEngineRegistration&) = delete;

  // Every chosen key was written.
  bool Succeeded() const { return succeeded_; }

  // The test engine DLL beside the test program: the path registered and loaded.
  static std::wstring EnginePath();

 private:
  bool succeeded_ = true;
};
