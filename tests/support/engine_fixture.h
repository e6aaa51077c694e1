// A browser and an engine: the test engine registered in the prefix, the
// module loaded and initialised, one element with its scriptable object. At the
// end every ledger must balance: the host's, and the engine's (no object alive,
// no text or list handed out and not freed).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/module_fixture.h"
#include "tests/support/task_event_args.h"
#include "tests/support/test_engine.h"
#include "tests/support/test_engine_registration.h"

class EngineTest : public ModuleTest {
 protected:
  explicit EngineTest(unsigned classes = kAllEngineClasses) : classes_(classes) {}
  void SetUp() override;
  void TearDown() override;

  // The element and its scriptable object (made by SetUp unless told otherwise).
  void StartElement();
  void DestroyElement();

  NPVariant Call(const char* method, const std::vector<NPVariant>& args, bool* completed = nullptr);
  int32_t Status(const char* method, const std::vector<NPVariant>& args);

  // Runs the plug-in thread's pending window messages (the browser's message loop).
  void Pump();
  // The texts of the page messages posted so far, decoded from their URLs (UTF-8).
  std::vector<std::string> PostedMessages() const;

  // The records the page would get for its working-task list, decoded (UTF-8).
  std::vector<std::string> StoredTasks();

  // Engine log lines without reference counting, from the first one matching `from` on.
  std::vector<std::string> EngineLines() const { return engine.Lines(); }

  bool startElement = true;
  TestEngine engine;
  NPP instance = nullptr;
  NPObject* object = nullptr;

 private:
  unsigned classes_;
  std::unique_ptr<TestEngineRegistration> registration_;
};

// Decodes \uXXXX escapes back to the text.
std::wstring DecodeEscaped(const std::string& escaped);

// Decodes one posted "javascript:" URL to the message text the page receives.
std::wstring DecodePostedMessage(const std::string& url);

std::string Utf8(const std::wstring& text);
