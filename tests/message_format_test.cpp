// The event and record texts, field for field.
#include <gtest/gtest.h>

#include <limits>

#include "transfer/message_format.h"
#include "transfer/task_event.h"

namespace {

TEST(GeneralNumber, SixSignificantDigitsAndThreeDigitExponents) {
  const std::pair<double, const wchar_t*> cases[] = {
      {0.0, L"0"},          {0.5, L"0.5"},          {12.25, L"12.25"},      {2.5e6, L"2.5e+006"},
      {1e7, L"1e+007"},     {0.00001, L"1e-005"},   {0.0001, L"0.0001"},    {123456.0, L"123456"},
      {1234567.0, L"1.23457e+006"}, {-3.5, L"-3.5"}, {-2.5e-7, L"-2.5e-007"}, {1e100, L"1e+100"},
      {1.5e-300, L"1.5e-300"}, {100.0, L"100"},     {0.1, L"0.1"},          {-0.0, L"-0"},
  };
  for (const auto& c : cases) EXPECT_EQ(std::wstring(c.second), FormatGeneralNumber(c.first)) << c.first;
  EXPECT_EQ(L"inf", FormatGeneralNumber(std::numeric_limits<double>::infinity()));
  EXPECT_EQ(L"-inf", FormatGeneralNumber(-std::numeric_limits<double>::infinity()));
  EXPECT_EQ(L"nan", FormatGeneralNumber(std::numeric_limits<double>::quiet_NaN()));
}

// Every text of the first thirteen positions reads "t" and its position.
void NumberTexts(TaskEvent& event) {
  for (unsigned position = task_event::kFolder; position <= task_event::kMessage; ++position)
    *TextAt(event, position) = L"t" + std::to_wstring(position);
}

TaskEvent Event(uint8_t kind) {
  TaskEvent event;
  event.kind = kind;
  return event;
}

TEST(EventMessage, TheDocumentedExamples) {
  TaskEvent event = Event(3);
  event.state = 5;
  event.errorCode = -1;
  event.speed = 7;
  event.size = -2;
  event.done = 900;
  EXPECT_EQ(L"3||||||||||||||0||0|0|0|5|-1|7|-2|900", FormatEventMessage(event));
  EXPECT_EQ(L"3||||||||||||||0||0|0|0|0|0|0|0|0", FormatEventMessage(Event(3)));
}

TEST(EventMessage, FieldsInArgumentOrderWithTheirWidths) {
  TaskEvent event = Event(255);
  NumberTexts(event);
  event.queuePosition = 4294967295u;
  event.stateName = L"t15";
  event.percent = 2.5e6;
  event.connections = 17;
  event.complete = 0;
  event.state = 254;
  event.errorCode = std::numeric_limits<int32_t>::min();
  event.speed = 21;
  event.size = std::numeric_limits<int64_t>::min();
  event.done = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(L"255|t1|t2|t3|t4|t5|t6|t7|t8|t9|t10|t11|t12|t13|4294967295|t15|2.5e+006|17|0|254|-2147483648|21|"
            L"-9223372036854775808|9223372036854775807",
            FormatEventMessage(event));
}

TEST(EventMessage, ABarInsideATextShiftsTheFieldsAfterIt) {
  TaskEvent event = Event(3);
  event.key = L"a|b";
  std::wstring text = FormatEventMessage(event);
  EXPECT_EQ(24, std::count(text.begin(), text.end(), L'|'));
  EXPECT_EQ(0u, text.find(L"3||a|b|"));
}

TEST(TaskRecordText, TheDocumentedExampleAndUnsignedSixtyFourBitNumbers) {
  _TaskParam record;
  record.key = L"k1";
  record.text1 = L"a";
  record.text2 = L"b";
  record.text3 = L"c";
  record.text4 = L"d";
  record.state = 5;
  record.number1 = 3;
  record.number2 = 100;
  record.number3 = 7;
  EXPECT_EQ(L"k1|a|b|c|5|3|100|7|d|", FormatTaskRecordText(record));

  record.number1 = -1;
  record.number2 = std::numeric_limits<int64_t>::min();
  record.number3 = 4294967295u;
  record.state = 254;
  EXPECT_EQ(L"k1|a|b|c|254|18446744073709551615|9223372036854775808|4294967295|d|", FormatTaskRecordText(record));
}

TEST(TaskEventRecord, TakesItsFieldsFromTheDocumentedIndices) {
  TaskEvent event = Event(3);
  NumberTexts(event);
  event.stateName = L"t15";
  event.state = 2;
  event.speed = 21;
  event.size = 22;
  event.done = 23;
  _TaskParam record = RecordOf(event);
  EXPECT_EQ(L"t2", record.key);
  EXPECT_EQ(L"t3", record.text1);
  EXPECT_EQ(L"t1", record.text2);
  EXPECT_EQ(L"t4", record.text3);
  EXPECT_EQ(L"t13", record.text4);
  EXPECT_EQ(L"t15", record.text5);
  EXPECT_EQ(2, record.state);
  EXPECT_EQ(22, record.number1);
  EXPECT_EQ(23, record.number2);
  EXPECT_EQ(21u, record.number3);
}

}  // namespace
