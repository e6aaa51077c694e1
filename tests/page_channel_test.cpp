// Texts into the page: escaping, the posted URL and the callback argument.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/linked_host.h"
#include "transfer/page_channel.h"

namespace {

const std::string kPrefix = "javascript:window.postMessage('";
const std::string kSuffix = "',window.location.href)";

TEST(EscapeForScript, EveryCodeUnitBecomesSixAsciiBytes) {
  EXPECT_EQ("", EscapeForScript(L""));
  EXPECT_EQ("\\u0041\\u0020\\u0039", EscapeForScript(L"A 9"));
  EXPECT_EQ("\\u00E9", EscapeForScript(L"\u00E9"));
  EXPECT_EQ("\\uD83D\\uDE00", EscapeForScript(L"\U0001F600"));
  EXPECT_EQ("\\uD800\\u0061", EscapeForScript(std::wstring{wchar_t(0xD800), L'a'}));  // a lone surrogate
  EXPECT_EQ("\\u0000\\uFFFF", EscapeForScript(std::wstring{wchar_t(0), wchar_t(0xFFFF)}));
  EXPECT_EQ("\\u007C", EscapeForScript(L"|"));
}

TEST(ReplaceAll, ReplacementIsNeverSearchedAgain) {
  std::wstring text = L"a\"\"b\"";
  ReplaceAll(text, L"\"", L"\\\"");
  EXPECT_EQ(L"a\\\"\\\"b\\\"", text);
  std::wstring growing = L"aa";
  ReplaceAll(growing, L"a", L"aa");
  EXPECT_EQ(L"aaaa", growing);
  std::wstring untouched = L"none";
  ReplaceAll(untouched, L"", L"x");
  EXPECT_EQ(L"none", untouched);
}

class PageChannel : public LinkedHostTest {
 protected:
  NPP_t npp{};
  std::string PostedUrl(const std::wstring& text) {
    host.ClearCalls();
    PostPageMessage(&npp, text);
    auto calls = host.Calls("NPN_GetURL");
    EXPECT_EQ(1u, calls.size());
    EXPECT_EQ("_self", calls.at(0).args[2]);
    return calls.at(0).args[1];
  }
};

TEST_F(PageChannel, WorkedExampleGivesTheseExactBytes) {
  EXPECT_EQ("javascript:window.postMessage('\\u0031\\u007C\\u0061\\u005C\\u0022\\u0062',window.location.href)",
            PostedUrl(L"1|a\"b"));
  EXPECT_EQ("javascript:window.postMessage('',window.location.href)", PostedUrl(L""));
}

// Reads the URL as a browser's script engine would: percent-decoding of the
// javascript: URL, then the one string literal; anything else fails.
bool DecodePostedUrl(const std::string& url, std::wstring* text) {
  std::string script;
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (static_cast<unsigned char>(url[i]) < 0x20 || static_cast<unsigned char>(url[i]) > 0x7E) return false;
    if (url[i] == '%' && i + 2 < url.size()) {
      script += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      script += url[i];
    }
  }
  if (script.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  if (script.size() < kPrefix.size() + kSuffix.size()) return false;
  if (script.compare(script.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) return false;
  std::string literal = script.substr(kPrefix.size(), script.size() - kPrefix.size() - kSuffix.size());
  text->clear();
  for (std::size_t i = 0; i < literal.size(); i += 6) {
    if (literal.compare(i, 2, "\\u") != 0 || i + 6 > literal.size()) return false;
    for (std::size_t d = i + 2; d < i + 6; ++d)
      if (!std::isxdigit(static_cast<unsigned char>(literal[d])) || std::islower(literal[d])) return false;
    text->push_back(static_cast<wchar_t>(std::stoi(literal.substr(i + 2, 4), nullptr, 16)));
  }
  return true;
}

TEST_F(PageChannel, ThousandsOfRandomTextsDecodeBackWithQuotesPrecededByABackslash) {
  std::mt19937 random(20121105);
  // Units that try to break out: quotes, backslash, percent, line and paragraph
  // separators, "</script>" pieces, NUL, surrogates, controls.
  const wchar_t nasty[] = {L'"', L'\'', L'\\', L'%', 0x2028, 0x2029, L'<', L'/', L'>', L'\n', L'\r', 0,
                           0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFE, 0x7F, L'|', L'u'};
  for (int round = 0; round < 3000; ++round) {
    std::wstring text;
    int length = random() % 40;
    for (int i = 0; i < length; ++i) {
      switch (random() % 3) {
        case 0: text += nasty[random() % (sizeof nasty / sizeof nasty[0])]; break;
        case 1: text += static_cast<wchar_t>(random() % 0x80); break;
        default: text += static_cast<wchar_t>(random() % 0x10000); break;
      }
    }
    if (round == 0) text = L"');alert(1);//</script>%27\\\"";
    std::string url = PostedUrl(text);
    std::wstring expected = text;
    ReplaceAll(expected, L"\"", L"\\\"");
    std::wstring decoded;
    ASSERT_TRUE(DecodePostedUrl(url, &decoded)) << "round " << round << ": " << url;
    ASSERT_EQ(expected, decoded) << "round " << round;
    ASSERT_EQ(54 + 6 * expected.size(), url.size());
  }
}

TEST_F(PageChannel, CallbackGetsTheEscapedTextUnquotedAndItsReturnValueIsReleased) {
  std::vector<std::string> received;
  NPObject* page = host.CreatePageFunction([&](const NPVariant* args, uint32_t count, NPVariant* result) {
    EXPECT_EQ(1u, count);
    received.emplace_back(args[0].value.stringValue.UTF8Characters, args[0].value.stringValue.UTF8Length);
    // Pages return things; the plug-in must release them.
    STRINGN_TO_NPVARIANT(host.HostString("returned"), 8, *result);
    return true;
  });
  std::string text = EscapeForScript(L"1|a\"b");
  EXPECT_TRUE(CallPageCallback(&npp, page, text));
  ASSERT_EQ(1u, received.size());
  EXPECT_EQ("\\u0031\\u007C\\u0061\\u0022\\u0062", received[0]);
  EXPECT_EQ(30u, received[0].size());
  EXPECT_EQ(1u, host.Calls("NPN_ReleaseVariantValue").size());

  NPObject* objectReturner = host.CreatePageFunction([&](const NPVariant*, uint32_t, NPVariant* result) {
    OBJECT_TO_NPVARIANT(host.CreatePlainObject(), *result);
    return true;
  });
  EXPECT_TRUE(CallPageCallback(&npp, objectReturner, text));

  NPObject* notCallable = host.CreatePlainObject();
  EXPECT_FALSE(CallPageCallback(&npp, notCallable, text));
  host.ReleaseObject(page);
  host.ReleaseObject(objectReturner);
  host.ReleaseObject(notCallable);
}

}  // namespace
