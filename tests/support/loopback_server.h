// The tests' own file server (loopback_server.py), started from a test program
// under Wine as a Linux process on 127.0.0.1, with HTTP and HTTPS ports. The
// program holds a connection to the server's lease port; the server ends when
// that connection closes, also when the program dies.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class LoopbackServer {
 public:
  struct Options {
    bool https = true;
    std::string certificate = "server";  // "untrusted": a self-signed one nothing trusts
    std::string proxyAuth;  // "user:password": proxy requests need these credentials
    std::vector<std::string> files;  // "name=/unix/path" served under /files/name
  };
  LoopbackServer();
  explicit LoopbackServer(const Options& options);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool Running() const { return httpPort_ != 0; }
  const std::string& Problem() const { return problem_; }
  unsigned short HttpPort() const { return httpPort_; }

  // http://127.0.0.1:port + pathAndQuery (which starts with "/").
  std::wstring Url(const std::wstring& pathAndQuery) const;
  // https://localhost:port + pathAndQuery: the test certificate names localhost.
  std::wstring SecureUrl(const std::wstring& pathAndQuery) const;
  // /data?size=N&seed=S&tag=T plus more query text.
  std::wstring DataUrl(uint64_t size, unsigned seed, const std::wstring& tag, const std::wstring& more = L"") const;

  // The /_stats lines for a tag; a request the server does not answer fails the
  // calling test (and answers no lines).
  std::map<std::string, std::string> Stats(const std::wstring& tag) const;
  // From now on /data requests of the tag serve this seed with this ETag:
  // the file changed on the server. True when the server took it.
  bool ChangeFile(const std::wstring& tag, unsigned seed, const std::wstring& etag) const;
  // Resets one connection of the tag that is sending a body now (/_reset).
  bool ResetTransfer(const std::wstring& tag) const;

  // The bytes /data serves for (size, seed).
  static std::string Content(uint64_t size, unsigned seed);

 private:
  void Start(const Options& options);

  unsigned short httpPort_ = 0;
  unsigned short httpsPort_ = 0;
  unsigned short leasePort_ = 0;
  uintptr_t lease_ = ~uintptr_t(0);
  std::string problem_;
};

// A Linux path as this Windows program sees it (Z:\...).
std::wstring WindowsPathOf(const std::string& unixPath);

// The Linux path of a file the build put beside the test programs in
// bin/testdata (the server script, the test certificates); "/" separates.
std::string TestDataPath(const std::string& name);
