// The host's line protocol: fields separated by single spaces, texts written
// as a quote followed by their bytes with every byte at or below a blank, at
// or above 0x7F, and "%" written as %XX, and script values in one field each
// (PROTOCOL.md describes the whole protocol).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace protocol {

// A script value as it crosses the protocol.
struct Value {
  enum class Kind { Void, Null, Bool, Int32, Double, String, Function, Object, PluginObject };
  Kind kind = Kind::Void;
  bool boolean = false;
  int32_t int32 = 0;
  double number = 0;
  std::string text;  // bytes of a string
  uint64_t id = 0;   // page function, page object or plug-in object
};

std::vector<std::string> SplitFields(const std::string& line);

// "'" + the bytes, escaped.
std::string Text(const std::string& bytes);
// False when the field is not a text or holds a bad escape.
bool ParseText(const std::string& field, std::string* bytes);

std::string FormatValue(const Value& value);
bool ParseValue(const std::string& field, Value* value);

// Unsigned decimal fields (sequence numbers, element ids, sizes).
bool ParseNumber(const std::string& field, uint64_t* number);
bool ParseInt(const std::string& field, int64_t* number);

}  // namespace protocol
