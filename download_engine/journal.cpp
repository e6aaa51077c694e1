#include "download_engine/journal.h"

#include <windows.h>

#include <cstdio>

#include "download_engine/atomic_file.h"
#include "download_engine/record_codec.h"
#include "download_engine/text.h"

namespace engine {

namespace {

const wchar_t kWorkHeader[] = L"halvo-engine-work 1";
const wchar_t kFinishedHeader[] = L"halvo-engine-finished 1";

std::wstring Number(int64_t value) { return ToText(value); }
std::wstring Unsigned(uint64_t value) { return std::to_wstring(value); }

bool ReadSigned(const std::wstring& text, int64_t* value) { return ParseInt64(text, value); }
bool ReadUnsigned(const std::wstring& text, uint64_t* value) {
  int64_t signedValue;
  if (!ParseInt64(text, &signedValue) || signedValue < 0) return false;
  *value = static_cast<uint64_t>(signedValue);
  return true;
}

std::wstring EncodeSegments(const std::vector<Segment>& segments) {
  std::wstring text;
  for (const auto& segment : segments) {
    if (!text.empty()) text += L",";
    text += Number(segment.begin) + L":" + Number(segment.end) + L":" + Number(segment.done);
  }
  return text;
}

bool DecodeSegments(const std::wstring& text, std::vector<Segment>* segments) {
  segments->clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L',', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring part = text.substr(start, end - start);
    size_t first = part.find(L':');
    size_t second = first == std::wstring::npos ? first : part.find(L':', first + 1);
    Segment segment;
    if (second == std::wstring::npos || !ReadSigned(part.substr(0, first), &segment.begin) ||
        !ReadSigned(part.substr(first + 1, second - first - 1), &segment.end) ||
        !ReadSigned(part.substr(second + 1), &segment.done) || segment.begin < 0 || segment.done < 0 ||
        (segment.end >= 0 && segment.begin + segment.done > segment.end))
      return false;
    segments->push_back(segment);
    start = end + 1;
  }
  return true;
}

// header line, records, then "end <count> <checksum>" over everything before it.
std::string Seal(const std::wstring& header, const std::vector<std::wstring>& records) {
  std::wstring body = header + L"\n";
  for (const auto& record : records) body += record + L"\n";
  std::string bytes = WideToUtf8(body);
  char trailer[64];
  std::snprintf(trailer, sizeof trailer, "end\t%u\t%016llx\n", static_cast<unsigned>(records.size()),
                Checksum(bytes));
  return bytes + trailer;
}

bool Open(const std::string& bytes, const std::wstring& header, std::vector<std::wstring>* records,
          std::wstring* headerLine) {
  size_t endAt = bytes.rfind("end\t");
  if (endAt == std::string::npos || (endAt > 0 && bytes[endAt - 1] != '\n')) return false;
  std::string body = bytes.substr(0, endAt);
  unsigned count = 0;
  unsigned long long checksum = 0;
  if (std::sscanf(bytes.c_str() + endAt, "end\t%u\t%llx", &count, &checksum) != 2) return false;
  if (checksum != Checksum(body)) return false;
  std::vector<std::wstring> lines = SplitLines(Utf8ToWide(body));
  if (lines.empty() || lines[0].compare(0, header.size(), header) != 0) return false;
  *headerLine = lines[0];
  records->assign(lines.begin() + 1, lines.end());
  return records->size() == count;
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
  return Seal(std::wstring(kWorkHeader) + L"\t" + Unsigned(nextId), records);
}

std::string EncodeFinished(const std::vector<FinishedEntry>& finished) {
  std::vector<std::wstring> records;
  for (const auto& entry : finished) {
    records.push_back(EncodeRecord({L"finished", Unsigned(entry.id), entry.key, entry.url, entry.folder,
                                    entry.fileName, entry.path, Number(entry.size), entry.finalUrl,
                                    entry.contentType, Number(entry.averageSpeed), Number(entry.created),
                                    Number(entry.finished)}));
  }
  return Seal(kFinishedHeader, records);
}

bool DecodeWork(const std::string& bytes, std::vector<Task>* work, uint64_t* nextId) {
  std::vector<std::wstring> records;
  std::wstring header;
  if (!Open(bytes, kWorkHeader, &records, &header)) return false;
  std::vector<std::wstring> headerFields;
  if (!DecodeRecord(header, &headerFields) || headerFields.size() != 2 || !ReadUnsigned(headerFields[1], nextId))
    return false;
  work->clear();
  for (const auto& record : records) {
    std::vector<std::wstring> f;
    if (!DecodeRecord(record, &f) || f.size() != 19 || f[0] != L"task") return false;
    Task task;
    int64_t connections, state, errorCode;
    if (!ReadUnsigned(f[1], &task.id) || !ReadSigned(f[8], &connections) || !ReadSigned(f[9], &state) ||
        !ReadSigned(f[11], &errorCode) || !ReadSigned(f[12], &task.size) || !ReadSigned(f[16], &task.created) ||
        !DecodeSegments(f[18], &task.segments) || state < 0 || state > 8 || connections < 1 || connections > 16)
      return false;
    task.key = f[2];
    task.url = f[3];
    task.folder = f[4];
    task.requestedName = f[5];
    task.fileName = f[6];
    task.referrer = f[7];
    task.connections = static_cast<int32_t>(connections);
    task.state = static_cast<TaskState>(state);
    task.message = f[10];
    task.errorCode = static_cast<int32_t>(errorCode);
    task.validator = f[13];
    task.contentType = f[14];
    task.finalUrl = f[15];
    task.interrupted = f[17] == L"1";
    work->push_back(task);
  }
  return true;
}

bool DecodeFinished(const std::string& bytes, std::vector<FinishedEntry>* finished) {
  std::vector<std::wstring> records;
  std::wstring header;
  if (!Open(bytes, kFinishedHeader, &records, &header)) return false;
  finished->clear();
  for (const auto& record : records) {
    std::vector<std::wstring> f;
    if (!DecodeRecord(record, &f) || f.size() != 13 || f[0] != L"finished") return false;
    FinishedEntry entry;
    int64_t speed;
    if (!ReadUnsigned(f[1], &entry.id) || !ReadSigned(f[7], &entry.size) || !ReadSigned(f[10], &speed) ||
        !ReadSigned(f[11], &entry.created) || !ReadSigned(f[12], &entry.finished))
      return false;
    entry.key = f[2];
    entry.url = f[3];
    entry.folder = f[4];
    entry.fileName = f[5];
    entry.path = f[6];
    entry.finalUrl = f[8];
    entry.contentType = f[9];
    entry.averageSpeed = static_cast<uint32_t>(speed);
    finished->push_back(entry);
  }
  return true;
}

Journal::Journal(const std::wstring& folder)
    : workPath_(folder + L"\\work.journal"), finishedPath_(folder + L"\\finished.journal") {}

JournalContent Journal::Load() {
  JournalContent content;
  std::string bytes;
  auto setAside = [](const std::wstring& path) {
    MoveFileExW(path.c_str(), (path + L".damaged").c_str(), MOVEFILE_REPLACE_EXISTING);
  };
  if (ReadWholeFile(finishedPath_, &bytes) && !DecodeFinished(bytes, &content.finished)) {
    content.finished.clear();
    setAside(finishedPath_);
  }
  if (ReadWholeFile(workPath_, &bytes) && !DecodeWork(bytes, &content.work, &content.nextId)) {
    content.work.clear();
    content.nextId = 1;
    setAside(workPath_);
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
