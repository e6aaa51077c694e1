// The page's window as a module sees it through NPN_GetValue(NPNVWindowNPObject):
// a window object whose "location" property is a location object whose "href"
// property is the address of the element's page. A module asks for it to learn
// where it runs; nothing here runs page script, navigates or changes anything.
// Reference counts are a browser's: the window object answered by NPN_GetValue
// and the location object answered by NPN_GetProperty each carry a reference
// of the caller's, and "href" is a string in host memory, so a module that
// keeps the rules releases all three (NPN_ReleaseObject, NPN_ReleaseVariantValue).
#pragma once

#include <string>

#include "headless_host/kit/identifiers.h"
#include "headless_host/kit/memory_ledger.h"
#include "headless_host/kit/object_ledger.h"

// The host's tables the window objects work with; set once, before any is made.
void SetWindowObjectTables(IdentifierTable* identifiers, MemoryLedger* memory, ObjectLedger* objects);

// The window object of an element's page, with its location, both on the
// object ledger under the element's instance. The one reference it starts with
// is the caller's (the host's own); null when an object cannot be made.
NPObject* CreateWindowObject(NPP owner, const std::string& href);
