// The engine event's table and its reader and writer: what the engine builds
// is what the module and the tests read back, value for value.
#include "engine/task_event.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <limits>
#include <set>
#include <string>

namespace {

using namespace task_event;

// An event with a distinct value at every position.
TaskEvent Distinct() {
  TaskEvent event;
  for (unsigned position = 0; position < kCount; ++position)
    if (std::wstring* text = TextAt(event, position)) *text = L"t" + std::to_wstring(position);
  event.kind = 5;
  event.queuePosition = 4294967295u;
  event.percent = 12.5;
  event.connections = 17;
  event.complete = 1;
  event.state = 6;
  event.errorCode = std::numeric_limits<int32_t>::min();
  event.speed = 21;
  event.size = std::numeric_limits<int64_t>::min();
  event.done = std::numeric_limits<int64_t>::max();
  return event;
}

class Args {
 public:
  Args() { WriteTaskEvent(Distinct(), values_); }
  ~Args() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  VARIANT& operator[](unsigned position) { return values_[position]; }
  DISPPARAMS Params(unsigned count = kCount) { return DISPPARAMS{values_, nullptr, count, 0}; }

 private:
  VARIANT values_[kCount];
};

void ExpectSame(const TaskEvent& expected, const TaskEvent& actual) {
  for (unsigned position = 0; position < kCount; ++position) {
    if (const std::wstring* text = TextAt(expected, position)) {
      EXPECT_EQ(*text, *TextAt(actual, position)) << position;
    }
  }
  EXPECT_EQ(expected.kind, actual.kind);
  EXPECT_EQ(expected.queuePosition, actual.queuePosition);
  EXPECT_EQ(expected.percent, actual.percent);
  EXPECT_EQ(expected.connections, actual.connections);
  EXPECT_EQ(expected.complete, actual.complete);
  EXPECT_EQ(expected.state, actual.state);
  EXPECT_EQ(expected.errorCode, actual.errorCode);
  EXPECT_EQ(expected.speed, actual.speed);
  EXPECT_EQ(expected.size, actual.size);
  EXPECT_EQ(expected.done, actual.done);
}

TEST(TaskEventTable, EachPositionOnceInOrderWithItsDeclaredType) {
  // The event method's parameters, last declared first.
  const VARTYPE declared[kCount] = {VT_UI1,  VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR,
                                    VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_UI4,  VT_BSTR,
                                    VT_R8,   VT_UI1,  VT_UI1,  VT_UI1,  VT_I4,   VT_UI4,  VT_I8,   VT_I8};
  std::set<std::string> names;
  TaskEvent event;
  for (unsigned position = 0; position < kCount; ++position) {
    EXPECT_EQ(position, kFields[position].position);
    EXPECT_EQ(declared[position], kFields[position].type) << kFields[position].name;
    EXPECT_TRUE(names.insert(kFields[position].name).second) << kFields[position].name;
    // A text member exactly where the table says text.
    EXPECT_EQ(declared[position] == VT_BSTR, TextAt(event, position) != nullptr) << kFields[position].name;
  }
  EXPECT_EQ(nullptr, TextAt(event, kCount));
}

TEST(TaskEventTable, WrittenValuesCarryTheirPositionsTypesAndReadBackTheSame) {
  Args args;
  for (const Field& field : kFields) EXPECT_EQ(field.type, V_VT(&args[field.position])) << field.name;
  EXPECT_STREQ(L"t2", V_BSTR(&args[kKey]));
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), V_I8(&args[kSize]));
  DISPPARAMS params = args.Params();
  for (EventTexts texts : {EventTexts::UpToNul, EventTexts::Whole}) {
    std::optional<TaskEvent> read = ReadTaskEvent(&params, texts);
    ASSERT_TRUE(read.has_value());
    ExpectSame(Distinct(), *read);
  }
}

TEST(TaskEventTable, ShortOrMissingArgumentListsReadAsNoEvent) {
  Args args;
  DISPPARAMS shortList = args.Params(kCount - 1);
  DISPPARAMS noArray = {nullptr, nullptr, kCount, 0};
  EXPECT_FALSE(ReadTaskEvent(nullptr).has_value());
  EXPECT_FALSE(ReadTaskEvent(&shortList).has_value());
  EXPECT_FALSE(ReadTaskEvent(&noArray).has_value());
}

TEST(TaskEventTable, TextsReadUpToTheirNulOrWholeAndNonTextsAsEmpty) {
  Args args;
  VariantClear(&args[kUrl]);
  V_VT(&args[kUrl]) = VT_BSTR;
  V_BSTR(&args[kUrl]) = SysAllocStringLen(L"a\0b", 3);
  VariantClear(&args[kFolder]);
  V_VT(&args[kFolder]) = VT_BSTR;
  V_BSTR(&args[kFolder]) = nullptr;
  VariantClear(&args[kMessage]);
  V_VT(&args[kMessage]) = VT_I4;  // never read as a pointer
  V_I4(&args[kMessage]) = 0x12345678;
  DISPPARAMS params = args.Params();
  const struct {
    EventTexts texts;
    std::wstring url;
  } cases[] = {{EventTexts::UpToNul, L"a"}, {EventTexts::Whole, std::wstring(L"a\0b", 3)}};
  for (const auto& c : cases) {
    std::optional<TaskEvent> read = ReadTaskEvent(&params, c.texts);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(c.url, read->url);
    EXPECT_EQ(L"", read->folder);
    EXPECT_EQ(L"", read->message);
    EXPECT_EQ(L"t2", read->key);
  }
}

}  // namespace
