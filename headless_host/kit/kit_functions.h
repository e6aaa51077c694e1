// The host functions that work alike in every host here: host memory,
// identifiers, object references, calls into objects and variant release.
// Each serves HostKit::Current(): the call is recorded when the host records,
// refused with a fault off the plug-in thread, and checked against the
// ledgers. A host fills its table with these and adds its own (page,
// network, window, values).
#pragma once

#include "npapi/npfunctions.h"

// Clears the table, sets its size and version and the kit's entries.
void FillKitFunctions(NPNetscapeFuncs* table);

// What NPN_ReleaseVariantValue does to the value, without counting as a call
// of the module's: a string goes back through NPN_MemFree, an object loses a
// reference, and the value becomes void.
void ReleaseVariantContents(NPVariant* variant);
