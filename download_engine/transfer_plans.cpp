#include "download_engine/transfer_plans.h"

#include <algorithm>

#include "download_engine/task_paths.h"

namespace engine {

TransferPlan PlanFor(const Task& task, const Settings& settings) {
  TransferPlan plan;
  plan.taskId = task.id;
  plan.url = task.url;
  plan.referrer = task.referrer;
  plan.validator = task.validator;
  plan.validatorUrl = task.finalUrl;
  plan.size = task.size;
  plan.segments = task.segments;
  plan.partialPath = PartialPathOf(task);
  plan.maxUnsizedBytes = static_cast<int64_t>(settings.maxUnsizedMiB) << 20;
  plan.connections = settings.singleConnection ? 1 : std::clamp(task.connections, 1, kMaxConnections);
  plan.cacheBytes = static_cast<uint32_t>(std::clamp(settings.diskCacheKiB, 0, 256 * 1024)) * 1024u;
  plan.http.userAgent = settings.clientVersion;
  plan.http.proxy = settings.proxy;
  plan.http.connectTimeoutMs = std::max(100, settings.connectTimeoutMs);
  plan.http.receiveTimeoutMs = std::max(100, settings.receiveTimeoutMs);
  return plan;
}

}  // namespace engine
