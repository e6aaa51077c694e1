// What the module keeps of an engine event: the task record its store holds.
#pragma once

#include "engine/task_event.h"
#include "transfer/task_param.h"

// The record an event of kind 0 or 3 (or a completing task) stores: key,
// address, folder, file name, message and state word, the state, size, bytes
// done and speed.
_TaskParam RecordOf(const TaskEvent& event);
