#include "download_engine/transfer.h"

#include <algorithm>

#include "download_engine/content_disposition.h"
#include "download_engine/disk_space.h"
#include "download_engine/module_state.h"
#include "download_engine/size_rules.h"
#include "download_engine/text.h"

namespace engine {

namespace {

// A range is split only when both halves keep at least this much.
constexpr int64_t kMinSplit = 512 * 1024;
constexpr uint64_t kCheckpointMs = 1000;
constexpr uint32_t kMinBuffer = 64 * 1024;
constexpr uint32_t kMaxBuffer = 16 << 20;

HttpError Problem(const std::wstring& message, bool transient = false, int32_t code = 0) {
  HttpError error;
  error.code = code;
  error.message = message;
  error.transient = transient;
  return error;
}

// If-Range needs a strong validator: a weak ETag cannot vouch for bytes. It
// goes back into a header: one with control characters is no validator.
std::wstring ValidatorOf(const HttpResponse& response) {
  std::wstring validator =
      !response.etag.empty() && response.etag.compare(0, 2, L"W/") != 0 ? response.etag : response.lastModified;
  return HasControlCharacter(validator) ? std::wstring() : validator;
}

// A length or total the engine can handle, or -1 for none given.
bool SizeProblem(const HttpResponse& response, HttpError* error) {
  for (int64_t size : {response.contentLength, response.status == 206 ? response.rangeTotal : int64_t(-1)}) {
    if (size < -1 || size > kMaxResourceSize) {
      *error = Problem(L"the server announced a size of " + std::to_wstring(size) +
                       L" bytes, more than the engine can download");
      return true;
    }
  }
  return false;
}

}  // namespace

Transfer::Transfer(TransferHost* host, std::shared_ptr<RateLimiter> limiter, std::shared_ptr<CookieJar> cookies,
                   TransferPlan plan)
    : host_(host), limiter_(std::move(limiter)), cookies_(std::move(cookies)), plan_(std::move(plan)) {
  size_ = plan_.size;
  for (const auto& segment : plan_.segments) {
    Range range;
    range.begin = segment.begin;
    range.end = segment.end;
    range.received = range.written = range.durable = segment.done;
    ranges_.push_back(range);
  }
}

Transfer::~Transfer() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool Transfer::Start() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    running_ = started_ = 1;
  }
  auto self = shared_from_this();
  HANDLE thread = StartModuleThread([self] { self->Lead(); });
  if (thread == nullptr) {
    std::lock_guard<std::mutex> hold(mutex_);
    running_ = 0;
    return false;
  }
  CloseHandle(thread);
  return true;
}

void Transfer::Stop() { stop_ = true; }

void Transfer::Abandon() {
  abandoned_ = true;
  stop_ = true;
}

Transfer::Progress Transfer::Snapshot() const {
  std::lock_guard<std::mutex> hold(mutex_);
  Progress progress;
  progress.size = size_;
  for (const auto& range : ranges_) {
    progress.received += range.received;
    progress.durable += range.durable;
    progress.segments.push_back(Segment{range.begin, range.end, range.durable});
  }
  progress.openConnections = running_;
  progress.responded = responded_;
  return progress;
}

bool Transfer::Complete() const {
  if (size_ < 0) return false;
  for (const auto& range : ranges_)
    if (range.end < 0 || range.written != range.end - range.begin) return false;
  return true;
}

// No exception may end a connection's thread without ending the connection:
// the transfer would wait for it for ever.
void Transfer::Lead() {
  bool ended = false;
  try {
    LeadWork(&ended);
  } catch (...) {
    if (!ended) {
      HttpError error = Problem(L"the engine ran out of memory");
      ConnectionEnded(&error);
    }
  }
}

