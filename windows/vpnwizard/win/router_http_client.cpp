#include "router_http_client.h"

#include <cstdio>
#include <new>
#include <utility>
#include <vector>

#include "tunnel_plan.h"

namespace tunmira {
namespace {

constexpr DWORD kConnectionAborted = 12030;  // ERROR_INTERNET_CONNECTION_ABORTED
constexpr DWORD kForceRetry = 12032;         // ERROR_INTERNET_FORCE_RETRY
constexpr DWORD kInvalidAuthority = 12045;   // ERROR_INTERNET_INVALID_CA
constexpr DWORD kReplyChunk = 1024;

constexpr const char *kConnectionResetText =
    "The connection with the server has been reset or terminated, or an incompatible SSL protocol was "
    "encountered. For example, WinHTTP version 5.1 does not support SSL2 unless the client specifically "
    "enables it.";
constexpr const char *kUntrustedRootText =
    "Indicates that a certificate chain was processed, but terminated in a root certificate that is not "
    "trusted by the trust provider (equivalent to CERT_E_UNTRUSTEDROOT).";

bool send_request(HINTERNET request) {
  INTERNET_BUFFERSA buffers_in{};
  buffers_in.dwStructSize = sizeof(buffers_in);
  return ::HttpSendRequestExA(request, &buffers_in, nullptr, HSR_INITIATE, 0) != FALSE;
}

bool end_request(HINTERNET request) {
  return ::HttpEndRequestA(request, nullptr, HSR_INITIATE, 0) != FALSE;
}

bool query_status(HINTERNET request, DWORD &status) {
  DWORD size = sizeof(status);
  return ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          nullptr) != FALSE;
}

// The reply memory ran out: leave a note where the user can find it.
void write_alloc_failure_note() {
  if (std::FILE *file = std::fopen("err.txt", "wb")) {
    std::fputs("Alloc memory failure!", file);
    std::fclose(file);
  }
}

}  // namespace

HANDLE ExchangeAbort::make_event() {
  return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

ExchangeAbort::ExchangeAbort(EventMaker event_maker) : event_(event_maker()) {
  if (event_ == nullptr) event_error_ = ::GetLastError();
}

ExchangeAbort::~ExchangeAbort() {
  if (event_ != nullptr) ::CloseHandle(event_);
}

void ExchangeAbort::abort() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ::SetEvent(event_);
  for (RouterHttpClient *client : clients_) client->close_handles();
}

void ExchangeAbort::reset() {
  ::ResetEvent(event_);
}

bool ExchangeAbort::aborted() const {
  return ::WaitForSingleObject(event_, 0) == WAIT_OBJECT_0;
}

void ExchangeAbort::sleep(unsigned milliseconds) const {
  ::WaitForSingleObject(event_, milliseconds);
}

void ExchangeAbort::enlist(RouterHttpClient *client) {
  const std::lock_guard<std::mutex> lock(mutex_);
  clients_.push_back(client);
  // A client made after the stop would start a new exchange: it gets no handles at all.
  if (aborted()) client->close_handles();
}

void ExchangeAbort::leave(RouterHttpClient *client) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::erase(clients_, client);
}

RouterHttpClient::RouterHttpClient(ClientSeams seams)
    : seams_(std::move(seams)),
      internet_(
          ::InternetOpenA(std::string(kUserAgent).c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)) {
  set_timeouts();
  if (seams_.abort != nullptr) seams_.abort->enlist(this);
}

RouterHttpClient::~RouterHttpClient() {
  if (seams_.abort != nullptr) seams_.abort->leave(this);
  Close();
}

// Handles made from the root handle take its time-outs.
void RouterHttpClient::set_timeouts() {
  HINTERNET internet = static_cast<HINTERNET>(internet_.get());
  if (internet == nullptr) return;
  const std::pair<DWORD, DWORD> timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs},
                                              {INTERNET_OPTION_SEND_TIMEOUT, kSendTimeoutMs},
                                              {INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs}};
  for (auto [option, milliseconds] : timeouts)
    ::InternetSetOptionA(internet, option, &milliseconds, sizeof(milliseconds));
}

