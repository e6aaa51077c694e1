// The address of the page that holds an element, learned as a browser offers
// it to plug-ins: the page's window object, its "location", then that
// object's "href". Nothing is evaluated as script. Plug-in thread only.
#pragma once

#include <optional>
#include <string>

#include "npapi/npapi.h"

// The href's bytes as the host gave them, or nothing when any step fails or
// answers something other than what a page has (an object, then a string).
// Every object and variant obtained on the way is released before returning.
std::optional<std::string> LearnPageAddress(NPP instance);