void Transfer::LeadWork(bool* ended) {
  auto end = [&](const HttpError* error) {
    *ended = true;
    ConnectionEnded(error);
  };
  HttpError error;
  if (!OpenHttpSession(plan_.http, &session_, &error)) {
    end(&error);
    return;
  }
  for (int attempt = 0;; ++attempt) {
    LeadStart start = ChooseLeadRange();
    if (start.nothingLeft) break;

    HttpRequest request;
    HttpResponse response;
    bool askRange = start.begin > 0 || plan_.connections > 1;
    if (!request.Open(session_.Get(), plan_.http, *cookies_, plan_.url, plan_.referrer, askRange, start.begin, -1,
                      start.begin > 0 ? plan_.validator : std::wstring(), plan_.validatorUrl, &response, &error)) {
      // 416: the range is beyond the resource as it is now; start over without one.
      if (error.code == 416 && attempt == 0) {
        StartOver(false);
        continue;
      }
      end(&error);
      return;
    }
    if (stop_) {
      end(nullptr);
      return;
    }
    int64_t total = -1;
    switch (JudgeResponse(response, start.begin, attempt, &total, &error)) {
      case Judgement::Fail:
        end(&error);
        return;
      case Judgement::StartOver:
        StartOver(true);
        continue;
      case Judgement::Take:
        break;
    }
    ResponseFacts facts = TakeResponse(response, total, &start);
    std::wstring partialPath;
    if (!host_->TransferResponded(plan_.taskId, this, facts, &partialPath, &error) ||
        !OpenPartialFile(partialPath, facts.restartedFromZero, &error)) {
      end(&error);
      return;
    }
    if (splitting_ && plan_.connections > 1) StartHelpers(session_.Get());
    end(PumpLead(start.range, request, &error) ? nullptr : &error);
    return;
  }
  end(nullptr);
}

Transfer::LeadStart Transfer::ChooseLeadRange() {
  LeadStart start;
  bool nothingLeft = true;
  std::lock_guard<std::mutex> hold(mutex_);
  if (ranges_.empty()) ranges_.push_back(Range());
  for (size_t i = 0; i < ranges_.size(); ++i) {
    start.anyProgress = start.anyProgress || ranges_[i].received > 0;
    if (nothingLeft && (ranges_[i].end < 0 || ranges_[i].received < ranges_[i].end - ranges_[i].begin)) {
      start.range = i;
      nothingLeft = false;
    }
  }
  start.nothingLeft = nothingLeft;
  if (nothingLeft) {
    // Everything was already in the file: only the rename is left.
    responded_ = true;
    size_ = ranges_.back().end;
  } else {
    ranges_[start.range].owner = 0;
    start.begin = ranges_[start.range].begin + ranges_[start.range].received;
  }
  return start;
}

void Transfer::StartOver(bool forgetValidator) {
  std::lock_guard<std::mutex> hold(mutex_);
  ranges_.assign(1, Range());
  size_ = -1;
  if (forgetValidator) plan_.validator.clear();
}

Transfer::Judgement Transfer::JudgeResponse(const HttpResponse& response, int64_t begin, int attempt, int64_t* total,
                                            HttpError* error) {
  if (SizeProblem(response, error)) return Judgement::Fail;
  if (response.status != 206) {
    *total = response.contentLength;
    return Judgement::Take;
  }
  if (!response.hasRange || response.rangeBegin != begin) {
    *error = Problem(L"the server sent another part of the file than the one asked for");
    return Judgement::Fail;
  }
  *total = response.rangeTotal;
  // The bytes so far came with a validator: a part with another one (or
  // none) is of another file, whatever If-Range the server ignored.
  bool otherFile = begin > 0 && !plan_.validator.empty() && ValidatorOf(response) != plan_.validator;
  if (otherFile || (begin > 0 && size_ >= 0 && *total >= 0 && *total != size_)) {
    // The resource changed under the bytes already in the file.
    if (attempt > 0) {
      *error = Problem(L"the file on the server keeps changing");
      return Judgement::Fail;
    }
    return Judgement::StartOver;
  }
  return Judgement::Take;
}

