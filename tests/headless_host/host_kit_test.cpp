// The host kit both hosts stand on, through the table a module gets: what it
// must catch is what would let a faulty module pass unseen in either host.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "headless_host/kit/host_kit.h"
#include "headless_host/kit/kit_functions.h"

namespace {

// A host with no policy of its own beyond keeping what it hears.
class KeepingHost : public HostKit {
 public:
  void Fault(const std::string& text) override { faults.push_back(text); }
  bool Records() const override { return true; }
  void Called(const char* function, std::vector<std::string>) override { calls.push_back(function); }
  std::vector<std::string> faults;
  std::vector<std::string> calls;
};

// An object class that counts what the host does to its objects.
int invalidated = 0;
int deallocated = 0;
NPObject* Allocate(NPP, NPClass*) { return new NPObject(); }
void Deallocate(NPObject* object) {
  ++deallocated;
  delete object;
}
void Invalidate(NPObject*) { ++invalidated; }
NPClass countingClass = {NP_CLASS_STRUCT_VERSION, Allocate, Deallocate, Invalidate, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

class HostKitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillKitFunctions(&table);
    invalidated = 0;
    deallocated = 0;
  }
  bool FaultSays(const std::string& words) const {
    for (const auto& fault : host.faults)
      if (fault.find(words) != std::string::npos) return true;
    return false;
  }
  KeepingHost host;
  NPNetscapeFuncs table;
  NPP npp = reinterpret_cast<NPP>(0x10);
};

// ---- identifiers ------------------------------------------------------------

TEST_F(HostKitTest, IdentifiersInternToOnePointerAndKeepStringsAndNumbersApart) {
  NPIdentifier name = table.getstringidentifier("location");
  NPIdentifier number = table.getintidentifier(7);
  struct Case {
    const char* what;
    NPIdentifier id;
    NPIdentifier same;
    bool isString;
  } cases[] = {
      {"a name asked twice", name, table.getstringidentifier("location"), true},
      {"a number asked twice", number, table.getintidentifier(7), false},
      {"a name asked for among others", name,
       [&] {
         const NPUTF8* names[] = {"href", "location"};
         NPIdentifier ids[2] = {};
         table.getstringidentifiers(names, 2, ids);
         return ids[1];
       }(),
       true},
      {"a negative number", table.getintidentifier(-1), table.getintidentifier(-1), false},
      {"the empty name", table.getstringidentifier(""), table.getstringidentifier(""), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(nullptr, c.id);
    EXPECT_EQ(c.id, c.same);
    EXPECT_EQ(c.isString, table.identifierisstring(c.id));
  }
  // The number 7 and the name "7" are two identifiers.
  EXPECT_NE(table.getstringidentifier("7"), number);
  EXPECT_NE(name, table.getstringidentifier("Location"));
  EXPECT_EQ(7, table.intfromidentifier(number));
  EXPECT_EQ(nullptr, table.utf8fromidentifier(number));
  // A name comes back as a copy in host memory, for the module to free.
  NPUTF8* text = table.utf8fromidentifier(name);
  ASSERT_NE(nullptr, text);
  EXPECT_STREQ("location", text);
  EXPECT_EQ(1u, host.Memory().Blocks());
  table.memfree(text);
  EXPECT_EQ(0u, host.Memory().Blocks());
  EXPECT_EQ(nullptr, table.getstringidentifier(nullptr));
  EXPECT_TRUE(host.faults.empty());
}

TEST_F(HostKitTest, AnIdentifierTheHostNeverGaveIsAFaultAndAnswersNothing) {
  int foreign = 0;
  NPIdentifier id = &foreign;
  EXPECT_FALSE(table.identifierisstring(id));
  EXPECT_EQ(nullptr, table.utf8fromidentifier(id));
  EXPECT_EQ(0, table.intfromidentifier(id));
  EXPECT_EQ(3u, host.faults.size());
  EXPECT_TRUE(FaultSays("NPN_UTF8FromIdentifier with an identifier the host never gave"));
  EXPECT_EQ(0u, host.Memory().Blocks());
}

// ---- the object ledger ------------------------------------------------------

// A module's reference work on one object, and what the ledger must say after it.
struct ReferenceCase {
  const char* name;
  std::function<void(const NPNetscapeFuncs&, NPObject*)> steps;  // after NPN_CreateObject
  std::size_t liveAfter;
  int deallocatedAfter;
  const char* fault;  // words of the one fault expected, or null
};

void PrintTo(const ReferenceCase& c, std::ostream* out) { *out << c.name; }

const ReferenceCase kReferenceCases[] = {
    {"CreatedThenReleased", [](const NPNetscapeFuncs& t, NPObject* o) { t.releaseobject(o); }, 0, 1, nullptr},
    {"RetainedAndBothReleased",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       t.retainobject(o);
       t.releaseobject(o);
       t.releaseobject(o);
     },
     0, 1, nullptr},
    {"RetainedOnceTooOften",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       t.retainobject(o);
       t.releaseobject(o);
     },
     1, 0, nullptr},
    {"NeverReleased", [](const NPNetscapeFuncs&, NPObject*) {}, 1, 0, nullptr},
    {"ReleasedTwice",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       t.releaseobject(o);
       t.releaseobject(o);
     },
     0, 1, "NPN_ReleaseObject on an object that is not live"},
    {"RetainedAfterItWent",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       t.releaseobject(o);
       t.retainobject(o);
     },
     0, 1, "NPN_RetainObject on an object that is not live"},
    {"ReleasedAsAVariant",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       NPVariant value;
       OBJECT_TO_NPVARIANT(o, value);
       t.releasevariantvalue(&value);
       EXPECT_EQ(NPVariantType_Void, value.type);
     },
     0, 1, nullptr},
    {"CalledAfterItWent",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       t.releaseobject(o);
       NPVariant result;
       EXPECT_FALSE(t.invokeDefault(nullptr, o, nullptr, 0, &result));
       EXPECT_EQ(NPVariantType_Void, result.type);
     },
     0, 1, "NPN_InvokeDefault on an object that is not live"},
};

