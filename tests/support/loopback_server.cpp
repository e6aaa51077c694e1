#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/loopback_server.h"

#include <winhttp.h>

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/plugin_module.h"

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

bool ReadFileText(const std::wstring& path, std::string* text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  text->clear();
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text->append(buffer, got);
  CloseHandle(file);
  return true;
}

// WinHTTP GET of a short text from the server itself; false (with the reason
// in *body) unless the server answered 200.
bool Fetch(unsigned short port, const std::wstring& path, std::string* body) {
  body->clear();
  DWORD status = 0, statusSize = sizeof status;
  HINTERNET session = WinHttpOpen(L"halvo-tests", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", port, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                      WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                 : nullptr;
  bool answered = request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                                0, 0) &&
                  WinHttpReceiveResponse(request, nullptr) &&
                  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
  DWORD error = answered ? 0 : GetLastError();
  if (answered) {
    char buffer[4096];
    DWORD got = 0;
    while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0) body->append(buffer, got);
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  if (!answered) *body = "no answer (WinHTTP error " + std::to_string(error) + ")";
  else if (status != 200) *body = "status " + std::to_string(status) + ": " + *body;
  return answered && status == 200;
}

}  // namespace

std::string TestDataPath(const std::string& name) {
  // The Linux path of bin\testdata\<name>: the server is a Linux program.
  std::wstring windows = ProgramFolder() + L"testdata\\" + Widen(name);
  for (auto& c : windows)
    if (c == L'/') c = L'\\';
  using ToUnix = char* (CDECL*)(const WCHAR*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix) {
    if (char* converted = toUnix(windows.c_str())) {
      std::string result = converted;
      HeapFree(GetProcessHeap(), 0, converted);
      return result;
    }
  }
  return std::string();
}

std::wstring WindowsPathOf(const std::string& unixPath) {
  using ToDos = WCHAR* (CDECL*)(const char*);
  auto toDos = reinterpret_cast<ToDos>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (toDos) {
    if (WCHAR* converted = toDos(unixPath.c_str())) {
      std::wstring result = converted;
      HeapFree(GetProcessHeap(), 0, converted);
      return result;
    }
  }
  std::wstring result = L"Z:" + Widen(unixPath);
  for (auto& c : result)
    if (c == L'/') c = L'\\';
  return result;
}

LoopbackServer::LoopbackServer() { Start(Options()); }

LoopbackServer::LoopbackServer(const Options& options) { Start(options); }

void LoopbackServer::Start(const Options& options) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  std::string portFile = "/tmp/halvo-loopback-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount64()) + ".ports";
  std::string command = "/usr/bin/python3 " + TestDataPath("loopback_server.py") + " --lease --port-file " + portFile;
  if (options.https) {
    std::string base = TestDataPath("certs/" + options.certificate);
    command += " --cert " + base + ".pem --key " + base + ".key";
  }
  if (!options.proxyAuth.empty()) command += " --proxy-auth " + options.proxyAuth;
  for (const auto& file : options.files) command += " --file " + file;
  std::wstring line = Widen(command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Wine runs a Linux program named by its Unix path as it runs a Windows one.
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    problem_ = "could not start " + command + " (error " + std::to_string(GetLastError()) + ")";
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::wstring portPath = WindowsPathOf(portFile);
  std::string ports;
  // Python starts in well under a second here but can take many seconds in the
  // emulated 32-bit PC with other programs beside it. (The process handle is no
  // sign of life: Wine may end it while the Unix program it started runs on.)
  for (int i = 0; i < 3000 && !ReadFileText(portPath, &ports); ++i) Sleep(20);
  DeleteFileW(portPath.c_str());
  std::istringstream lines(ports);
  std::string entry;
  unsigned short http = 0;
  while (std::getline(lines, entry)) {
    size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    auto port = static_cast<unsigned short>(std::stoi(entry.substr(equals + 1)));
    std::string name = entry.substr(0, equals);
    if (name == "http") http = port;
    if (name == "https") httpsPort_ = port;
    if (name == "lease") leasePort_ = port;
  }
  if (http == 0 || leasePort_ == 0) {
    problem_ = "the loopback server did not start: " + command;
    return;
  }
  SOCKET lease = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(leasePort_);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (lease == INVALID_SOCKET || connect(lease, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    problem_ = "could not hold the loopback server's lease";
    if (lease != INVALID_SOCKET) closesocket(lease);
    return;
  }
  lease_ = lease;
  httpPort_ = http;
}

LoopbackServer::~LoopbackServer() {
  if (lease_ != ~uintptr_t(0)) closesocket(static_cast<SOCKET>(lease_));
  WSACleanup();
}

std::wstring LoopbackServer::Url(const std::wstring& pathAndQuery) const {
  return L"http://127.0.0.1:" + std::to_wstring(httpPort_) + pathAndQuery;
}

std::wstring LoopbackServer::SecureUrl(const std::wstring& pathAndQuery) const {
  return L"https://localhost:" + std::to_wstring(httpsPort_) + pathAndQuery;
}

std::wstring LoopbackServer::DataUrl(uint64_t size, unsigned seed, const std::wstring& tag,
                                     const std::wstring& more) const {
  return Url(L"/data?size=" + std::to_wstring(size) + L"&seed=" + std::to_wstring(seed) + L"&tag=" + tag +
             (more.empty() ? L"" : L"&" + more));
}

std::map<std::string, std::string> LoopbackServer::Stats(const std::wstring& tag) const {
  std::map<std::string, std::string> stats;
  std::string body;
  // A failed request must not read as "nothing seen": tests compare values with "".
  if (!Fetch(httpPort_, L"/_stats?tag=" + tag, &body)) {
    ADD_FAILURE() << "the server's statistics could not be read: " << body;
    return stats;
  }
  std::istringstream lines(body);
  std::string line;
  while (std::getline(lines, line)) {
    size_t equals = line.find('=');
    if (equals != std::string::npos) stats[line.substr(0, equals)] = line.substr(equals + 1);
  }
  if (stats.count("requests") == 0) ADD_FAILURE() << "not the server's statistics: " << body;
  return stats;
}

bool LoopbackServer::ChangeFile(const std::wstring& tag, unsigned seed, const std::wstring& etag) const {
  std::string body;
  return Fetch(httpPort_, L"/_change?tag=" + tag + L"&seed=" + std::to_wstring(seed) + L"&etag=" + etag, &body) &&
         body == "changed\n";
}

bool LoopbackServer::ResetTransfer(const std::wstring& tag) const {
  std::string body;
  return Fetch(httpPort_, L"/_reset?tag=" + tag, &body) && body == "reset asked\n";
}

std::string LoopbackServer::Content(uint64_t size, unsigned seed) {
  std::string bytes(static_cast<size_t>(size), '\0');
  for (uint64_t i = 0; i < size; ++i) {
    uint64_t word = i / 8 + (static_cast<uint64_t>(seed) << 40);
    bytes[static_cast<size_t>(i)] = static_cast<char>((word >> (8 * (i % 8))) & 0xFF);
  }
  return bytes;
}
