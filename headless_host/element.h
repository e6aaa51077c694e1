// One plug-in instance for one page element: its NPP, the address of its page,
// the attributes handed to NPP_New, a real child window of the host's page
// window given through NPP_SetWindow, the scriptable object asked for through
// NPP_GetValue, and the page's window object once the module asks for it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "headless_host/plugin_library.h"
#include "npapi/npfunctions.h"

struct ElementGeometry {
  int32_t x = 0;
  int32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

class Element {
 public:
  Element(uint64_t id, const PluginLibrary* library, std::string type, std::string page,
          std::vector<std::pair<std::string, std::string>> attributes, ElementGeometry geometry);
  ~Element();
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;

  // NPP_New with the attributes, in their order.
  NPError New();
  // A child window of the page window, given to NPP_SetWindow.
  NPError GiveWindow(HWND page, const wchar_t* windowClass);
  // NPP_GetValue(NPPVpluginScriptableNPObject); the host holds the reference it answers with.
  NPError AskScriptable(NPObject** object);
  // NPP_Destroy; saved data the module hands back comes out through *saved.
  NPError Destroy(NPSavedData** saved);
  void CloseWindow();

  uint64_t Id() const { return id_; }
  NPP Npp() { return &npp_; }
  HWND Window() const { return window_; }
  const std::string& Page() const { return page_; }
  NPObject* scriptable = nullptr;
  // The page's window object on the object ledger (by id, so that one a faulty
  // module released too often is never mistaken); the host holds one reference.
  uint64_t windowObject = 0;
  bool windowed = true;
  // Requests into the instance on the plug-in thread's stack now (a page
  // function may be waited for inside one); NPP_Destroy waits for them.
  int callsOnStack = 0;
  bool destroyWhenIdle = false;
  // Asked to go: no request reaches it any more.
  bool leaving = false;

 private:
  uint64_t id_;
  const PluginLibrary* library_;
  std::string type_;
  std::string page_;
  std::vector<std::pair<std::string, std::string>> attributes_;
  ElementGeometry geometry_;
  NPP_t npp_{};
  NPWindow npWindow_{};
  HWND window_ = nullptr;
};
