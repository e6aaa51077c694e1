#include "tests/support/engine_fixture.h"

void EngineTest::SetUp() {
  registration_.reset(new TestEngineRegistration(classes_));
  ASSERT_TRUE(registration_->Succeeded());
  ASSERT_TRUE(engine.Loaded());
  engine.Reset();
  ModuleTest::SetUp();
  if (startElement) StartElement();
}

void EngineTest::StartElement() {
  instance = NewInstance();
  ASSERT_NE(nullptr, instance->pdata);
  ASSERT_EQ(NPERR_NO_ERROR, plugin.getvalue(instance, NPPVpluginScriptableNPObject, &object));
}

void EngineTest::DestroyElement() {
  if (instance != nullptr && instance->pdata != nullptr) DestroyInstance(instance);
  if (object != nullptr) host.ReleaseObject(object);
  object = nullptr;
}

void EngineTest::TearDown() {
  DestroyElement();
  Pump();
  ModuleTest::TearDown();
  engine.ExpectClean();
  registration_.reset();
}

NPVariant EngineTest::Call(const char* method, const std::vector<NPVariant>& args, bool* completed) {
  NPVariant result;
  bool done = host.Invoke(object, method, args, &result);
  if (completed != nullptr) *completed = done;
  return result;
}

int32_t EngineTest::Status(const char* method, const std::vector<NPVariant>& args) {
  bool completed = false;
  NPVariant result = Call(method, args, &completed);
  if (!completed) return -1;
  if (result.type != NPVariantType_Int32) {
    host.ReleaseVariantValue(&result);
    return -2;
  }
  return result.value.intValue;
}

void EngineTest::Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

std::vector<std::string> EngineTest::PostedMessages() const {
  std::vector<std::string> texts;
  for (const auto& call : host.Calls("NPN_GetURL")) texts.push_back(Utf8(DecodePostedMessage(call.args[1])));
  return texts;
}

std::vector<std::string> EngineTest::StoredTasks() {
  std::vector<std::string> records;
  NPObject* page = host.CreatePageFunction([&](const NPVariant* args, uint32_t, NPVariant*) {
    records.push_back(Utf8(DecodeEscaped(
        std::string(args[0].value.stringValue.UTF8Characters, args[0].value.stringValue.UTF8Length))));
    return true;
  });
  EXPECT_EQ(0, Status("LoadWorkTask", {ObjectArg(page)}));
  host.ReleaseObject(page);
  return records;
}

std::wstring DecodeEscaped(const std::string& escaped) {
  std::wstring text;
  for (std::size_t i = 0; i + 6 <= escaped.size(); i += 6)
    text += static_cast<wchar_t>(std::stoi(escaped.substr(i + 2, 4), nullptr, 16));
  return text;
}

std::wstring DecodePostedMessage(const std::string& url) {
  const std::string prefix = "javascript:window.postMessage('";
  const std::string suffix = "',window.location.href)";
  if (url.compare(0, prefix.size(), prefix) != 0 || url.size() < prefix.size() + suffix.size()) return L"(not a message)";
  return DecodeEscaped(url.substr(prefix.size(), url.size() - prefix.size() - suffix.size()));
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], bytes, nullptr, nullptr);
  return narrow;
}
