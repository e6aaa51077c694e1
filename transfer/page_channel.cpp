#include "transfer/page_channel.h"

#include "plugin/host.h"

void ReplaceAll(std::wstring& text, const std::wstring& search, const std::wstring& replacement) {
  if (search.empty()) return;
  std::size_t at = text.find(search);
  while (at != std::wstring::npos) {
    text.replace(at, search.size(), replacement);
    at = text.find(search, at + replacement.size());
  }
}

std::string EscapeForScript(const std::wstring& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size() * 6);
  for (wchar_t unit : text) {
    unsigned value = static_cast<unsigned>(unit) & 0xFFFF;
    escaped += '\\';
    escaped += 'u';
    escaped += digits[(value >> 12) & 0xF];
    escaped += digits[(value >> 8) & 0xF];
    escaped += digits[(value >> 4) & 0xF];
    escaped += digits[value & 0xF];
  }
  return escaped;
}

void PostPageMessage(NPP npp, const std::wstring& text) {
  std::wstring quoted = text;
  ReplaceAll(quoted, L"\"", L"\\\"");
  std::string url = "javascript:window.postMessage('";
  url += EscapeForScript(quoted);
  url += "',window.location.href)";
  NPN_GetURL(npp, url.c_str(), "_self");
}

bool CallPageCallback(NPP npp, NPObject* callback, const std::string& text) {
  NPVariant argument;
  STRINGN_TO_NPVARIANT(text.c_str(), text.size(), argument);
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  bool called = NPN_InvokeDefault(npp, callback, &argument, 1, &result);
  // A page function may return a string or an object: the value is ours to release.
  if (result.type != NPVariantType_Void && result.type != NPVariantType_Null) NPN_ReleaseVariantValue(&result);
  return called;
}
