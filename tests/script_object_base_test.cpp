// The generic script object through the real shared class record, driven as a
// host drives it.
#include <gtest/gtest.h>

#include <comdef.h>

#include "script/script_object_base.h"
#include "tests/support/linked_host.h"

namespace {

class ProbeObject : public ScriptObjectBase {
 public:
  static NPObject* Allocate(NPP, NPClass*) { return new ProbeObject(); }
  void Deallocate() override {
    ++deallocated;
    delete this;
  }
  void Invalidate() override {}
  bool Construct(const NPVariant*, uint32_t, NPVariant*) override { return true; }
  void RegisterFunctions() override {
    AddFunction({"Answer", static_cast<FunctionHandler>(&ProbeObject::Answer)});
    AddFunction({"Answer", static_cast<FunctionHandler>(&ProbeObject::Refuse)});  // the first stays
    AddFunction({"Refuse", static_cast<FunctionHandler>(&ProbeObject::Refuse)});
    AddFunction({"Raise", static_cast<FunctionHandler>(&ProbeObject::Raise)});
    AddFunction({"Throw", static_cast<FunctionHandler>(&ProbeObject::Throw)});
  }

  bool Answer(const NPVariant*, uint32_t argCount, NPVariant* result) {
    INT32_TO_NPVARIANT(static_cast<int32_t>(argCount), *result);
    return true;
  }
  bool Refuse(const NPVariant*, uint32_t, NPVariant*) { return false; }
  bool Raise(const NPVariant*, uint32_t, NPVariant*) { throw _com_error(E_FAIL); }
  bool Throw(const NPVariant*, uint32_t, NPVariant*) { throw std::bad_alloc(); }

  static int deallocated;
};
int ProbeObject::deallocated = 0;

class ScriptObjectBaseTest : public LinkedHostTest {
 protected:
  void SetUp() override {
    LinkedHostTest::SetUp();
    ProbeObject::deallocated = 0;
    scriptClass.allocate = ProbeObject::Allocate;
    object = host.Table()->createobject(nullptr, &scriptClass);
    ASSERT_NE(nullptr, object);
    static_cast<ScriptObjectBase*>(object)->RegisterFunctions();
  }
  void TearDown() override {
    if (object != nullptr) host.ReleaseObject(object);
    EXPECT_EQ(1, ProbeObject::deallocated);
    LinkedHostTest::TearDown();
  }

  bool Call(const std::string& name, NPVariant* result, std::vector<NPVariant> args = {}) {
    return host.Invoke(object, name, args, result);
  }
  std::size_t Unfreed() const {
    return host.Calls("NPN_UTF8FromIdentifier").size() - host.Calls("NPN_MemFree").size();
  }

  NPObject* object = nullptr;
};

TEST_F(ScriptObjectBaseTest, MethodLookupIsExactAndCaseSensitive) {
  NPVariant result;
  ASSERT_TRUE(Call("Answer", &result, {NumberArg(1), NumberArg(2)}));
  EXPECT_EQ(NPVariantType_Int32, result.type);
  EXPECT_EQ(2, result.value.intValue);
  for (const char* name : {"answer", "ANSWER", "Answer ", "Answe", "", "Unknown"}) {
    EXPECT_FALSE(Call(name, &result)) << '"' << name << '"';
    EXPECT_EQ(NPVariantType_Void, result.type);
    EXPECT_FALSE(scriptClass.hasMethod(object, host.StringId(name))) << '"' << name << '"';
  }
  EXPECT_TRUE(scriptClass.hasMethod(object, host.StringId("Raise")));
}

TEST_F(ScriptObjectBaseTest, FirstRegistrationWinsAndARefusingHandlerFailsTheCall) {
  NPVariant result;
  EXPECT_TRUE(Call("Answer", &result));  // Refuse was registered second under the same name
  EXPECT_FALSE(Call("Refuse", &result));
}

TEST_F(ScriptObjectBaseTest, IntegerIdentifiersFindNothingAndFreeNothing) {
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  NPIdentifier index = host.IntId(3);
  EXPECT_FALSE(scriptClass.hasMethod(object, index));
  EXPECT_FALSE(scriptClass.invoke(object, index, nullptr, 0, &result));
  EXPECT_FALSE(scriptClass.hasProperty(object, index));
  EXPECT_FALSE(scriptClass.getProperty(object, index, &result));
  EXPECT_FALSE(scriptClass.setProperty(object, index, &result));
  EXPECT_FALSE(scriptClass.removeProperty(object, index));
  EXPECT_EQ(NPVariantType_Void, result.type);
  EXPECT_TRUE(host.Calls("NPN_MemFree").empty());
}

TEST_F(ScriptObjectBaseTest, RaisedErrorsEndAsAFailedCallWithEveryNameFreed) {
  NPVariant result;
  EXPECT_FALSE(Call("Raise", &result));
  EXPECT_FALSE(Call("Throw", &result));
  EXPECT_EQ(NPVariantType_Void, result.type);
  // The object stays usable.
  EXPECT_TRUE(Call("Answer", &result));
  EXPECT_EQ(0u, Unfreed());
  EXPECT_EQ(3u, host.Calls("NPN_MemFree").size());
}

TEST_F(ScriptObjectBaseTest, PropertiesAreNeverCreated) {
  NPVariant value = NumberArg(7);
  NPIdentifier name = host.StringId("size");
  EXPECT_FALSE(scriptClass.hasProperty(object, name));
  EXPECT_FALSE(scriptClass.setProperty(object, name, &value));
  NPVariant read;
  VOID_TO_NPVARIANT(read);
  EXPECT_FALSE(scriptClass.getProperty(object, name, &read));
  EXPECT_EQ(NPVariantType_Void, read.type);
  EXPECT_FALSE(scriptClass.removeProperty(object, name));
  EXPECT_FALSE(scriptClass.hasProperty(object, host.StringId("Answer")));  // methods are not properties
  EXPECT_EQ(0u, Unfreed());
}

TEST_F(ScriptObjectBaseTest, CallingEnumeratingAndConstructingTheObjectItself) {
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  NPVariant argument = NumberArg(1);
  EXPECT_FALSE(scriptClass.invokeDefault(object, &argument, 1, &result));
  NPIdentifier* names = nullptr;
  uint32_t count = 77;
  EXPECT_FALSE(scriptClass.enumerate(object, &names, &count));
  EXPECT_EQ(nullptr, names);
  EXPECT_EQ(77u, count);
  EXPECT_TRUE(scriptClass.construct(object, &argument, 1, &result));
  EXPECT_EQ(NPVariantType_Void, result.type);
}

TEST_F(ScriptObjectBaseTest, TheClassRecordIsVersionThreeWithEveryEntry) {
  EXPECT_EQ(3u, scriptClass.structVersion);
  for (void* entry : {reinterpret_cast<void*>(scriptClass.deallocate), reinterpret_cast<void*>(scriptClass.invalidate),
                      reinterpret_cast<void*>(scriptClass.hasMethod), reinterpret_cast<void*>(scriptClass.invoke),
                      reinterpret_cast<void*>(scriptClass.invokeDefault),
                      reinterpret_cast<void*>(scriptClass.hasProperty),
                      reinterpret_cast<void*>(scriptClass.getProperty),
                      reinterpret_cast<void*>(scriptClass.setProperty),
                      reinterpret_cast<void*>(scriptClass.removeProperty),
                      reinterpret_cast<void*>(scriptClass.enumerate), reinterpret_cast<void*>(scriptClass.construct)})
    EXPECT_NE(nullptr, entry);
}

}  // namespace
