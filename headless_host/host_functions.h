// The host function table given to NP_Initialize: every entry is filled, the
// host kit's (memory, identifiers, objects: kit/kit_functions.h) and this host's own.
// Each entry first checks that it runs on the plug-in thread; a call from
// another thread is reported as a fault and refused (NPN_PluginThreadAsyncCall,
// made to be called from any thread, excepted).
#pragma once

#include "npapi/npfunctions.h"

void FillHostFunctions(NPNetscapeFuncs* table);