class ObjectLedgerBalance : public HostKitTest, public ::testing::WithParamInterface<ReferenceCase> {};

TEST_P(ObjectLedgerBalance, TheLedgerShowsWhatIsLeftAndEveryBreach) {
  const ReferenceCase& c = GetParam();
  NPObject* object = table.createobject(npp, &countingClass);
  ASSERT_NE(nullptr, object);
  EXPECT_EQ(1u, host.Objects().ReferenceCount(object));
  c.steps(table, object);
  EXPECT_EQ(c.liveAfter, host.Objects().Count());
  EXPECT_EQ(c.deallocatedAfter, deallocated);
  if (c.fault == nullptr) {
    EXPECT_TRUE(host.faults.empty()) << host.faults.front();
  } else {
    EXPECT_EQ(1u, host.faults.size());
    EXPECT_TRUE(FaultSays(c.fault)) << c.fault;
  }
  host.Objects().ForceDeallocate(npp);
}

INSTANTIATE_TEST_SUITE_P(Sequences, ObjectLedgerBalance, ::testing::ValuesIn(kReferenceCases),
                         [](const ::testing::TestParamInfo<ReferenceCase>& info) { return info.param.name; });

TEST_F(HostKitTest, AnInstanceThatGoesTakesAllItsObjectsWhateverTheirCountAndNoOtherInstancesObjects) {
  NPP other = reinterpret_cast<NPP>(0x20);
  NPObject* first = table.createobject(npp, &countingClass);
  NPObject* second = table.createobject(npp, &countingClass);
  NPObject* kept = table.createobject(other, &countingClass);
  table.retainobject(first);
  EXPECT_EQ(2u, host.Objects().ForceDeallocate(npp));
  EXPECT_EQ(2, invalidated);
  EXPECT_EQ(2, deallocated);
  EXPECT_FALSE(host.Objects().Live(first));
  EXPECT_FALSE(host.Objects().Live(second));
  EXPECT_TRUE(host.Objects().Live(kept));
  EXPECT_TRUE(host.Objects().ForceDeallocate(kept));
  EXPECT_FALSE(host.Objects().ForceDeallocate(kept));  // already gone
  EXPECT_EQ(0u, host.Objects().Count());
  EXPECT_TRUE(host.faults.empty());
}

