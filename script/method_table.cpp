// The one place the script methods are registered, in the order pages know them.
#include "script/halvo_script_object.h"

void HalvoScriptObject::RegisterFunctions() {}
