#include "headless_host/element.h"

Element::Element(uint64_t id, const PluginLibrary* library, std::string type, std::string page,
                 std::vector<std::pair<std::string, std::string>> attributes, ElementGeometry geometry)
    : id_(id),
      library_(library),
      type_(std::move(type)),
      page_(std::move(page)),
      attributes_(std::move(attributes)),
      geometry_(geometry) {
  npp_.pdata = nullptr;
  npp_.ndata = this;
}

Element::~Element() { CloseWindow(); }

NPError Element::New() {
  std::vector<char*> names, values;
  for (auto& attribute : attributes_) {
    names.push_back(&attribute.first[0]);
    values.push_back(&attribute.second[0]);
  }
  names.push_back(nullptr);
  values.push_back(nullptr);
  return library_->Funcs().newp(&type_[0], &npp_, NP_EMBED, static_cast<int16_t>(attributes_.size()), names.data(),
                                values.data(), nullptr);
}

NPError Element::GiveWindow(HWND page, const wchar_t* windowClass) {
  if (!windowed || library_->Funcs().setwindow == nullptr) return NPERR_NO_ERROR;
  window_ = CreateWindowExW(0, windowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                            geometry_.x, geometry_.y, static_cast<int>(geometry_.width),
                            static_cast<int>(geometry_.height), page, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) return NPERR_GENERIC_ERROR;
  npWindow_.window = window_;
  npWindow_.x = geometry_.x;
  npWindow_.y = geometry_.y;
  npWindow_.width = geometry_.width;
  npWindow_.height = geometry_.height;
  npWindow_.clipRect.top = 0;
  npWindow_.clipRect.left = 0;
  npWindow_.clipRect.bottom = static_cast<uint16_t>(geometry_.height);
  npWindow_.clipRect.right = static_cast<uint16_t>(geometry_.width);
  npWindow_.type = NPWindowTypeWindow;
  return library_->Funcs().setwindow(&npp_, &npWindow_);
}

NPError Element::AskScriptable(NPObject** object) {
  *object = nullptr;
  if (library_->Funcs().getvalue == nullptr) return NPERR_GENERIC_ERROR;
  return library_->Funcs().getvalue(&npp_, NPPVpluginScriptableNPObject, object);
}

NPError Element::Destroy(NPSavedData** saved) {
  *saved = nullptr;
  NPError result = library_->Funcs().destroy != nullptr ? library_->Funcs().destroy(&npp_, saved) : NPERR_NO_ERROR;
  return result;
}

void Element::CloseWindow() {
  if (window_ != nullptr) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
}
