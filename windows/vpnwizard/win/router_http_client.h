// The wizard's only network code: one GET or one url-encoded form POST to a router's web server over
// WinINet, with Basic authorization, handing the reply body to the caller.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http_request.h"

namespace tunmira {

// Seams for what the client waits for and what it shows; tests replace both so nothing blocks.
struct ClientSeams {
  std::function<void(unsigned milliseconds)> sleep = [](unsigned ms) { ::Sleep(ms); };
  std::function<void(const char *text)> notify = [](const char *text) {
    ::MessageBoxA(nullptr, text, "HBX7300NQ VPN wizard", MB_OK | MB_ICONWARNING);
  };
};

// How long a router takes to bring a tunnel up before its reply to a connect post is read.
inline constexpr unsigned kConnectReplyDelayMs = 8000;

class RouterHttpClient {
 public:
  explicit RouterHttpClient(ClientSeams seams = {});
  ~RouterHttpClient();
  RouterHttpClient(const RouterHttpClient &) = delete;
  RouterHttpClient &operator=(const RouterHttpClient &) = delete;

  // Closes the request, the connection and the root handle; the result of closing the root handle.
  int Close();

  // Posts form to url. With read_reply 1 the router's reply replaces form (at most kPageCapacity
  // bytes). Only a 2xx answer counts as 200: a router that refuses the form never reads as success.
  int Post(std::string_view url, std::uint16_t port, std::string_view selection, std::string &form,
           std::string_view user, std::string_view password, int read_reply);

  // Reads url. With body given, the reply body (at most capacity bytes) is stored there.
  int Get(std::string_view url, std::uint16_t port, std::string_view user, std::string_view password,
          std::string *body, std::size_t capacity);

  // Reads the whole reply of an ended request; a reply longer than capacity is refused with -1 and
  // body is left as it was.
  int ReadReply(HINTERNET request, std::string &body, std::size_t capacity);

  DWORD last_error() const { return last_error_; }

 private:
  struct HandleCloser {
    void operator()(void *handle) const { ::InternetCloseHandle(static_cast<HINTERNET>(handle)); }
  };
  using Handle = std::unique_ptr<void, HandleCloser>;

  // Opens the connection and the request for url; a result code other than 200 on failure.
  int open_request(std::string_view url, std::uint16_t port, std::string_view user, std::string_view password,
                   bool is_post, std::string &host);
  int add_headers(const std::vector<HeaderLine> &headers);
  void accept_unknown_authority();
  int fail(int code);

  ClientSeams seams_;
  Handle internet_;
  Handle request_;
  Handle connection_;
  DWORD last_error_ = 0;
};

}  // namespace tunmira
