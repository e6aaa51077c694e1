// One owner for every BSTR the module makes or receives: freed when the owner
// goes, also while a raised engine error unwinds the call.
#pragma once

#include <windows.h>
#include <oleauto.h>

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(BSTR text) : text_(text) {}
  ~UniqueBstr() { Reset(); }
  UniqueBstr(UniqueBstr&& other) noexcept : text_(other.Release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;

  BSTR Get() const { return text_; }
  // For out parameters: frees what is held and hands the slot to the callee.
  BSTR* Out() {
    Reset();
    return &text_;
  }
  BSTR Release() {
    BSTR text = text_;
    text_ = nullptr;
    return text;
  }
  void Reset(BSTR text = nullptr) {
    if (text_ != nullptr) SysFreeString(text_);
    text_ = text;
  }

 private:
  BSTR text_ = nullptr;
};
