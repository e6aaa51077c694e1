#include "download_engine/task_paths.h"

#include "download_engine/file_names.h"
#include "download_engine/transfer.h"

namespace engine {

std::wstring TargetPathOf(const Task& task) {
  if (task.fileName.empty() || task.folder.empty()) return std::wstring();
  return (task.folder.back() == L'\\' ? task.folder : task.folder + L"\\") + task.fileName;
}

std::wstring PartialPathOf(const Task& task) {
  std::wstring path = TargetPathOf(task);
  return path.empty() ? path : path + kPartialSuffix;
}

std::vector<Segment> CurrentSegments(const Task& task, int64_t* received) {
  if (task.transfer) {
    Transfer::Progress progress = task.transfer->Snapshot();
    *received = progress.received;
    return progress.segments;
  }
  *received = task.Done();
  return task.segments;
}

}  // namespace engine