// A request the user stopped fails as its handles close; that is no fault to tell them about.
bool RouterHttpClient::stopped() const {
  return seams_.abort != nullptr && seams_.abort->aborted();
}

void RouterHttpClient::wait_for_router(unsigned milliseconds) const {
  if (seams_.sleep)
    seams_.sleep(milliseconds);
  else if (seams_.abort != nullptr)
    seams_.abort->sleep(milliseconds);
  else
    ::Sleep(milliseconds);
}

int RouterHttpClient::Close() {
  const std::lock_guard<std::mutex> lock(handles_mutex_);
  request_.reset();
  connection_.reset();
  if (!internet_) return 0;
  return ::InternetCloseHandle(static_cast<HINTERNET>(internet_.release())) ? 1 : 0;
}

void RouterHttpClient::close_handles() {
  const std::lock_guard<std::mutex> lock(handles_mutex_);
  request_.reset();
  connection_.reset();
  internet_.reset();
}

HINTERNET RouterHttpClient::current(const Handle &handle) const {
  const std::lock_guard<std::mutex> lock(handles_mutex_);
  return static_cast<HINTERNET>(handle.get());
}

int RouterHttpClient::fail(int code) {
  last_error_ = ::GetLastError();
  return code;
}

int RouterHttpClient::open_request(std::string_view url, std::uint16_t port, std::string_view user,
                                   std::string_view password, bool is_post, std::string &host) {
  // An exchange that no stop could end and that could not wait for a router is not started: the
  // router reads as one that could not be reached.
  if (seams_.abort != nullptr && !seams_.abort->usable()) {
    last_error_ = seams_.abort->event_error();
    return kHttpNoConnection;
  }
  {
    const std::lock_guard<std::mutex> lock(handles_mutex_);
    request_.reset();
    connection_.reset();
  }
  const std::string url_text(url);
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  if (!::InternetCrackUrlA(url_text.c_str(), 0, 0, &parts) || parts.lpszHostName == nullptr) {
    return fail(kHttpNoConnection);
  }
  host.assign(parts.lpszHostName, parts.dwHostNameLength);
  std::string path =
      parts.lpszUrlPath != nullptr ? std::string(parts.lpszUrlPath, parts.dwUrlPathLength) : "/";
  if (host.size() > kMaxHostLength) return kHttpNoConnection;

  const bool secure = is_secure_url(url);
  const std::string user_text(user);
  const std::string password_text(password);
  HINTERNET internet = current(internet_);
  if (internet == nullptr) return fail(kHttpNoConnection);
  HINTERNET connection =
      ::InternetConnectA(internet, host.c_str(), port, user_text.c_str(), password_text.c_str(),
                         INTERNET_SERVICE_HTTP, is_post ? kPostConnectFlags : kGetConnectFlags, 0);
  if (connection == nullptr) return fail(kHttpNoConnection);
  if (!keep(connection_, connection)) return fail(kHttpNoConnection);

  const char *accept_types[] = {"*/*", nullptr};
  const DWORD request_flags =
      secure ? kSecureRequestFlags : (is_post ? kPlainPostRequestFlags : kPlainGetRequestFlags);
  HINTERNET request =
      ::HttpOpenRequestA(connection, is_post ? "POST" : "GET", path.c_str(), nullptr,
                         is_post ? url_text.c_str() : nullptr, accept_types, request_flags, 0);
  if (request == nullptr || !keep(request_, request)) {
    const int code = fail(kHttpNoConnection);
    const std::lock_guard<std::mutex> lock(handles_mutex_);
    connection_.reset();
    return code;
  }
  return kHttpOk;
}

bool RouterHttpClient::keep(Handle &slot, HINTERNET handle) {
  const std::lock_guard<std::mutex> lock(handles_mutex_);
  // The root handle went while this one was being opened: the exchange was aborted.
  if (!internet_) {
    ::InternetCloseHandle(handle);
    return false;
  }
  slot.reset(handle);
  return true;
}

