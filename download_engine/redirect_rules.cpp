#include "download_engine/redirect_rules.h"

#include <windows.h>
#include <urlmon.h>

#include <cwctype>

#include "download_engine/url_check.h"

namespace engine {

namespace {

template <typename Interface>
class Held {
 public:
  ~Held() {
    if (pointer_) pointer_->Release();
  }
  Interface** Out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

std::wstring LowerScheme(const std::wstring& url) {
  size_t colon = url.find(L':');
  size_t stop = url.find_first_of(L"/?#");
  if (colon == std::wstring::npos || colon == 0 || (stop != std::wstring::npos && stop < colon)) return std::wstring();
  std::wstring scheme = url.substr(0, colon);
  for (auto& c : scheme) c = static_cast<wchar_t>(towlower(c));
  return scheme;
}

}  // namespace

std::wstring ResolveUrl(const std::wstring& base, const std::wstring& reference) {
  // "http:g" against an http base: browsers read it as the relative "g" (the
  // RFC's backward-compatible reading); the system combination refuses it.
  std::wstring relative = reference;
  std::wstring scheme = LowerScheme(reference);
  if (!scheme.empty() && scheme == LowerScheme(base) && reference.compare(scheme.size(), 3, L"://") != 0)
    relative = reference.substr(scheme.size() + 1);
  Held<IUri> baseUri, referenceUri, combined;
  if (FAILED(CreateUri(base.c_str(), Uri_CREATE_NO_DECODE_EXTRA_INFO, 0, baseUri.Out())) ||
      FAILED(CreateUri(relative.c_str(), Uri_CREATE_ALLOW_RELATIVE | Uri_CREATE_NO_DECODE_EXTRA_INFO, 0,
                       referenceUri.Out())) ||
      FAILED(CoInternetCombineIUri(baseUri.Get(), referenceUri.Get(), 0, combined.Out(), 0)))
    return std::wstring();
  BSTR text = nullptr;
  if (FAILED(combined->GetAbsoluteUri(&text)) || text == nullptr) return std::wstring();
  std::wstring result(text, SysStringLen(text));
  SysFreeString(text);
  size_t hash = result.find(L'#');
  if (hash != std::wstring::npos) result.erase(hash);
  return result;
}

std::wstring OriginOf(const std::wstring& url) {
  UrlParts parts;
  std::wstring reason;
  if (!CheckUrl(url, &parts, &reason)) return std::wstring();
  std::wstring host = parts.host;
  for (auto& c : host) c = static_cast<wchar_t>(towlower(c));
  return (parts.secure ? L"https://" : L"http://") + host + L":" + std::to_wstring(parts.port);
}

bool SameOrigin(const std::wstring& a, const std::wstring& b) {
  std::wstring origin = OriginOf(a);
  return !origin.empty() && origin == OriginOf(b);
}

bool IsDowngrade(const std::wstring& from, const std::wstring& to) {
  return LowerScheme(from) == L"https" && LowerScheme(to) == L"http";
}

}  // namespace engine
