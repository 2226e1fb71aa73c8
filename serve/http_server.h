// The HTTP server of qor-serve: cpp-httplib's request parsing, routing and responses, with
// limits httplib lacks. Each request must arrive and be answered within a deadline (httplib
// times out each read separately, so a client sending a byte a second would hold a thread for
// ever), may read at most a fixed number of bytes, and the accept loop waits while the
// connections taken exceed the limit, leaving the rest in the kernel's backlog.
#ifndef QOR3_SERVE_HTTP_SERVER_H
#define QOR3_SERVE_HTTP_SERVER_H

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

struct ServerLimits {
  size_t threads = 32;
  size_t maxConnections = 128;                            // served and queued at once
  std::chrono::milliseconds requestTimeout{10000};        // request line to response sent
  std::chrono::milliseconds idleTimeout{5000};            // between requests of a connection
  size_t maxRequestBytes = 64 * 1024;                     // request line, headers and body
  size_t keepAliveRequests = 1000;                        // per connection (nginx's default)
};

class LimitedServer : public httplib::Server {
 public:
  explicit LimitedServer(const ServerLimits& limits);
  // Binds to host:port (port 0: a free one) and returns the port, or -1. The listening
  // socket's backlog is widened from httplib's 5 to SOMAXCONN, so that clients reconnecting
  // together are not made to repeat their SYN a second later.
  int Bind(const std::string& host, int port);
  // Stops accepting; connections end after their request in progress. Safe from any thread.
  void Drain();

 private:
  bool process_and_close_socket(socket_t sock) override;

  ServerLimits limits_;
  std::atomic<bool> draining_{false};
};

#endif  // QOR3_SERVE_HTTP_SERVER_H
