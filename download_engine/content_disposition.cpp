#include "download_engine/content_disposition.h"

#include <cwctype>
#include <vector>

#include "download_engine/text.h"

namespace engine {

namespace {

struct Parameter {
  std::wstring name;
  std::wstring value;
};

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// disposition-type *( ";" name "=" (token | quoted-string) )
std::vector<Parameter> Parameters(const std::wstring& header) {
  std::vector<Parameter> result;
  size_t i = header.find(L';');
  while (i != std::wstring::npos && i < header.size()) {
    ++i;
    while (i < header.size() && (header[i] == L' ' || header[i] == L'\t')) ++i;
    size_t equals = header.find_first_of(L"=;", i);
    if (equals == std::wstring::npos || header[equals] == L';') {
      i = equals;
      continue;
    }
    Parameter parameter;
    parameter.name = header.substr(i, equals - i);
    while (!parameter.name.empty() && (parameter.name.back() == L' ' || parameter.name.back() == L'\t'))
      parameter.name.pop_back();
    parameter.name = Lower(parameter.name);
    i = equals + 1;
    while (i < header.size() && (header[i] == L' ' || header[i] == L'\t')) ++i;
    if (i < header.size() && header[i] == L'"') {
      // A backslash quotes only a quote or a backslash: servers put Windows
      // paths there unquoted, and "..\\x" must stay visible as a path.
      for (++i; i < header.size() && header[i] != L'"'; ++i) {
        if (header[i] == L'\\' && i + 1 < header.size() && (header[i + 1] == L'"' || header[i + 1] == L'\\')) ++i;
        parameter.value += header[i];
      }
      i = header.find(L';', i);
    } else {
      size_t end = header.find(L';', i);
      parameter.value = header.substr(i, end == std::wstring::npos ? std::wstring::npos : end - i);
      while (!parameter.value.empty() && (parameter.value.back() == L' ' || parameter.value.back() == L'\t'))
        parameter.value.pop_back();
      i = end;
    }
    result.push_back(parameter);
  }
  return result;
}

int Hex(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// charset "'" [ language ] "'" percent-encoded bytes
bool DecodeExtended(const std::wstring& value, std::wstring* name) {
  size_t first = value.find(L'\'');
  size_t second = first == std::wstring::npos ? first : value.find(L'\'', first + 1);
  if (second == std::wstring::npos) return false;
  std::wstring charset = Lower(value.substr(0, first));
  std::string bytes;
  for (size_t i = second + 1; i < value.size(); ++i) {
    if (value[i] == L'%') {
      if (i + 2 >= value.size() || Hex(value[i + 1]) < 0 || Hex(value[i + 2]) < 0) return false;
      bytes += static_cast<char>(Hex(value[i + 1]) * 16 + Hex(value[i + 2]));
      i += 2;
    } else if (value[i] < 0x80) {
      bytes += static_cast<char>(value[i]);
    } else {
      return false;
    }
  }
  if (charset == L"utf-8") {
    *name = Utf8ToWide(bytes);
  } else if (charset == L"iso-8859-1") {
    name->clear();
    for (unsigned char c : bytes) *name += static_cast<wchar_t>(c);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::wstring FileNameFromDisposition(const std::wstring& header) {
  std::wstring plain;
  for (const Parameter& parameter : Parameters(header)) {
    std::wstring decoded;
    if (parameter.name == L"filename*" && DecodeExtended(parameter.value, &decoded) && !decoded.empty())
      return decoded;
    if (parameter.name == L"filename" && plain.empty()) plain = parameter.value;
  }
  return plain;
}

}  // namespace engine
