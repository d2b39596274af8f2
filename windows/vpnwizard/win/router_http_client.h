// The wizard's only network code: one GET or one url-encoded form POST to a router's web server over
// WinINet, with Basic authorization, handing the reply body to the caller.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http_request.h"

namespace tunmira {

class ExchangeAbort;

// Seams for what the client waits for and what it shows; tests replace both so nothing blocks.
struct ClientSeams {
  // Empty: the real wait, which ends early when abort (below) is set and aborted.
  std::function<void(unsigned milliseconds)> sleep;
  std::function<void(const char *text)> notify = [](const char *text) {
    ::MessageBoxA(nullptr, text, "HBX7300NQ VPN wizard", MB_OK | MB_ICONWARNING);
  };
  // When set, the clients made with these seams can be ended from another thread through it.
  ExchangeAbort *abort = nullptr;
};

// How long a client waits for a router before giving up on the connection, on sending a request and
// on each part of a reply: a router that stops answering cannot hold a worker for long.
inline constexpr DWORD kConnectTimeoutMs = 15000;
inline constexpr DWORD kSendTimeoutMs = 30000;
inline constexpr DWORD kReceiveTimeoutMs = 30000;

// How long a router takes to bring a tunnel up before its reply to a connect post is read.
inline constexpr unsigned kConnectReplyDelayMs = 8000;

class RouterHttpClient;

// Lets the user-interface thread end a worker's exchanges at once when the user stops its progress
// dialog: a request blocked in the network fails as soon as its handles are closed, and a wait for a
// router's reply ends early. A worker's clients enlist here for their lifetime.
class ExchangeAbort {
 public:
  // Makes the manual-reset event that stands for "aborted"; nullptr with the system's error set when
  // it cannot. Tests give one that fails.
  using EventMaker = HANDLE (*)();
  static HANDLE make_event();

  explicit ExchangeAbort(EventMaker event_maker = make_event);
  ~ExchangeAbort();
  ExchangeAbort(const ExchangeAbort &) = delete;
  ExchangeAbort &operator=(const ExchangeAbort &) = delete;

  // Closes the handles of every enlisted client; clients made afterwards open nothing.
  void abort();
  // Makes the next worker's exchanges possible again.
  void reset();
  bool aborted() const;
  // Waits milliseconds or until abort(), whichever comes first.
  void sleep(unsigned milliseconds) const;
  // False when the event could not be made: then neither abort() nor sleep() would work.
  bool usable() const { return event_ != nullptr; }
  // The system's error from making the event (0 when it was made).
  DWORD event_error() const { return event_error_; }

 private:
  friend class RouterHttpClient;
  void enlist(RouterHttpClient *client);
  void leave(RouterHttpClient *client);

  mutable std::mutex mutex_;
  std::vector<RouterHttpClient *> clients_;
  HANDLE event_;  // manual-reset, set while aborted
  DWORD event_error_ = 0;
};

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
  friend class ExchangeAbort;
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
  // Closes all three handles; a call blocked on them in the worker fails at once.
  void close_handles();
  HINTERNET current(const Handle &handle) const;
  // Stores a handle just opened in slot; false (the handle closed) when the client was aborted.
  bool keep(Handle &slot, HINTERNET handle);
  void set_timeouts();
  bool stopped() const;
  // Gives a router time to act before its reply is read.
  void wait_for_router(unsigned milliseconds) const;

  ClientSeams seams_;
  // Guards the handles, which the thread that aborts closes while the worker may be using them.
  mutable std::mutex handles_mutex_;
  Handle internet_;
  Handle request_;
  Handle connection_;
  DWORD last_error_ = 0;
};

}  // namespace tunmira
