#include "download_engine/journal.h"

#include <windows.h>

#include <cstdio>

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

}  // namespace

std::string EncodeWork(const std::vector<Task>& work, uint64_t nextId) {
  std::vector<std::wstring> records;
  for (const auto& task : work) {
    records.push_back(EncodeRecord({L"task", Unsigned(task.id), task.key, task.url, task.folder, task.requestedName,
                                    task.fileName, task.referrer, Number(task.connections),
                                    Number(static_cast<int>(task.state)), task.message, Number(task.errorCode),
                                    Number(task.size), task.validator, task.contentType, task.finalUrl,
                                    Number(task.created), task.interrupted ? L"1" : L"0",
                                    EncodeSegments(task.segments)}));
  }
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

Journal::Journal(const std::wstring& folder)
    : workPath_(folder + L"\\work.journal"), finishedPath_(folder + L"\\finished.journal") {}

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
  AdoptOrDropLeftover(finishedPath_, [](const std::string& bytes) {
    std::vector<FinishedEntry> ignored;
    return DecodeFinished(bytes, &ignored);
  });
  AdoptOrDropLeftover(workPath_, [](const std::string& bytes) {
    std::vector<Task> ignored;
    uint64_t id;
    return DecodeWork(bytes, &ignored, &id);
  });
  // A damaged file is kept beside the journal for a look; what still passes
  // its own check is loaded, and the next save writes a sound file.
  std::string bytes;
  if (ReadWholeFile(finishedPath_, &bytes) && !DecodeFinished(bytes, &content.finished)) {
    SetAside(finishedPath_);
    content.finishedDamaged = true;
  }
  if (ReadWholeFile(workPath_, &bytes) && !DecodeWork(bytes, &content.work, &content.nextId)) {
    SetAside(workPath_);
    content.workDamaged = true;
  }
  // A task saved as finished before the work list was rewritten is finished.
  for (size_t i = 0; i < content.work.size();) {
    bool done = false;
    for (const auto& entry : content.finished) done = done || entry.id == content.work[i].id;
    if (done) content.work.erase(content.work.begin() + static_cast<long>(i));
    else ++i;
  }
  for (const auto& task : content.work)
    if (task.id >= content.nextId) content.nextId = task.id + 1;
  for (const auto& entry : content.finished)
    if (entry.id >= content.nextId) content.nextId = entry.id + 1;
  return content;
}

unsigned long Journal::SaveWork(const std::vector<Task>& work, uint64_t nextId) {
  return ReplaceFileContent(workPath_, EncodeWork(work, nextId));
}

unsigned long Journal::SaveFinished(const std::vector<FinishedEntry>& finished) {
  return ReplaceFileContent(finishedPath_, EncodeFinished(finished));
}

}  // namespace engine