// ---- the memory ledger ------------------------------------------------------

TEST_F(HostKitTest, HostMemoryFreedTwiceOrNeverGivenIsAFaultAndNothingIsFreed) {
  void* block = table.memalloc(16);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(1u, host.Memory().Blocks());
  table.memfree(block);
  table.memfree(block);
  char own[4];
  table.memfree(own);
  table.memfree(nullptr);  // allowed, as free(NULL)
  EXPECT_EQ(2u, host.faults.size());
  EXPECT_TRUE(FaultSays("NPN_MemFree of memory the host never gave"));
  EXPECT_EQ(0u, host.Memory().Blocks());
  // A string result goes back through NPN_MemFree, which a recording host sees.
  NPVariant value;
  char* text = host.CopyToHostMemory("abc");
  STRINGN_TO_NPVARIANT(text, 3, value);
  host.calls.clear();
  table.releasevariantvalue(&value);
  EXPECT_EQ((std::vector<std::string>{"NPN_ReleaseVariantValue", "NPN_MemFree"}), host.calls);
  EXPECT_EQ(0u, host.Memory().Blocks());
}

// ---- the plug-in thread -----------------------------------------------------

struct OffThreadCase {
  const char* name;
  // Makes the call from another thread; true when its answer is the refusal.
  std::function<bool(const NPNetscapeFuncs&, NPObject* live)> call;
};

void PrintTo(const OffThreadCase& c, std::ostream* out) { *out << c.name; }

const OffThreadCase kOffThreadCases[] = {
    {"NPN_MemAlloc", [](const NPNetscapeFuncs& t, NPObject*) { return t.memalloc(8) == nullptr; }},
    {"NPN_GetStringIdentifier",
     [](const NPNetscapeFuncs& t, NPObject*) { return t.getstringidentifier("x") == nullptr; }},
    {"NPN_GetIntIdentifier", [](const NPNetscapeFuncs& t, NPObject*) { return t.getintidentifier(1) == nullptr; }},
    {"NPN_CreateObject",
     [](const NPNetscapeFuncs& t, NPObject*) { return t.createobject(nullptr, &countingClass) == nullptr; }},
    {"NPN_RetainObject", [](const NPNetscapeFuncs& t, NPObject* o) { return t.retainobject(o) == o; }},
    {"NPN_ReleaseObject",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       t.releaseobject(o);
       return true;
     }},
    {"NPN_InvokeDefault",
     [](const NPNetscapeFuncs& t, NPObject* o) {
       NPVariant result;
       return !t.invokeDefault(nullptr, o, nullptr, 0, &result);
     }},
};

class OffThread : public HostKitTest, public ::testing::WithParamInterface<OffThreadCase> {};

TEST_P(OffThread, ACallFromAnotherThreadIsRecordedRefusedAndAFault) {
  const OffThreadCase& c = GetParam();
  NPObject* object = table.createobject(npp, &countingClass);
  host.calls.clear();
  bool refused = false;
  std::thread other([&] { refused = c.call(table, object); });
  other.join();
  EXPECT_TRUE(refused);
  EXPECT_EQ(std::vector<std::string>{c.name}, host.calls);
  ASSERT_EQ(1u, host.faults.size());
  EXPECT_EQ(0u, host.faults[0].find(std::string(c.name) + " called off the plug-in thread")) << host.faults[0];
  // Nothing was touched: the one object with its one reference, no memory, no new identifier.
  EXPECT_EQ(1u, host.Objects().Count());
  EXPECT_EQ(1u, host.Objects().ReferenceCount(object));
  EXPECT_EQ(0u, host.Memory().Blocks());
  EXPECT_EQ(0u, host.Identifiers().Count());
  table.releaseobject(object);
  EXPECT_EQ(1, deallocated);
}

INSTANTIATE_TEST_SUITE_P(HostFunctions, OffThread, ::testing::ValuesIn(kOffThreadCases),
                         [](const ::testing::TestParamInfo<OffThreadCase>& info) { return info.param.name; });

}  // namespace
