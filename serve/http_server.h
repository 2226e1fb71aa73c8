// The HTTP server of qor-serve: libmicrohttpd's event loops (epoll, one thread per core by
// default) read the requests and send answers built in memory; this module hands each request
// to one handler and adds the limits the library lacks. Its timeout counts idle time only, so
// a client sending a byte a second would hold a connection for ever: a watchdog drops a
// connection whose request has not been answered within the request timeout of its first
// byte. Bodies are read and counted, never kept; a connection serves a fixed number of
// requests; stopping answers the requests in progress first.
#ifndef QOR3_SERVE_HTTP_SERVER_H
#define QOR3_SERVE_HTTP_SERVER_H

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "request.h"

struct ServerLimits {
  unsigned threads = 1;                             // event loops
  unsigned maxConnections = 1024;                   // more wait in the listening backlog
  std::chrono::milliseconds requestTimeout{10000};  // first byte to answer sent
  unsigned idleSeconds = 5;                         // without a byte received or sent
  // Request line and headers: the library's memory per connection, which it clears after
  // each request (at 64 KiB, about 5 µs of the 17 µs of CPU a caller-ID answer took).
  size_t maxHeadBytes = 16 * 1024;
  size_t maxBodyBytes = 1024;
  size_t keepAliveRequests = 1000;  // per connection (nginx's default)
};

struct HttpRequest {
  std::string_view method;
  std::string_view path;    // percent-decoded
  std::string_view target;  // as the client sent it
  QueryParams params;       // decoded, in their order
  std::string_view remoteAddress;
  bool bodyTooLarge = false;  // answered at once, before the rest of the body is read
};

struct HttpResponse {
  int status = 200;
  std::string body;  // the library leaves it out of answers to HEAD
  const char* contentType = "text/plain; charset=utf-8";
  std::vector<std::pair<const char*, std::string>> headers;
};

// Called on the event loops' threads, for every request that reached its end or was refused
// for its body's size.
using HttpHandler = void (*)(const HttpRequest& request, HttpResponse* response);

struct HttpServer;

// Listens on host:port (port 0: a free one) and serves on threads of its own; null when it
// cannot listen. *boundPort receives the port.
HttpServer* HttpServer_Start(const std::string& host, int port, const ServerLimits& limits,
                             HttpHandler handler, int* boundPort);
// Stops accepting, waits at most the request timeout for the requests in progress to be
// answered, closes every connection and frees the server.
void HttpServer_Stop(HttpServer* server);

#endif  // QOR3_SERVE_HTTP_SERVER_H
