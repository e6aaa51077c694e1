// One task as the page sees it, kept in the instance's task store.
#pragma once

#include <cstdint>
#include <string>

struct _TaskParam {
  std::wstring key;
  std::wstring text1;
  std::wstring text2;
  std::wstring text3;
  std::wstring text4;
  std::wstring text5;
  uint8_t state = 0;
  int64_t number1 = 0;
  int64_t number2 = 0;
  uint32_t number3 = 0;
};