ResponseFacts Transfer::TakeResponse(const HttpResponse& response, int64_t total, LeadStart* start) {
  // A whole body (200) after bytes were already in: the download starts again from zero.
  bool restart = response.status != 206 && start->anyProgress;
  ResponseFacts facts;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (restart) {
      ranges_.assign(1, Range());
      ranges_[0].owner = 0;
      start->range = 0;
    }
    if (total >= 0) size_ = total;
    if (ranges_.size() == 1) ranges_[0].end = size_;
    splitting_ = response.status == 206 && size_ >= 0;
    responded_ = true;
    facts.size = size_;
  }
  facts.suggestedName = FileNameFromDisposition(response.disposition);
  facts.contentType = response.contentType;
  facts.finalUrl = response.finalUrl;
  facts.validator = ValidatorOf(response);
  facts.restartedFromZero = restart || !start->anyProgress;
  plan_.validator = facts.validator;
  plan_.validatorUrl = response.finalUrl;
  return facts;
}

bool Transfer::OpenPartialFile(const std::wstring& path, bool truncate, HttpError* error) {
  std::lock_guard<std::mutex> hold(fileMutex_);
  partialPath_ = path;
  file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *error = Problem(L"the partial file could not be opened (Windows error " + std::to_wstring(code) + L")", false,
                     static_cast<int32_t>(code));
    return false;
  }
  if (truncate) SetEndOfFile(file_);
  return true;
}

bool Transfer::PumpLead(size_t first, HttpRequest& request, HttpError* error) {
  std::vector<char> buffer(
      std::clamp<uint32_t>(plan_.cacheBytes / static_cast<uint32_t>(plan_.connections), kMinBuffer, kMaxBuffer));
  bool ok = Pump(0, first, request, buffer, error);
  request.Close();
  while (ok && !stop_) {
    size_t range;
    if (!ClaimWork(0, &range)) break;
    ok = FetchRange(0, range, session_.Get(), buffer, error);
  }
  return ok;
}

void Transfer::StartHelpers(HINTERNET) {
  int helpers = plan_.connections - 1;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (ranges_.size() == 1 && ranges_[0].end > 0) {
      Range& whole = ranges_[0];
      int64_t position = whole.begin + whole.received;
      int64_t remaining = whole.end - position;
      int64_t parts = std::min<int64_t>(plan_.connections, remaining / kMinSplit);
      if (parts < 2) return;
      int64_t part = remaining / parts;
      int64_t end = whole.end;
      whole.end = position + part;
      for (int64_t i = 1; i < parts; ++i) {
        Range range;
        range.begin = position + part * i;
        range.end = i == parts - 1 ? end : position + part * (i + 1);
        ranges_.push_back(range);
      }
      helpers = static_cast<int>(parts - 1);
    }
    running_ += helpers;
    started_ += helpers;
  }
  auto self = shared_from_this();
  for (int i = 1; i <= helpers; ++i) {
    HANDLE thread = StartModuleThread([self, i] { self->Helper(i); });
    if (thread == nullptr) ConnectionEnded(nullptr);
    else CloseHandle(thread);
  }
}

void Transfer::Helper(int index) {
  bool ended = false;
  try {
    std::vector<char> buffer(std::clamp<uint32_t>(plan_.cacheBytes / static_cast<uint32_t>(plan_.connections),
                                                  kMinBuffer, kMaxBuffer));
    HttpError error;
    bool ok = true;
    while (ok && !stop_) {
      size_t range;
      if (!ClaimWork(index, &range)) break;
      ok = FetchRange(index, range, session_.Get(), buffer, &error);
    }
    ended = true;
    ConnectionEnded(ok ? nullptr : &error);
  } catch (...) {
    if (!ended) {
      HttpError error = Problem(L"the engine ran out of memory");
      ConnectionEnded(&error);
    }
  }
}

