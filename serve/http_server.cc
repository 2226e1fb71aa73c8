// Deadlines, byte and connection limits around cpp-httplib's request processing.
#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

void Address(const sockaddr_storage& address, std::string* ip, int* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    *port = ntohs(a->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    *port = ntohs(a->sin6_port);
  }
  *ip = text;
}

// httplib's Stream over a connected socket: buffered reads, gathered writes, and every wait
// bounded by the request's deadline as well as by the time one read or write may take.
//
// httplib writes an answer's headers and body separately; with TCP_NODELAY each write would
// be a segment of its own, which the client reads on two wakeups. Writes are therefore
// gathered up to kGatherBytes and sent when the answer is complete (Flush), before a read
// (an interim "100 Continue" is not held back), or when more does not fit.
class DeadlineStream final : public httplib::Stream {
 public:
  explicit DeadlineStream(int fd) : fd_(fd) {
    // Headers and body go out in separate writes; with Nagle's algorithm the second would
    // wait for the client's delayed acknowledgement (40 ms).
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // AwaitRequest's blocking receive returns at least this often, so that a drain is seen.
    const timeval step{0, 100 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step);
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      Address(address, &remoteIp_, &remotePort_);
    }
    size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      Address(address, &localIp_, &localPort_);
    }
  }

  // Waits until idleEnd for the first bytes of the next request (true), receiving them
  // directly rather than polling first: one system call per request less on a busy connection.
  // False when the client closed the connection, stayed idle, or draining became true.
  bool AwaitRequest(Clock::time_point idleEnd, const std::atomic<bool>& draining) {
    awaited_ = 0;
    if (HasBuffered()) return true;
    while (!draining && Clock::now() < idleEnd) {
      const ssize_t n = recv(fd_, buffer_, sizeof buffer_, 0);
      if (n > 0) {
        begin_ = 0;
        end_ = awaited_ = static_cast<size_t>(n);
        return true;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
    }
    return false;
  }

  // The bytes AwaitRequest received count against the request's budget.
  void StartRequest(Clock::time_point deadline, size_t maxBytes) {
    deadline_ = deadline;
    budget_ = maxBytes > awaited_ ? maxBytes - awaited_ : 0;
  }
  bool HasBuffered() const { return begin_ < end_; }

  bool is_readable() const override { return HasBuffered() || Wait(POLLIN); }
  // The write itself waits for room; here only the deadline is checked.
  bool is_writable() const override { return Clock::now() < deadline_; }

  // Both try the socket first and wait only when it is not ready, which saves a poll per
  // call on a busy connection; the deadline is checked either way.
  ssize_t read(char* ptr, size_t size) override {
    if (!HasBuffered()) {
      if (budget_ == 0 || Clock::now() >= deadline_ || !Flush()) return -1;
      const size_t want = std::min(sizeof buffer_, budget_);
      ssize_t n;
      while ((n = Retry([&] { return recv(fd_, buffer_, want, MSG_DONTWAIT); })) < 0 &&
             (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!Wait(POLLIN)) return -1;
      }
      if (n <= 0) return n;
      budget_ -= static_cast<size_t>(n);
      begin_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (Clock::now() >= deadline_) return -1;
    if (gathered_ + size <= sizeof gather_) {
      std::memcpy(gather_ + gathered_, ptr, size);
      gathered_ += size;
      return static_cast<ssize_t>(size);
    }
    if (!Flush()) return -1;
    return Send(ptr, size);
  }

  // Sends what the writes gathered; false when the client cannot take it before the deadline.
  bool Flush() {
    size_t sent = 0;
    while (sent < gathered_) {
      const ssize_t n = Send(gather_ + sent, gathered_ - sent);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    gathered_ = 0;
    return true;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = remoteIp_;
    port = remotePort_;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = localIp_;
    port = localPort_;
  }
  socket_t socket() const override { return fd_; }

 private:
  static constexpr size_t kGatherBytes = 16 * 1024;

  ssize_t Send(const char* ptr, size_t size) {
    ssize_t n;
    while ((n = Retry([&] { return send(fd_, ptr, size, MSG_DONTWAIT | MSG_NOSIGNAL); })) < 0 &&
           (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(POLLOUT)) return -1;
    }
    return n;
  }

  template <typename Call>
  static ssize_t Retry(Call call) {
    ssize_t n;
    do {
      n = call();
    } while (n < 0 && errno == EINTR);
    return n;
  }

  // True when the socket is ready for `events` before the deadline and within the time one
  // read or write may wait.
  bool Wait(short events) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ -
                                                                             Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, events, 0};
    int n;
    do {
      n = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 5000)));
    } while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
  }

  int fd_;
  std::string remoteIp_, localIp_;
  int remotePort_ = -1, localPort_ = -1;
  Clock::time_point deadline_ = Clock::now();
  size_t budget_ = 0;
  char buffer_[4096];
  size_t begin_ = 0, end_ = 0;
  size_t awaited_ = 0;  // received by AwaitRequest
  char gather_[kGatherBytes];
  size_t gathered_ = 0;
};

// httplib's thread pool behind a count of the connections taken: enqueue, called by the
// accept loop, waits while the count is at the limit.
class ConnectionQueue final : public httplib::TaskQueue {
 public:
  ConnectionQueue(size_t threads, size_t maxConnections)
      : pool_(threads), max_(std::max(maxConnections, threads)) {}

  void enqueue(std::function<void()> fn) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      room_.wait(lock, [&] { return taken_ < max_; });
      ++taken_;
    }
    pool_.enqueue([this, fn = std::move(fn)] {
      fn();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        --taken_;
      }
      room_.notify_one();
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
  std::mutex mutex_;
  std::condition_variable room_;
  size_t taken_ = 0;
  const size_t max_;
};

}  // namespace

LimitedServer::LimitedServer(const ServerLimits& limits) : limits_(limits) {
  // What the Keep-Alive header tells clients; process_and_close_socket applies it.
  set_keep_alive_max_count(limits.keepAliveRequests);
  set_keep_alive_timeout(
      std::chrono::duration_cast<std::chrono::seconds>(limits.idleTimeout).count());
  new_task_queue = [limits] { return new ConnectionQueue(limits.threads, limits.maxConnections); };
}

int LimitedServer::Bind(const std::string& host, int port) {
  if (port == 0) {
    port = bind_to_any_port(host);
  } else if (!bind_to_port(host, port)) {
    port = -1;
  }
  if (port > 0) ::listen(svr_sock_, SOMAXCONN);
  return port;
}

void LimitedServer::Drain() {
  draining_ = true;
  stop();
}

bool LimitedServer::process_and_close_socket(socket_t sock) {
  DeadlineStream stream(sock);
  bool ok = false;
  for (size_t served = 0; served < limits_.keepAliveRequests && !draining_; ++served) {
    // Idle between requests: wait in short steps so that a drain closes idle connections.
    if (!stream.AwaitRequest(Clock::now() + limits_.idleTimeout, draining_) || draining_) break;
    stream.StartRequest(Clock::now() + limits_.requestTimeout, limits_.maxRequestBytes);
    bool closed = false;
    const bool last = served + 1 == limits_.keepAliveRequests;
    ok = process_request(stream, last, closed, nullptr);
    // An answer to a request httplib refused is sent too.
    if (!stream.Flush()) ok = false;
    if (!ok || closed) break;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}
