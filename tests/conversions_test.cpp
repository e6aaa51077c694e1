// Script values to engine values and back, with the system's real code pages.
#include <gtest/gtest.h>

#include <comdef.h>

#include <cmath>
#include <limits>

#include "script/com_error.h"
#include "script/conversions.h"
#include "script/script_status.h"
#include "tests/support/linked_host.h"

namespace {

// "é ü €" as UTF-8.
const char kNonAscii[] = "\xC3\xA9 \xC3\xBC \xE2\x82\xAC";

std::wstring Utf8Route(const std::string& bytes) {
  auto wide = Utf8ToWide(bytes.c_str());
  UniqueBstr text = WideToBstr(wide.get());
  return text.Get() != nullptr ? std::wstring(text.Get(), SysStringLen(text.Get())) : L"(null)";
}

std::wstring AnsiRoute(const std::string& bytes) {
  UniqueBstr text = AnsiToBstr(bytes.c_str());
  return text.Get() != nullptr ? std::wstring(text.Get(), SysStringLen(text.Get())) : L"(null)";
}

// What the system's ANSI code page makes of the bytes, one byte per character for single-byte pages.
std::wstring AnsiDecoded(const std::string& bytes) {
  wchar_t buffer[64] = {};
  int units = MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, buffer, 64);
  return std::wstring(buffer, units > 0 ? units - 1 : 0);
}

// The runners (tests/run-under-wine.sh.in, tests/vm32/guest-setup.sh) pin the Western
// ANSI code page, so that what the ANSI route makes of bytes is known exactly.
const UINT kWesternCodePage = 1252;

TEST(TextRoutes, Utf8RouteKeepsCharactersAnsiRouteDecodesBytes) {
  ASSERT_EQ(kWesternCodePage, GetACP()) << "run under the test runner, which sets the Western code page";
  EXPECT_EQ(L"\u00E9 \u00FC \u20AC", Utf8Route(kNonAscii));
  std::wstring ansi = AnsiRoute(kNonAscii);
  EXPECT_EQ(AnsiDecoded(kNonAscii), ansi);
  // Each UTF-8 byte becomes its own Western character.
  EXPECT_EQ(L"\u00C3\u00A9 \u00C3\u00BC \u00E2\u201A\u00AC", ansi);
  EXPECT_NE(Utf8Route(kNonAscii), ansi);
  EXPECT_EQ(L"plain ascii", Utf8Route("plain ascii"));
  EXPECT_EQ(L"plain ascii", AnsiRoute("plain ascii"));
}

TEST(TextRoutes, InnerNulKeepsAllBytesInScriptTextButStopsEngineText) {
  const char bytes[] = {'a', 'b', '\0', 'c', 'd'};
  NPString script = {bytes, sizeof bytes};
  std::string copied = NPStringToString(script);
  ASSERT_EQ(5u, copied.size());
  EXPECT_EQ('c', copied[3]);
  EXPECT_EQ(L"ab", Utf8Route(copied));
  EXPECT_EQ(L"ab", AnsiRoute(copied));
}

TEST(TextRoutes, EmptyTextGivesAnEmptyNonNullBstr) {
  NPString empty = {nullptr, 0};
  std::string text = NPStringToString(empty);
  EXPECT_TRUE(text.empty());
  UniqueBstr utf8 = WideToBstr(Utf8ToWide(text.c_str()).get());
  UniqueBstr ansi = AnsiToBstr(text.c_str());
  for (const UniqueBstr* bstr : {&utf8, &ansi}) {
    ASSERT_NE(nullptr, bstr->Get());
    EXPECT_EQ(0u, SysStringLen(bstr->Get()));
  }
  EXPECT_EQ(nullptr, WideToBstr(nullptr).Get());
  EXPECT_EQ(nullptr, AnsiToBstr(nullptr).Get());
  EXPECT_EQ(nullptr, Utf8ToWide(nullptr));
}

TEST(TextRoutes, CopiesTakeExactlyTheGivenLength) {
  const char bytes[] = "abcdef";
  EXPECT_EQ("abc", NPStringToString(NPString{bytes, 3}));
}

TEST(TextRoutes, EngineTextToScriptTextThroughTheAnsiPage) {
  UniqueBstr plain(SysAllocString(L"10.0.0.7"));
  EXPECT_EQ("10.0.0.7", BstrToAnsi(plain.Get()).value());
  UniqueBstr empty(SysAllocString(L""));
  EXPECT_EQ("", BstrToAnsi(empty.Get()).value());
  EXPECT_FALSE(BstrToAnsi(nullptr).has_value());
  ASSERT_EQ(kWesternCodePage, GetACP()) << "run under the test runner, which sets the Western code page";
  // A character outside the page becomes its default character.
  UniqueBstr foreign(SysAllocString(L"\u4E2D"));
  EXPECT_EQ("?", BstrToAnsi(foreign.Get()).value());
  UniqueBstr western(SysAllocString(L"\u00E9\u20AC"));
  EXPECT_EQ("\xE9\x80", BstrToAnsi(western.Get()).value()) << "the page's own byte for each character";
}

struct NumberCase {
  double in;
  int32_t out;
};

