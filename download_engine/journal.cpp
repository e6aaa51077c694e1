#include "download_engine/journal.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <list>
#include <unordered_map>
#include <unordered_set>

#include "download_engine/atomic_file.h"
#include "download_engine/file_names.h"
#include "download_engine/record_codec.h"
#include "download_engine/size_rules.h"
#include "download_engine/text.h"

namespace engine {

namespace {

// Version 2 gives every record its own checksum, so a damaged file still
// yields its undamaged records; version 1 files are still read.
const wchar_t kWorkHeader[] = L"halvo-engine-work";
const wchar_t kFinishedHeader[] = L"halvo-engine-finished";
constexpr int kVersion = 2;

std::wstring Number(int64_t value) { return ToText(value); }
std::wstring Unsigned(uint64_t value) { return std::to_wstring(value); }

bool ReadSigned(const std::wstring& text, int64_t* value) { return ParseInt64(text, value); }
bool ReadUnsigned(const std::wstring& text, uint64_t* value) {
  int64_t signedValue;
  if (!ParseInt64(text, &signedValue) || signedValue < 0) return false;
  *value = static_cast<uint64_t>(signedValue);
  return true;
}
// A size or offset: 0 to kMaxResourceSize, or -1 where "unknown" is allowed.
bool ReadSize(const std::wstring& text, int64_t* value, bool unknownAllowed) {
  return ReadSigned(text, value) && (ValidSize(*value) || (unknownAllowed && *value == -1));
}

std::wstring EncodeSegments(const std::vector<Segment>& segments) {
  std::wstring text;
  for (const auto& segment : segments) {
    if (!text.empty()) text += L",";
    text += Number(segment.begin) + L":" + Number(segment.end) + L":" + Number(segment.done);
  }
  return text;
}

// Each number on its own; how the ranges fit together is the engine's check
// when it takes the task back (ValidSegments).
bool DecodeSegments(const std::wstring& text, std::vector<Segment>* segments) {
  segments->clear();
  size_t start = 0;
  while (start < text.size()) {
    if (segments->size() >= kMaxSegments) return false;
    size_t end = text.find(L',', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring part = text.substr(start, end - start);
    size_t first = part.find(L':');
    size_t second = first == std::wstring::npos ? first : part.find(L':', first + 1);
    Segment segment;
    if (second == std::wstring::npos || !ReadSize(part.substr(0, first), &segment.begin, false) ||
        !ReadSize(part.substr(first + 1, second - first - 1), &segment.end, true) ||
        !ReadSize(part.substr(second + 1), &segment.done, false))
      return false;
    segments->push_back(segment);
    start = end + 1;
  }
  return true;
}

std::wstring Hex(unsigned long long value) {
  wchar_t text[17];
  swprintf(text, 17, L"%016llx", value);
  return text;
}

// header line, records (each with its own checksum), then "end <count> <checksum>" over everything before it.
std::string Seal(const std::wstring& header, const std::vector<std::wstring>& records) {
  std::wstring body = header + L"\n";
  for (const auto& record : records) body += record + L"\t" + Hex(Checksum(WideToUtf8(record))) + L"\n";
  std::string bytes = WideToUtf8(body);
  char trailer[64];
  std::snprintf(trailer, sizeof trailer, "end\t%u\t%016llx\n", static_cast<unsigned>(records.size()),
                Checksum(bytes));
  return bytes + trailer;
}

// A version 2 record line without its checksum, when the checksum holds.
bool OpenRecord(const std::wstring& line, std::wstring* record) {
  size_t tab = line.rfind(L'\t');
  if (tab == std::wstring::npos || line.size() - tab != 17) return false;
  *record = line.substr(0, tab);
  return Hex(Checksum(WideToUtf8(*record))) == line.substr(tab + 1);
}

// The records of a file with this header. True when the file is intact; false
// when it is damaged, with the records that still pass their own check.
bool Open(const std::string& bytes, const std::wstring& header, std::vector<std::wstring>* records,
          std::wstring* headerLine) {
  records->clear();
  headerLine->clear();
  std::vector<std::wstring> lines = SplitLines(Utf8ToWide(bytes));
  if (lines.empty()) return false;
  int version = 0;
  std::wstring prefix = header + L" ";
  if (lines[0].compare(0, prefix.size(), prefix) == 0 && lines[0].size() > prefix.size() &&
      (lines[0].size() == prefix.size() + 1 || lines[0][prefix.size() + 1] == L'\t')) {
    wchar_t digit = lines[0][prefix.size()];
    version = digit == L'1' ? 1 : digit == L'2' ? 2 : 0;
  }
  size_t endAt = bytes.rfind("end\t");
  unsigned count = 0;
  unsigned long long checksum = 0;
  bool intact = version != 0 && endAt != std::string::npos && (endAt == 0 || bytes[endAt - 1] == '\n') &&
                std::sscanf(bytes.c_str() + endAt, "end\t%u\t%llx", &count, &checksum) == 2 &&
                checksum == Checksum(bytes.substr(0, endAt));
  if (intact) lines = SplitLines(Utf8ToWide(bytes.substr(0, endAt)));
  if (version != 0) *headerLine = lines[0];
  for (size_t i = 1; i < lines.size(); ++i) {
    if (version == 1) {
      if (intact) records->push_back(lines[i]);
      continue;
    }
    // A damaged file, whatever its header says: every line that passes its own check is a record.
    std::wstring record;
    if (OpenRecord(lines[i], &record)) records->push_back(record);
    else if (intact || lines[i].compare(0, 4, L"end\t") != 0) intact = false;
  }
  return intact && records->size() == count;
}

// The header's fields after the name: version and, for the work list, the next id.
bool HeaderFields(const std::wstring& line, std::vector<std::wstring>* fields) {
  return DecodeRecord(line, fields) && !fields->empty();
}

bool DecodeTask(const std::vector<std::wstring>& f, Task* task) {
  if (f.size() != 19 || f[0] != L"task") return false;
  int64_t connections, state, errorCode;
  if (!ReadUnsigned(f[1], &task->id) || !ReadSigned(f[8], &connections) || !ReadSigned(f[9], &state) ||
      !ReadSigned(f[11], &errorCode) || !ReadSize(f[12], &task->size, true) || !ReadSigned(f[16], &task->created) ||
      task->created < 0 || !DecodeSegments(f[18], &task->segments) || state < 0 || state > 8 || connections < 1 ||
      connections > 16 || !Narrowed(errorCode, &task->errorCode))
    return false;
  task->key = f[2];
  task->url = f[3];
  task->folder = f[4];
  task->requestedName = f[5];
  task->fileName = f[6];
  task->referrer = f[7];
  task->connections = static_cast<int32_t>(connections);
  task->state = static_cast<TaskState>(state);
  task->message = f[10];
  task->validator = f[13];
  task->contentType = f[14];
  task->finalUrl = f[15];
  task->interrupted = f[17] == L"1";
  return true;
}

bool DecodeEntry(const std::vector<std::wstring>& f, FinishedEntry* entry) {
  if (f.size() != 13 || f[0] != L"finished") return false;
  int64_t speed;
  if (!ReadUnsigned(f[1], &entry->id) || !ReadSize(f[7], &entry->size, false) || !ReadSigned(f[10], &speed) ||
      !Narrowed(speed, &entry->averageSpeed) || !ReadSigned(f[11], &entry->created) ||
      !ReadSigned(f[12], &entry->finished) || entry->created < 0 || entry->finished < 0)
    return false;
  entry->key = f[2];
  entry->url = f[3];
  entry->folder = f[4];
  entry->fileName = f[5];
  entry->path = f[6];
  entry->finalUrl = f[8];
  entry->contentType = f[9];
  // The finished list decides which files DeleteDownload2 may delete: only a
  // plain name inside a folder that passes the folder rules.
  return IsFileInFolder(entry->folder, entry->fileName, entry->path);
}

std::vector<std::wstring> TaskFields(const Task& task) {
  return {L"task", Unsigned(task.id), task.key, task.url, task.folder, task.requestedName,
          task.fileName, task.referrer, Number(task.connections),
          Number(static_cast<int>(task.state)), task.message, Number(task.errorCode),
          Number(task.size), task.validator, task.contentType, task.finalUrl,
          Number(task.created), task.interrupted ? L"1" : L"0",
          EncodeSegments(task.segments)};
}

}  // namespace

std::string EncodeWork(const std::vector<Task>& work, uint64_t nextId) {
  std::vector<std::wstring> records;
  for (const auto& task : work) records.push_back(EncodeRecord(TaskFields(task)));
  return Seal(std::wstring(kWorkHeader) + L" " + std::to_wstring(kVersion) + L"\t" + Unsigned(nextId), records);
}

std::string EncodeFinished(const std::vector<FinishedEntry>& finished) {
  std::vector<std::wstring> records;
  for (const auto& entry : finished) {
    records.push_back(EncodeRecord({L"finished", Unsigned(entry.id), entry.key, entry.url, entry.folder,
                                    entry.fileName, entry.path, Number(entry.size), entry.finalUrl,
                                    entry.contentType, Number(entry.averageSpeed), Number(entry.created),
                                    Number(entry.finished)}));
  }
  return Seal(std::wstring(kFinishedHeader) + L" " + std::to_wstring(kVersion), records);
}

bool DecodeWork(const std::string& bytes, std::vector<Task>* work, uint64_t* nextId) {
  std::vector<std::wstring> records;
  std::wstring header;
  bool intact = Open(bytes, kWorkHeader, &records, &header);
  std::vector<std::wstring> headerFields;
  *nextId = 1;
  if (!HeaderFields(header, &headerFields) || headerFields.size() != 2 || !ReadUnsigned(headerFields[1], nextId)) {
    *nextId = 1;
    intact = false;
  }
  work->clear();
  for (const auto& record : records) {
    std::vector<std::wstring> f;
    Task task;
    if (DecodeRecord(record, &f) && DecodeTask(f, &task)) work->push_back(task);
    else intact = false;
  }
  return intact;
}

bool DecodeFinished(const std::string& bytes, std::vector<FinishedEntry>* finished) {
  std::vector<std::wstring> records;
  std::wstring header;
  bool intact = Open(bytes, kFinishedHeader, &records, &header);
  finished->clear();
  for (const auto& record : records) {
    std::vector<std::wstring> f;
    FinishedEntry entry;
    if (DecodeRecord(record, &f) && DecodeEntry(f, &entry)) finished->push_back(entry);
    else intact = false;
  }
  return intact;
}

namespace {

// The change log after the work list's file: "halvo-engine-worklog 1", a tab
// and the checksum of the work file it follows, then one record per line, each
// with its own checksum as in the work file:
//   put <next id> <position or empty> <the task's record>: the task as it is
//     now; with a position it was placed there (new or moved), without one a
//     new task goes last and a known one keeps its place
//   remove <id>: the task left the work list
const wchar_t kLogHeader[] = L"halvo-engine-worklog 1";

std::wstring LogHeader(unsigned long long base) { return std::wstring(kLogHeader) + L"\t" + Hex(base); }

struct LogChange {
  bool remove = false;
  uint64_t id = 0;
  uint64_t nextId = 0;
  bool placed = false;
  uint64_t position = 0;
  Task task;
};

bool DecodeChange(const std::wstring& record, LogChange* change) {
  std::vector<std::wstring> f;
  if (!DecodeRecord(record, &f) || f.empty()) return false;
  if (f[0] == L"remove") return f.size() == 2 && ReadUnsigned(f[1], &change->id) && (change->remove = true);
  if (f[0] != L"put" || f.size() != 22 || !ReadUnsigned(f[1], &change->nextId)) return false;
  change->placed = !f[2].empty();
  if (change->placed && !ReadUnsigned(f[2], &change->position)) return false;
  if (!DecodeTask(std::vector<std::wstring>(f.begin() + 3, f.end()), &change->task)) return false;
  change->id = change->task.id;
  return true;
}

enum class LogFit { Follows, Stale, Damaged };

// The log's changes when it follows the work file with that checksum. A last
// line cut short by a crash is dropped without counting as damage; any other
// record that fails its check is dropped alone and makes the log damaged.
LogFit ReadLog(const std::string& bytes, unsigned long long base, std::vector<LogChange>* changes, bool* damaged) {
  changes->clear();
  *damaged = false;
  size_t end = bytes.find('\n');
  if (end == std::string::npos) return LogFit::Damaged;
  std::wstring header = Utf8ToWide(bytes.substr(0, end));
  std::wstring prefix = std::wstring(kLogHeader) + L"\t";
  if (header.compare(0, prefix.size(), prefix) != 0 || header.size() != prefix.size() + 16) return LogFit::Damaged;
  // A log of an older work file: that file was replaced whole after it, with everything in it.
  if (header != LogHeader(base)) return LogFit::Stale;
  for (size_t start = end + 1; start < bytes.size(); start = end + 1) {
    end = bytes.find('\n', start);
    bool last = end == std::string::npos || end + 1 == bytes.size();
    if (end == std::string::npos) end = bytes.size();
    std::wstring record;
    LogChange change;
    if (OpenRecord(Utf8ToWide(bytes.substr(start, end - start)), &record) && DecodeChange(record, &change))
      changes->push_back(std::move(change));
    else if (!last)
      *damaged = true;
  }
  return LogFit::Follows;
}

// The changes applied to the work list in their order; each look-up by id.
void Replay(const std::vector<LogChange>& changes, std::vector<Task>* work, uint64_t* nextId) {
  std::list<Task> order(std::make_move_iterator(work->begin()), std::make_move_iterator(work->end()));
  std::unordered_map<uint64_t, std::list<Task>::iterator> byId;
  for (auto it = order.begin(); it != order.end(); ++it) byId.emplace(it->id, it);
  for (const auto& change : changes) {
    auto found = byId.find(change.id);
    if (change.remove) {
      if (found != byId.end()) {
        order.erase(found->second);
        byId.erase(found);
      }
      continue;
    }
    if (change.nextId > *nextId) *nextId = change.nextId;
    if (found != byId.end()) {
      *found->second = change.task;
      if (!change.placed) continue;
      order.erase(found->second);
      byId.erase(found);
    }
    // Positions a page asks for are small: the walk to one is short.
    auto at = order.end();
    if (change.placed) {
      at = order.begin();
      for (uint64_t i = 0; i < change.position && at != order.end(); ++i) ++at;
    }
    byId[change.id] = order.insert(at, change.task);
  }
  work->assign(std::make_move_iterator(order.begin()), std::make_move_iterator(order.end()));
}

}  // namespace

Journal::Journal(const std::wstring& folder, size_t minLogRecords)
    : workPath_(folder + L"\\work.journal"),
      finishedPath_(folder + L"\\finished.journal"),
      logPath_(folder + L"\\work.log"),
      minLogRecords_(minLogRecords) {}

Journal::~Journal() { CloseLog(); }

void Journal::CloseLog() {
  if (log_) CloseHandle(static_cast<HANDLE>(log_));
  log_ = nullptr;
}

namespace {

// A crash during the very first save of a file can leave only "<file>.new":
// whole and intact, it becomes the file; any other leftover goes.
template <typename Decode>
void AdoptOrDropLeftover(const std::wstring& path, Decode decode) {
  const std::wstring leftover = path + L".new";
  if (GetFileAttributesW(leftover.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  std::string bytes;
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && ReadWholeFile(leftover, &bytes) &&
      decode(bytes) && MoveFileExW(leftover.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH))
    return;
  DeleteFileW(leftover.c_str());
}

void SetAside(const std::wstring& path) {
  MoveFileExW(path.c_str(), (path + L".damaged").c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

JournalContent Journal::Load() {
  JournalContent content;
  CloseLog();
  AdoptOrDropLeftover(finishedPath_, [](const std::string& bytes) {
    std::vector<FinishedEntry> ignored;
    return DecodeFinished(bytes, &ignored);
  });
  AdoptOrDropLeftover(workPath_, [](const std::string& bytes) {
    std::vector<Task> ignored;
    uint64_t id;
    return DecodeWork(bytes, &ignored, &id);
  });
  // A fresh log is only ever started right after a work file was written, so
  // a leftover of one holds nothing.
  DeleteFileW((logPath_ + L".new").c_str());
  // A damaged file is kept beside the journal for a look; what still passes
  // its own check is loaded, and the next save writes a sound file.
  std::string bytes;
  if (ReadWholeFile(finishedPath_, &bytes) && !DecodeFinished(bytes, &content.finished)) {
    SetAside(finishedPath_);
    content.finishedDamaged = true;
  }
  bool haveWork = ReadWholeFile(workPath_, &bytes);
  if (!haveWork) bytes.clear();
  base_ = Checksum(bytes);
  if (haveWork && !DecodeWork(bytes, &content.work, &content.nextId)) {
    SetAside(workPath_);
    content.workDamaged = true;
  }
  // What changed after the work file was written; a log that belongs to an
  // older work file (a crash between writing the file and starting its log,
  // or an older engine that ran meanwhile) says nothing.
  logHasContent_ = false;
  std::string logBytes;
  if (ReadWholeFile(logPath_, &logBytes)) {
    std::vector<LogChange> changes;
    bool damaged = false;
    LogFit fit = ReadLog(logBytes, base_, &changes, &damaged);
    if (fit == LogFit::Follows) {
      Replay(changes, &content.work, &content.nextId);
      content.logChanges = changes.size();
      logHasContent_ = logBytes.size() > WideToUtf8(LogHeader(base_)).size() + 1;
    }
    if (fit == LogFit::Damaged || damaged) {
      // Kept for a look; the engine writes the work file and a fresh log at once.
      CopyFileW(logPath_.c_str(), (logPath_ + L".damaged").c_str(), FALSE);
      content.logDamaged = true;
      if (fit == LogFit::Damaged) DeleteFileW(logPath_.c_str());
    }
  }
  // A task saved as finished before the work list was rewritten is finished.
  std::unordered_set<uint64_t> finishedIds;
  for (const auto& entry : content.finished) finishedIds.insert(entry.id);
  std::vector<Task> kept;
  kept.reserve(content.work.size());
  for (auto& task : content.work)
    if (finishedIds.count(task.id) == 0) kept.push_back(std::move(task));
  content.work = std::move(kept);
  for (const auto& task : content.work)
    if (task.id >= content.nextId) content.nextId = task.id + 1;
  for (const auto& entry : content.finished)
    if (entry.id >= content.nextId) content.nextId = entry.id + 1;
  // Ids are unique (an edited file may repeat one): a repeated id gets a new one.
  std::unordered_set<uint64_t> seen;
  for (auto& task : content.work)
    if (!seen.insert(task.id).second) task.id = content.nextId++;
  content.needsSave = !haveWork || content.workDamaged || content.logDamaged || logHasContent_;
  logRecords_ = content.logChanges;
  logBroken_ = false;
  return content;
}

unsigned long Journal::SaveWork(const std::vector<Task>& work, uint64_t nextId) {
  std::string bytes = EncodeWork(work, nextId);
  // Until the new file stands, the old file and its log still hold the list.
  unsigned long error = ReplaceFileContent(workPath_, bytes);
  if (error != 0) return error;
  base_ = Checksum(bytes);
  logHasContent_ = false;
  return StartLog();
}

unsigned long Journal::StartLog() {
  CloseLog();
  logRecords_ = 0;
  unsigned long error = ReplaceFileContent(logPath_, WideToUtf8(LogHeader(base_)) + "\n");
  if (error == 0) {
    HANDLE file = CreateFileW(logPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) error = GetLastError();
    else log_ = file;
  }
  // The old log names an older work file: on loading it is passed over, and
  // the work file already holds everything.
  logBroken_ = error != 0;
  return error;
}

unsigned long Journal::Append(const std::vector<std::vector<std::wstring>>& records) {
  // A log is begun only where the work file on disk holds the list as it is;
  // once an append failed, the next save must write the whole list.
  if (logBroken_) return ERROR_WRITE_FAULT;
  if (!log_) {
    if (logHasContent_) {
      logBroken_ = true;
      return ERROR_WRITE_FAULT;
    }
    unsigned long error = StartLog();
    if (error != 0) return error;
  }
  std::string line;
  for (const auto& fields : records) {
    std::wstring record = EncodeRecord(fields);
    line += WideToUtf8(record + L"\t" + Hex(Checksum(WideToUtf8(record)))) + "\n";
  }
  DWORD written = 0;
  HANDLE file = static_cast<HANDLE>(log_);
  if (line.size() > MAXDWORD || !WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size() || !FlushFileBuffers(file)) {
    unsigned long error = GetLastError();
    CloseLog();
    logBroken_ = true;
    return error != 0 ? error : ERROR_WRITE_FAULT;
  }
  logRecords_ += records.size();
  return 0;
}

namespace {

std::vector<std::wstring> PutRecord(const Task& task, bool placed, size_t position, uint64_t nextId) {
  std::vector<std::wstring> fields = {L"put", Unsigned(nextId), placed ? Unsigned(position) : L""};
  std::vector<std::wstring> record = TaskFields(task);
  fields.insert(fields.end(), record.begin(), record.end());
  return fields;
}

}  // namespace

unsigned long Journal::LogTask(const Task& task, bool placed, size_t position, uint64_t nextId) {
  return Append({PutRecord(task, placed, position, nextId)});
}

unsigned long Journal::LogAdded(const std::vector<Task>& tasks, uint64_t nextId) {
  std::vector<std::vector<std::wstring>> records;
  records.reserve(tasks.size());
  for (const auto& task : tasks) records.push_back(PutRecord(task, false, 0, nextId));
  return records.empty() ? 0 : Append(records);
}

unsigned long Journal::LogRemoved(uint64_t id) { return Append({{L"remove", Unsigned(id)}}); }

bool Journal::NeedsSave(size_t workSize) const {
  // Written whole once the log holds as many records as the list has tasks:
  // each change then costs a constant share of one rewrite.
  return logBroken_ || logRecords_ >= std::max(minLogRecords_, workSize);
}

unsigned long Journal::SaveFinished(const std::vector<FinishedEntry>& finished) {
  return ReplaceFileContent(finishedPath_, EncodeFinished(finished));
}

}  // namespace engine
