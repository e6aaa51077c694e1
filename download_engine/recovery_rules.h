// A task as the journal gave it back, held to the rules of CreateDownload and
// of the server's answers: the journal may be damaged or edited. Texts that
// would go into request headers or name files are dropped when unusable; a
// folder or file name outside the rules fails the task without touching
// anything there; progress that does not fit together starts over with its
// reason; a folder that is missing now fails the task and keeps its progress.
#pragma once

#include "download_engine/task.h"

namespace engine {

// True when the task had to change.
bool RecheckFromJournal(Task* task);

}  // namespace engine
