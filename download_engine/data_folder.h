// Where the engine keeps its settings and its task journal: the user's local
// application-data folder (tasks name local paths and partial files, so they
// belong to this machine), or the folder named by HALVO_ENGINE_HOME.
#pragma once

#include <string>

namespace engine {

// The folder, created when missing; empty when it cannot be made.
std::wstring DataFolder();

}  // namespace engine
