// Page script objects handed to the plug-in as call arguments: a page
// function (callable through NPN_InvokeDefault) or any other page object (not
// callable). The page keeps the script object itself; the host's NPObject
// stands for it while the plug-in may use it and reports when it goes.
#pragma once

#include <cstdint>

#include "npapi/npruntime.h"

struct PageObject : NPObject {
  uint64_t pageId = 0;
  bool callable = false;
};

class PageObjectListener {
 public:
  virtual ~PageObjectListener() = default;
  // A call of a page function; the answer NPN_InvokeDefault gives.
  virtual bool PageFunctionCalled(PageObject* object, const NPVariant* args, uint32_t argCount,
                                  NPVariant* result) = 0;
  virtual void PageObjectReleased(PageObject* object) = 0;
};

void SetPageObjectListener(PageObjectListener* listener);
NPClass* PageObjectClass();
