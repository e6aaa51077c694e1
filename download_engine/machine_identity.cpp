#define _CRT_RAND_S
#include "download_engine/machine_identity.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdlib>
#include <vector>

namespace engine {

std::wstring NewPeerId() {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring id;
  for (int i = 0; i < 5; ++i) {
    unsigned int value = 0;
    // rand_s draws on the system's cryptographic generator.
    if (rand_s(&value) != 0) value = GetTickCount() * 2654435761u ^ GetCurrentProcessId();
    for (int digit = 0; digit < 8; ++digit) id += kDigits[(value >> (28 - 4 * digit)) & 15];
  }
  return id;
}

std::wstring MachineAddress() {
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result == NO_ERROR) {
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
      if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
      for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
        auto* address = reinterpret_cast<sockaddr_in*>(unicast->Address.lpSockaddr);
        if (address->sin_family != AF_INET) continue;
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&address->sin_addr);
        if (bytes[0] == 127) continue;
        return std::to_wstring(bytes[0]) + L"." + std::to_wstring(bytes[1]) + L"." + std::to_wstring(bytes[2]) + L"." +
               std::to_wstring(bytes[3]);
      }
    }
  }
  return L"127.0.0.1";
}

}  // namespace engine