TEST(Numbers, TruncateTowardZeroAndSaturateAtTheBounds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const NumberCase cases[] = {
      {2.0, 2},           {2.99, 2},         {-2.99, -2},       {0.4, 0},          {-0.0, 0},
      {258.7, 258},       {2147483647.0, INT32_MAX},             {2147483647.9, INT32_MAX},
      {2147483648.0, INT32_MAX}, {1e300, INT32_MAX}, {inf, INT32_MAX},
      {-2147483648.0, INT32_MIN}, {-2147483648.9, INT32_MIN}, {-1e300, INT32_MIN}, {-inf, INT32_MIN},
      {nan, 0},           {-2147483647.5, -2147483647},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, NumberToInt(c.in)) << c.in;
}

TEST(Numbers, TruthValues) {
  EXPECT_FALSE(NumberToBool(0.0));
  EXPECT_FALSE(NumberToBool(-0.0));
  for (double value : {1.0, -1.0, 0.001, 1e-300, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()})
    EXPECT_TRUE(NumberToBool(value)) << value;
}

using StringResults = LinkedHostTest;

TEST_F(StringResults, TextGoesToHostMemoryAndAnInnerNulShortensIt) {
  NPVariant result;
  ASSERT_TRUE(StringToResult(std::string("ab\0cd", 5), &result));
  ASSERT_EQ(NPVariantType_String, result.type);
  EXPECT_EQ(2u, result.value.stringValue.UTF8Length);
  EXPECT_EQ(6u, std::stoul(host.Calls("NPN_MemAlloc").back().args[0]));
  host.ReleaseVariantValue(&result);

  ASSERT_TRUE(StringToResult("", &result));
  EXPECT_EQ(0u, result.value.stringValue.UTF8Length);
  EXPECT_NE(nullptr, result.value.stringValue.UTF8Characters);
  EXPECT_EQ("1", host.Calls("NPN_MemAlloc").back().args[0]);
  host.ReleaseVariantValue(&result);
}

TEST_F(StringResults, WithoutHostMemoryTheResultIsUntouched) {
  host.failMemAlloc = true;
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  EXPECT_FALSE(StringToResult("text", &result));
  EXPECT_EQ(NPVariantType_Void, result.type);
}

TEST(Status, CodesAndTheirResultType) {
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  SetStatusResult(&result, StatusBadArguments);
  EXPECT_EQ(NPVariantType_Int32, result.type);
  EXPECT_EQ(2, result.value.intValue);
  EXPECT_EQ(0, StatusOk);
  EXPECT_EQ(1, StatusEngineUnavailable);
  EXPECT_EQ(3, StatusNoInstance);
}

// An engine-like object: answers ISupportErrorInfo as told.
class ErrorSource : public ISupportErrorInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (hasSupport && (IsEqualIID(riid, IID_ISupportErrorInfo) || IsEqualIID(riid, IID_IUnknown))) {
      *out = static_cast<ISupportErrorInfo*>(this);
      ++references;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, supported) ? S_OK : S_FALSE;
  }
  bool hasSupport = true;
  IID supported = IID_IDispatch;
  int references = 0;
};

void SetThreadError(const wchar_t* description) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(S_OK, CreateErrorInfo(&create));
  create->SetDescription(const_cast<LPOLESTR>(description));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  SetErrorInfo(0, info);
  info->Release();
  create->Release();
}

std::wstring DescriptionOf(const _com_error& error) {
  IErrorInfo* info = error.ErrorInfo();  // no reference added
  if (info == nullptr) return L"(none)";
  BSTR text = nullptr;
  info->GetDescription(&text);
  std::wstring description = text != nullptr ? text : L"";
  SysFreeString(text);
  return description;
}

struct RaiseCase {
  const char* what;
  bool hasSupport;
  bool supportsThisInterface;
  bool threadHasError;
  const wchar_t* description;
};

TEST(RaiseComError, TakesTheDescriptionOnlyWhenOfferedForThatInterface) {
  CoInitialize(nullptr);
  const RaiseCase cases[] = {
      {"supported, error set", true, true, true, L"disk full"},
      {"supported, no error set", true, true, false, L"(none)"},
      {"other interface supported", true, false, true, L"(none)"},
      {"no ISupportErrorInfo", false, false, true, L"(none)"},
  };
  for (const auto& c : cases) {
    SetErrorInfo(0, nullptr);
    ErrorSource source;
    source.hasSupport = c.hasSupport;
    if (c.supportsThisInterface) source.supported = IID_IUnknown;
    if (c.threadHasError) SetThreadError(L"disk full");
    try {
      RaiseComError(0x80070070, &source, IID_IUnknown);
      ADD_FAILURE() << c.what << ": nothing raised";
    } catch (const _com_error& error) {
      EXPECT_EQ(static_cast<HRESULT>(0x80070070), error.Error()) << c.what;
      EXPECT_EQ(std::wstring(c.description), DescriptionOf(error)) << c.what;
    }
    EXPECT_EQ(0, source.references) << c.what << ": ISupportErrorInfo not released";
    SetErrorInfo(0, nullptr);
  }
  try {
    RaiseComError(E_OUTOFMEMORY, nullptr, IID_IUnknown);
    ADD_FAILURE() << "without a source: nothing raised";
  } catch (const _com_error& error) {
    EXPECT_EQ(E_OUTOFMEMORY, error.Error());
    EXPECT_EQ(nullptr, error.ErrorInfo());
  }
  CoUninitialize();
}

}  // namespace
