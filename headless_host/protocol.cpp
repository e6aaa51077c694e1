#include "headless_host/protocol.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace protocol {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool StartsWith(const std::string& text, const char* prefix, std::string* rest) {
  std::string p(prefix);
  if (text.compare(0, p.size(), p) != 0) return false;
  *rest = text.substr(p.size());
  return true;
}

}  // namespace

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (end > start) fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

std::string Text(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string field = "'";
  field.reserve(bytes.size() + 1);
  for (unsigned char c : bytes) {
    if (c <= 0x20 || c >= 0x7F || c == '%') {
      field += '%';
      field += digits[c >> 4];
      field += digits[c & 0xF];
    } else {
      field += static_cast<char>(c);
    }
  }
  return field;
}

bool ParseText(const std::string& field, std::string* bytes) {
  if (field.empty() || field[0] != '\'') return false;
  bytes->clear();
  for (std::size_t i = 1; i < field.size(); ++i) {
    char c = field[i];
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return false;  // such bytes travel escaped
    if (c != '%') {
      *bytes += c;
      continue;
    }
    if (i + 2 >= field.size()) return false;
    int high = HexDigit(field[i + 1]), low = HexDigit(field[i + 2]);
    if (high < 0 || low < 0) return false;
    *bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string FormatValue(const Value& value) {
  switch (value.kind) {
    case Value::Kind::Void: return "void";
    case Value::Kind::Null: return "null";
    case Value::Kind::Bool: return value.boolean ? "true" : "false";
    case Value::Kind::Int32: return "i:" + std::to_string(value.int32);
    case Value::Kind::Double: {
      if (std::isnan(value.number)) return "d:nan";
      if (std::isinf(value.number)) return value.number > 0 ? "d:inf" : "d:-inf";
      // The shortest text that reads back as the same double.
      char text[40];
      for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, value.number);
        if (std::strtod(text, nullptr) == value.number) break;
      }
      return std::string("d:") + text;
    }
    case Value::Kind::String: return Text(value.text);
    case Value::Kind::Function: return "fn:" + std::to_string(value.id);
    case Value::Kind::Object: return "obj:" + std::to_string(value.id);
    case Value::Kind::PluginObject: return "np:" + std::to_string(value.id);
  }
  return "void";
}

bool ParseNumber(const std::string& field, uint64_t* number) {
  if (field.empty() || field.size() > 19) return false;
  uint64_t result = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  *number = result;
  return true;
}

bool ParseInt(const std::string& field, int64_t* number) {
  if (field.empty()) return false;
  bool negative = field[0] == '-';
  uint64_t magnitude = 0;
  if (!ParseNumber(negative ? field.substr(1) : field, &magnitude)) return false;
  *number = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool ParseValue(const std::string& field, Value* value) {
  *value = Value();
  std::string rest;
  if (field == "void") return true;
  if (field == "null") {
    value->kind = Value::Kind::Null;
    return true;
  }
  if (field == "true" || field == "false") {
    value->kind = Value::Kind::Bool;
    value->boolean = field == "true";
    return true;
  }
  if (!field.empty() && field[0] == '\'') {
    value->kind = Value::Kind::String;
    return ParseText(field, &value->text);
  }
  if (StartsWith(field, "i:", &rest)) {
    int64_t number = 0;
    if (!ParseInt(rest, &number) || number < INT32_MIN || number > INT32_MAX) return false;
    value->kind = Value::Kind::Int32;
    value->int32 = static_cast<int32_t>(number);
    return true;
  }
  if (StartsWith(field, "d:", &rest)) {
    if (rest.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double number = std::strtod(rest.c_str(), &end);
    if (end == nullptr || *end != '\0') return false;
    value->kind = Value::Kind::Double;
    value->number = number;
    return true;
  }
  Value::Kind kind;
  if (StartsWith(field, "fn:", &rest)) {
    kind = Value::Kind::Function;
  } else if (StartsWith(field, "obj:", &rest)) {
    kind = Value::Kind::Object;
  } else if (StartsWith(field, "np:", &rest)) {
    kind = Value::Kind::PluginObject;
  } else {
    return false;
  }
  value->kind = kind;
  return ParseNumber(rest, &value->id);
}

}  // namespace protocol