int RouterHttpClient::add_headers(const std::vector<HeaderLine> &headers) {
  for (const HeaderLine &header : headers) {
    if (!::HttpAddRequestHeadersA(current(request_), header.text.c_str(),
                                  static_cast<DWORD>(header.text.size()), header.flags)) {
      return fail(kHttpHeaderFailed);
    }
  }
  return kHttpOk;
}

// Routers carry self-made certificates: an unknown authority, a name that is not the address the
// wizard uses and an expired date are all accepted.
void RouterHttpClient::accept_unknown_authority() {
  HINTERNET request = current(request_);
  DWORD flags = 0;
  DWORD size = sizeof(flags);
  ::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size);
  flags |= kIgnoreUnknownAuthority;
  ::InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
}

int RouterHttpClient::Post(std::string_view url, std::uint16_t port, std::string_view selection,
                           std::string &form, std::string_view user, std::string_view password,
                           int read_reply) {
  std::string host;
  if (const int opened = open_request(url, port, user, password, true, host); opened != kHttpOk)
    return opened;
  const auto headers = post_headers(host, selection, read_reply == 1, user, password, form.size());
  if (!headers) return kHttpHeaderFailed;
  if (const int added = add_headers(*headers); added != kHttpOk) return added;
  accept_unknown_authority();

  HINTERNET request = current(request_);
  if (!send_request(request)) return fail(kHttpSendFailed);
  DWORD written = 0;
  if (!::InternetWriteFile(request, form.data(), static_cast<DWORD>(form.size()), &written) ||
      written != form.size()) {
    return fail(kHttpWriteFailed);
  }
  if (!end_request(request)) {
    const int code = fail(kHttpEndFailed);
    if (last_error_ == kConnectionAborted && !stopped()) seams_.notify(kConnectionResetText);
    return code;
  }
  DWORD status = 0;
  if (!query_status(request, status)) return fail(kHttpStatusUnknown);
  if (const int accepted = post_result_for_status(status); accepted != kHttpOk) return accepted;
  if (read_reply != 1) return kHttpOk;
  wait_for_router(kConnectReplyDelayMs);
  // Stopped while waiting: the reply is not read.
  if (current(request_) == nullptr) return kHttpNoConnection;
  return ReadReply(request, form, kPageCapacity);
}

int RouterHttpClient::Get(std::string_view url, std::uint16_t port, std::string_view user,
                          std::string_view password, std::string *body, std::size_t capacity) {
  std::string host;
  if (const int opened = open_request(url, port, user, password, false, host); opened != kHttpOk)
    return opened;
  const auto headers = get_headers(user, password);
  if (!headers) return kHttpHeaderFailed;
  if (const int added = add_headers(*headers); added != kHttpOk) return added;
  accept_unknown_authority();

  HINTERNET request = current(request_);
  if (!send_request(request)) {
    const int code = fail(kHttpSendFailed);
    if (last_error_ == kInvalidAuthority && !stopped()) seams_.notify(kUntrustedRootText);
    return code;
  }
  if (!end_request(request)) {
    last_error_ = ::GetLastError();
    if (last_error_ == kForceRetry && !end_request(request)) return fail(kHttpEndFailed);
  }
  DWORD status = 0;
  if (!query_status(request, status)) return fail(kHttpStatusUnknown);
  if (status == 200) return body != nullptr ? ReadReply(request, *body, capacity) : kHttpOk;
  if (status == 401) return kHttpUnauthorized;
  return kHttpNoConnection;
}

int RouterHttpClient::ReadReply(HINTERNET request, std::string &body, std::size_t capacity) {
  std::vector<char> reply;
  char chunk[kReplyChunk];
  try {
    while (true) {
      DWORD read = 0;
      if (!::InternetReadFile(request, chunk, kReplyChunk, &read) || read == 0) break;
      reply.insert(reply.end(), chunk, chunk + read);
      // Stop as soon as the reply cannot fit: a router cannot make the wizard hold more than this.
      if (reply.size() > capacity) return kHttpReplyTooLong;
    }
  } catch (const std::bad_alloc &) {
    write_alloc_failure_note();
    return kHttpNoMemory;
  }
  body.assign(reply.begin(), reply.end());
  return kHttpOk;
}

}  // namespace tunmira