bool Transfer::ClaimWork(int index, size_t* claimed) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (size_t i = 0; i < ranges_.size(); ++i) {
    Range& range = ranges_[i];
    if (range.owner < 0 && range.end >= 0 && range.received < range.end - range.begin) {
      range.owner = index;
      *claimed = i;
      return true;
    }
  }
  if (!splitting_) return false;
  // Half of the largest range still running.
  size_t largest = ranges_.size();
  int64_t most = 0;
  for (size_t i = 0; i < ranges_.size(); ++i) {
    const Range& range = ranges_[i];
    int64_t left = range.end - (range.begin + range.received);
    if (range.owner >= 0 && left > most) {
      most = left;
      largest = i;
    }
  }
  if (largest == ranges_.size() || most < 2 * kMinSplit) return false;
  Range half;
  half.begin = ranges_[largest].begin + ranges_[largest].received + most / 2;
  half.end = ranges_[largest].end;
  half.owner = index;
  ranges_[largest].end = half.begin;
  ranges_.push_back(half);
  *claimed = ranges_.size() - 1;
  return true;
}

bool Transfer::FetchRange(int index, size_t rangeIndex, HINTERNET session, std::vector<char>& buffer,
                          HttpError* error) {
  int64_t begin, end;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    begin = ranges_[rangeIndex].begin + ranges_[rangeIndex].received;
    end = ranges_[rangeIndex].end;
  }
  HttpRequest request;
  HttpResponse response;
  bool ok = request.Open(session, plan_.http, *cookies_, plan_.url, plan_.referrer, true, begin, end - 1,
                         plan_.validator, plan_.validatorUrl, &response, error);
  if (ok && (response.status != 206 || !response.hasRange || response.rangeBegin != begin ||
             (response.rangeTotal >= 0 && response.rangeTotal != size_))) {
    *error = Problem(L"the server stopped serving parts of the file", true);
    ok = false;
  }
  // A part of another version of the file: the next attempt starts over.
  if (ok && ValidatorOf(response) != plan_.validator) {
    *error = Problem(L"the file on the server changed during the download", true);
    ok = false;
  }
  if (!ok) {
    std::lock_guard<std::mutex> hold(mutex_);
    ranges_[rangeIndex].owner = -1;
    splitting_ = false;
    return false;
  }
  return Pump(index, rangeIndex, request, buffer, error);
}

bool Transfer::Pump(int, size_t rangeIndex, HttpRequest& request, std::vector<char>& buffer, HttpError* error) {
  size_t buffered = 0;
  bool ok = true;
  uint64_t lastFlushMs = NowMs();
  auto flush = [&]() -> bool {
    if (buffered == 0 || abandoned_) return true;
    int64_t offset;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      offset = ranges_[rangeIndex].begin + ranges_[rangeIndex].written;
    }
    if (!WriteAt(offset, buffer.data(), buffered, error)) return false;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ranges_[rangeIndex].written += static_cast<int64_t>(buffered);
    }
    buffered = 0;
    lastFlushMs = NowMs();
    Checkpoint(false);
    return true;
  };
  for (;;) {
    if (stop_) break;
    int64_t left;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      const Range& range = ranges_[rangeIndex];
      left = range.end < 0 ? INT64_MAX : range.end - (range.begin + range.received);
    }
    if (left <= 0) break;
    // Full, or held long enough: a slow transfer still saves its progress.
    if ((buffered == buffer.size() || (buffered > 0 && NowMs() - lastFlushMs >= kCheckpointMs)) && !(ok = flush()))
      break;
    // Tokens only for bytes that are there: a short read would waste them.
    DWORD available = 0;
    if (!request.Available(&available, error)) {
      ok = false;
      break;
    }
    DWORD got = 0;
    if (available > 0) {
      uint32_t want = static_cast<uint32_t>(std::min<int64_t>(
          std::min<int64_t>(std::min<int64_t>(limiter_->ChunkSize(), left), static_cast<int64_t>(buffer.size() - buffered)),
          available));
      uint32_t granted = limiter_->Rate() == 0 ? want : limiter_->Acquire(want, stop_);
      if (granted == 0) break;
      if (!request.Read(buffer.data() + buffered, granted, &got, error)) {
        ok = false;
        break;
      }
    }
    std::lock_guard<std::mutex> hold(mutex_);
    Range& range = ranges_[rangeIndex];
    if (got == 0) {
      if (range.end < 0) {
        // A body without a length ends where the server stops.
        range.end = range.begin + range.received;
        size_ = range.end;
      } else {
        *error = Problem(L"the server closed the connection before the end of the file", true);
        ok = false;
      }
      break;
    }
    // Another connection may have taken over the tail meanwhile; a body
    // without a length ends at the configured maximum.
    int64_t room = range.end >= 0 ? range.end - (range.begin + range.received)
                                  : plan_.maxUnsizedBytes - (range.begin + range.received);
    int64_t useful = std::max<int64_t>(0, std::min<int64_t>(got, room));
    range.received += useful;
    received_ += useful;
    buffered += static_cast<size_t>(useful);
    if (range.end < 0 && useful < got) {
      *error = Problem(L"the server sent more than " + std::to_wstring(plan_.maxUnsizedBytes >> 20) +
                       L" MiB without announcing a size (the engine's limit, max_unsized_mib)");
      ok = false;
      break;
    }
  }
  bool flushed = flush();
  ok = ok && flushed;
  std::lock_guard<std::mutex> hold(mutex_);
  ranges_[rangeIndex].owner = -1;
  // Bytes read but not written are read again by whoever takes the range.
  ranges_[rangeIndex].received = ranges_[rangeIndex].written;
  return ok;
}

