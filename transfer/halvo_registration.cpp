// The Halvo product's place in the generic module: its one plug-in type, whose
// description is also the name the module gives the browser.
#include "plugin/plugin_factory.h"
#include "transfer/halvo_plugin.h"

namespace {

const PluginFactory::Declaration kHalvoPluginType("application/x-halvoplugin", "Halvo Transfer Plugin",
                                                  &CreateHalvoPlugin);

}  // namespace
