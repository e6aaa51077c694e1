// The baseline of scripts/bench-engine.sh: one plain WinHTTP download into a
// file, with no engine around it, so the engine's figures can be read against
// what WinHTTP itself manages on this system. winhttp_bench <url> <file>
// prints "winhttp <bytes> <seconds>".
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: winhttp_bench <url> <file>\n");
    return 2;
  }
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256], path[2048];
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(argv[1], 0, 0, &parts)) return 1;
  LARGE_INTEGER frequency, started, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  HINTERNET session = WinHttpOpen(L"winhttp_bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  if (!request || !WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) || !WinHttpReceiveResponse(request, nullptr))
    return 1;
  HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::vector<char> buffer(64 * 1024);
  unsigned long long total = 0;
  DWORD available = 0, got = 0, written = 0;
  while (WinHttpQueryDataAvailable(request, &available) && available > 0) {
    if (!WinHttpReadData(request, buffer.data(), available < buffer.size() ? available : DWORD(buffer.size()), &got))
      return 1;
    WriteFile(file, buffer.data(), got, &written, nullptr);
    total += got;
  }
  CloseHandle(file);
  QueryPerformanceCounter(&ended);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  std::printf("winhttp %llu %.3f\n", total,
              static_cast<double>(ended.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart));
  return 0;
}