bool Transfer::WriteAt(int64_t offset, const char* data, size_t size, HttpError* error) {
  while (size > 0) {
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD written = 0;
    if (!WriteFile(file_, data, static_cast<DWORD>(size), &written, &position) || written == 0) {
      DWORD code = GetLastError();
      if (IsDiskFull(code)) {
        // What the task still needs against what the volume has now; the
        // partial file keeps what was written, for a resume.
        int64_t needed = static_cast<int64_t>(size);
        {
          std::lock_guard<std::mutex> hold(mutex_);
          if (size_ >= 0) {
            int64_t have = 0;
            for (const auto& range : ranges_) have += range.written;
            needed = std::max(needed, size_ - have);
          }
        }
        uint64_t free = 0;
        FreeSpaceOf(partialPath_, &free);
        *error = Problem(NotEnoughSpace(needed, free), false, kDiskFullCode);
      } else {
        *error = Problem(L"writing the file failed (Windows error " + std::to_wstring(code) + L")", false,
                         static_cast<int32_t>(code));
      }
      return false;
    }
    offset += written;
    data += written;
    size -= written;
  }
  return true;
}

void Transfer::Checkpoint(bool force) {
  std::vector<int64_t> written;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    uint64_t now = NowMs();
    if (!force && now - lastCheckpointMs_ < kCheckpointMs) return;
    lastCheckpointMs_ = now;
    for (const auto& range : ranges_) written.push_back(range.written);
  }
  {
    std::lock_guard<std::mutex> hold(fileMutex_);
    if (file_ != INVALID_HANDLE_VALUE) FlushFileBuffers(file_);
  }
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (size_t i = 0; i < written.size(); ++i)
      ranges_[i].durable = std::max(ranges_[i].durable, std::min(written[i], ranges_[i].written));
  }
  if (!force && !abandoned_) host_->TransferCheckpoint(plan_.taskId, this);
}

void Transfer::ConnectionEnded(const HttpError* error) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (error) {
      lastError_ = *error;
      failed_ = true;
    }
    if (--running_ > 0) return;
  }
  if (!abandoned_) Checkpoint(true);
  {
    std::lock_guard<std::mutex> hold(fileMutex_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  if (abandoned_) return;
  TransferOutcome outcome;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    outcome.size = size_;
    for (const auto& range : ranges_) outcome.segments.push_back(Segment{range.begin, range.end, range.durable});
    if (Complete()) {
      outcome.result = TransferResult::Completed;
    } else if (stop_) {
      outcome.result = TransferResult::Stopped;
    } else {
      outcome.result = TransferResult::Failed;
      outcome.error = failed_ ? lastError_ : Problem(L"the download ended before the file was complete", true);
    }
  }
  host_->TransferEnded(plan_.taskId, this, outcome);
}

}  // namespace engine
