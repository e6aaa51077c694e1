// The engine's settings and their file, settings.txt in the data folder: UTF-8
// lines "name=value". Every Config setter changes one of them and rewrites the
// file whole; a few tuning values exist in the file only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download_engine/cookie_jar.h"

namespace engine {

struct ProxySettings {
  std::wstring host;  // empty: direct connections
  int32_t port = 0;
  std::wstring user;
  std::wstring password;
  std::wstring bypass;  // hosts that skip the proxy, separated by ";"
  std::wstring kind;    // "" or "http"
};

struct Settings {
  ProxySettings proxy;
  int32_t downloadLimitKiB = 0;  // KiB per second, 0 unlimited
  int32_t uploadLimitKiB = 0;    // stored and reported only
  int32_t diskCacheKiB = 4096;   // write buffer of a task
  int32_t maxDownloads = 5;
  bool autoStart = true;
  int32_t udpPort = 6881;  // stored and reported only
  bool upnp = false;       // stored and reported only
  bool singleConnection = false;
  std::wstring clientVersion;  // the User-Agent; empty gives kDefaultUserAgent
  std::wstring peerId;
  // File-only tuning.
  int32_t connectTimeoutMs = 15000;
  int32_t receiveTimeoutMs = 30000;
  int32_t retries = 2;
  int32_t retryDelayMs = 1000;
  int32_t maxUnsizedMiB = 4096;  // a body without a length stops here
  std::vector<Cookie> cookies;  // the persistent ones
};

extern const wchar_t kDefaultUserAgent[];

// A missing file or line gives the defaults. A file with a line that is not
// "name=value", a value that breaks its setter's rules, or text that is not
// UTF-8 is damaged: *damaged is set and the defaults are returned.
Settings LoadSettings(const std::wstring& path, bool* damaged);
// A Windows error code, 0 on success.
unsigned long SaveSettings(const std::wstring& path, const Settings& settings);

}  // namespace engine
