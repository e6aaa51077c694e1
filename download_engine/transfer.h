// The transfer of one task: its HTTP connections, each on its own thread, the
// partial file they write into, and the ranges of the resource they share.
//
// The first connection asks for the task's first missing byte. Once its answer
// shows that the server serves ranges (206) and tells the size, the rest of the
// resource is split among up to the task's connection count; a connection that
// finishes its range takes over half of the largest range still running. An
// answer of 200 to a range request means the server ignored it (or the
// resource changed): the download starts again from zero; so does a 206 whose
// validator is not the one the bytes so far came with. Sizes the server
// announces are checked before they are used.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download_engine/cookie_jar.h"
#include "download_engine/http_client.h"
#include "download_engine/rate_limiter.h"
#include "download_engine/task.h"

namespace engine {

class Transfer;

struct TransferPlan {
  uint64_t taskId = 0;
  std::wstring url;
  std::wstring referrer;
  std::wstring validator;
  std::wstring validatorUrl;  // the address whose answer gave the validator
  int64_t size = -1;
  std::vector<Segment> segments;  // the progress so far; empty for a fresh start
  std::wstring partialPath;       // empty until the file name is chosen
  int64_t maxUnsizedBytes = int64_t(4096) << 20;  // a body without a length stops here
  int connections = 1;
  uint32_t cacheBytes = 4 << 20;
  HttpSessionOptions http;
};

struct ResponseFacts {
  int64_t size = -1;
  std::wstring suggestedName;  // from Content-Disposition, as the server wrote it
  std::wstring contentType;
  std::wstring finalUrl;
  std::wstring validator;
  bool restartedFromZero = false;
};

enum class TransferResult { Completed, Stopped, Failed };

struct TransferOutcome {
  TransferResult result = TransferResult::Failed;
  HttpError error;
  int64_t size = -1;
  std::vector<Segment> segments;  // done = bytes written and flushed
};

// The engine's side of a transfer. Calls come from the transfer's threads.
class TransferHost {
 public:
  // The first answer: the host records the facts, chooses the file when
  // needed and returns the partial file's path, or fails the transfer.
  virtual bool TransferResponded(uint64_t taskId, const Transfer* transfer, const ResponseFacts& facts,
                                 std::wstring* partialPath, HttpError* error) = 0;
  // Flushed progress moved on: a good moment to save the journal.
  virtual void TransferCheckpoint(uint64_t taskId, const Transfer* transfer) = 0;
  // The last connection has ended and the partial file is closed.
  virtual void TransferEnded(uint64_t taskId, const Transfer* transfer, const TransferOutcome& outcome) = 0;

 protected:
  ~TransferHost() = default;
};

class Transfer : public std::enable_shared_from_this<Transfer> {
 public:
  Transfer(TransferHost* host, std::shared_ptr<RateLimiter> limiter, std::shared_ptr<CookieJar> cookies,
           TransferPlan plan);
  ~Transfer();

  // False when no thread could be started.
  bool Start();
  // Asks every connection to end after its current read; buffered bytes are
  // written first. Does not wait.
  void Stop();
  // Like Stop, but nothing more is written: for a transfer the engine no
  // longer waits for, whose file a later transfer may own.
  void Abandon();

  struct Progress {
    int64_t size = -1;
    int64_t received = 0;  // bytes read from the network for this task in total
    int64_t durable = 0;   // of those, written and flushed
    std::vector<Segment> segments;  // done = flushed bytes
    int openConnections = 0;
    bool responded = false;
  };
  Progress Snapshot() const;

 private:
  struct Range {
    int64_t begin = 0;
    int64_t end = -1;       // exclusive, -1 unknown
    int64_t received = 0;   // bytes from begin read from the network
    int64_t written = 0;    // bytes from begin written to the file
    int64_t durable = 0;    // bytes from begin flushed to the disk
    int owner = -1;         // connection working on it, -1 none
  };

  // Where the first connection starts: the first range with bytes missing.
  struct LeadStart {
    size_t range = 0;
    int64_t begin = 0;
    bool anyProgress = false;  // some range already has bytes
    bool nothingLeft = false;  // every byte is in the file
  };
  // What the first answer means for the transfer.
  enum class Judgement { Take, StartOver, Fail };

  void Lead();
  // The first connection: range choice, request, judging the answer, the
  // partial file, then the pump.
  void LeadWork(bool* ended);
  LeadStart ChooseLeadRange();
  // Drops every range (and the validator the bytes came with): from zero again.
  void StartOver(bool forgetValidator);
  Judgement JudgeResponse(const HttpResponse& response, int64_t begin, int attempt, int64_t* total, HttpError* error);
  // Records an accepted answer: size, ranges, whether connections may split.
  ResponseFacts TakeResponse(const HttpResponse& response, int64_t total, LeadStart* start);
  bool OpenPartialFile(const std::wstring& path, bool truncate, HttpError* error);
  // Reads the first range on the answer at hand, then claims more work.
  bool PumpLead(size_t first, HttpRequest& request, HttpError* error);
  void Helper(int index);
  // Reads one range to its (possibly moving) end; false on a failure.
  bool Pump(int index, size_t range, HttpRequest& request, std::vector<char>& buffer, HttpError* error);
  bool ClaimWork(int index, size_t* range);
  bool FetchRange(int index, size_t range, HINTERNET session, std::vector<char>& buffer, HttpError* error);
  bool WriteAt(int64_t offset, const char* data, size_t size, HttpError* error);
  void Checkpoint(bool force);
  void ConnectionEnded(const HttpError* error);
  void StartHelpers(HINTERNET session);
  bool Complete() const;

  TransferHost* host_;
  std::shared_ptr<RateLimiter> limiter_;
  std::shared_ptr<CookieJar> cookies_;
  TransferPlan plan_;

  std::atomic<bool> stop_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<int64_t> received_{0};

  mutable std::mutex mutex_;
  std::vector<Range> ranges_;
  int64_t size_ = -1;
  bool responded_ = false;
  bool splitting_ = false;  // the server serves ranges: connections may share the work
  int running_ = 0;         // connections still alive
  int started_ = 0;
  HttpError lastError_;
  bool failed_ = false;

  std::mutex fileMutex_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::wstring partialPath_;
  uint64_t lastCheckpointMs_ = 0;
  InternetHandle session_;
};

}  // namespace engine
