// The engine's peer identity and the machine's address. There is no
// peer-to-peer transport: the identity is a stable random name kept in the
// settings, the address is what the machine's network adapters report.
#pragma once

#include <string>

namespace engine {

// 40 upper-case hexadecimal digits from the system's random source.
std::wstring NewPeerId();

// The first IPv4 address of an adapter that is up and not the loopback one;
// "127.0.0.1" when there is none.
std::wstring MachineAddress();

}  // namespace engine
