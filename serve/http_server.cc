// libmicrohttpd with a request deadline, a body limit and a drain.
#include "http_server.h"

#include <arpa/inet.h>
#include <linux/tcp.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Connection {
  int fd = -1;
  std::string remoteAddress;
  // The request being read or answered; touched by its event loop only.
  std::string target;
  size_t bodyBytes = 0;
  bool called = false;    // the handler saw its headers
  bool answered = false;  // an answer was queued
  // Read by the watchdog and the drain.
  std::atomic<bool> busy{false};  // from the request line to the answer sent
  std::atomic<uint64_t> served{0};
  // The watchdog's own, under HttpServer::mutex.
  uint64_t seenServed = 0;
  uint64_t bytesAtAnswer = 0;  // received by then
  Clock::time_point requestStart{};
};

}  // namespace

struct HttpServer {
  MHD_Daemon* daemon = nullptr;
  ServerLimits limits;
  HttpHandler handler = nullptr;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::vector<Connection*> connections;  // open ones
  std::thread watchdog;
};

namespace {

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address == nullptr) return text;
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
              sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  }
  return text;
}

// The library tells of a connection before its first request and after its socket's last use,
// before closing it: the watchdog never touches a descriptor that was closed and reused.
void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                  MHD_ConnectionNotificationCode code) {
  auto* server = static_cast<HttpServer*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    auto* c = new Connection;
    c->fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
    c->remoteAddress = AddressText(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)->client_addr);
    std::lock_guard<std::mutex> lock(server->mutex);
    server->connections.push_back(c);
    *socketContext = c;
  } else if (*socketContext != nullptr) {
    auto* c = static_cast<Connection*>(*socketContext);
    {
      std::lock_guard<std::mutex> lock(server->mutex);
      std::erase(server->connections, c);
    }
    delete c;
    *socketContext = nullptr;
  }
}

// Called once the request line is read; what it returns is the request's context.
void* OnRequestLine(void*, const char* uri, MHD_Connection* connection) {
  auto* c = static_cast<Connection*>(
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
  if (c == nullptr) return nullptr;  // OnRequest refuses the request
  c->target = uri;
  c->bodyBytes = 0;
  c->called = c->answered = false;
  c->busy = true;
  return c;
}

void OnCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  if (*context == nullptr) return;
  auto* c = static_cast<Connection*>(*context);
  c->busy = false;
  c->served.fetch_add(1);
}

MHD_Result AddParam(void* cls, MHD_ValueKind, const char* key, size_t keySize, const char* value,
                    size_t valueSize) {
  static_cast<QueryParams*>(cls)->emplace_back(std::string(key, keySize),
                                              value == nullptr ? std::string()
                                                               : std::string(value, valueSize));
  return MHD_YES;
}

MHD_Result Answer(HttpServer* server, MHD_Connection* connection, Connection* c, const char* url,
                  const char* method, bool bodyTooLarge) {
  HttpRequest request;
  request.method = method;
  request.path = url;
  request.target = c->target;
  request.remoteAddress = c->remoteAddress;
  request.bodyTooLarge = bodyTooLarge;
  MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, AddParam, &request.params);
  HttpResponse out;
  server->handler(request, &out);
  MHD_Response* response = MHD_create_response_from_buffer(out.body.size(), out.body.data(),
                                                           MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, out.contentType);
  for (const auto& [name, value] : out.headers) {
    MHD_add_response_header(response, name, value.c_str());
  }
  if (c->served.load() + 1 >= server->limits.keepAliveRequests) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  }
  const MHD_Result queued = MHD_queue_response(connection, out.status, response);
  MHD_destroy_response(response);
  c->answered = true;
  return queued;
}

// Called with the headers read, then with each piece of the body, then once more at its end.
// A body is counted and dropped; over the limit (declared or read) it is answered at once, and
// the library closes the connection after that answer.
MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char*, size_t* uploadSize, void** context) {
  auto* server = static_cast<HttpServer*>(cls);
  auto* c = static_cast<Connection*>(*context);
  if (c == nullptr) return MHD_NO;
  if (c->answered) {
    *uploadSize = 0;
    return MHD_YES;
  }
  const size_t limit = server->limits.maxBodyBytes;
  // An answer queued on the first call, before the library knows the request has no body,
  // would close the connection after it.
  if (!c->called) {
    c->called = true;
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length != nullptr && std::strtoull(length, nullptr, 10) > limit) {
      return Answer(server, connection, c, url, method, true);
    }
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    c->bodyBytes += *uploadSize;
    *uploadSize = 0;
    if (c->bodyBytes <= limit) return MHD_YES;
    return Answer(server, connection, c, url, method, true);
  }
  return Answer(server, connection, c, url, method, false);
}

// Every 100 ms: a connection that received bytes after its last answer has a request under
// way since then; past the request timeout its socket is shut down, which ends it in the
// library's loop. The kernel's count of bytes received shows a request's first byte, which
// the library does not report until the whole request line is in.
void Watch(HttpServer* server) {
  std::unique_lock<std::mutex> lock(server->mutex);
  while (!server->stopping) {
    server->wake.wait_for(lock, std::chrono::milliseconds(100));
    const Clock::time_point now = Clock::now();
    for (Connection* c : server->connections) {
      tcp_info info{};
      socklen_t size = sizeof info;
      if (getsockopt(c->fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) continue;
      const uint64_t served = c->served.load();
      if (served != c->seenServed) {
        c->seenServed = served;
        c->bytesAtAnswer = info.tcpi_bytes_received;
        c->requestStart = {};
      } else if (c->requestStart == Clock::time_point{}) {
        if (info.tcpi_bytes_received > c->bytesAtAnswer) c->requestStart = now;
      } else if (now - c->requestStart > server->limits.requestTimeout) {
        shutdown(c->fd, SHUT_RDWR);
      }
    }
  }
}

bool AnyBusy(HttpServer* server) {
  std::lock_guard<std::mutex> lock(server->mutex);
  return std::any_of(server->connections.begin(), server->connections.end(),
                     [](const Connection* c) { return c->busy.load(); });
}

}  // namespace

HttpServer* HttpServer_Start(const std::string& host, int port, const ServerLimits& limits,
                             HttpHandler handler, int* boundPort) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return nullptr;
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, std::min<size_t>(found->ai_addrlen, sizeof address));
  freeaddrinfo(found);

  auto* server = new HttpServer;
  server->limits = limits;
  server->handler = handler;
  const auto timeout = static_cast<intptr_t>(limits.idleSeconds);
  MHD_OptionItem options[] = {
      {MHD_OPTION_SOCK_ADDR, 0, &address},
      {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(limits.maxConnections), nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, timeout, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits.maxHeadBytes), nullptr},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&OnConnection), server},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&OnRequestLine), server},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnCompleted), server},
      {MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(limits.threads), nullptr},
      {MHD_OPTION_END, 0, nullptr},
  };
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC;
  if (address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  server->daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest, server,
                                    MHD_OPTION_ARRAY, options, MHD_OPTION_END);
  if (server->daemon == nullptr) {
    delete server;
    return nullptr;
  }
  *boundPort = MHD_get_daemon_info(server->daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
  server->watchdog = std::thread(Watch, server);
  return server;
}

void HttpServer_Stop(HttpServer* server) {
  const MHD_socket listening = MHD_quiesce_daemon(server->daemon);
  const Clock::time_point deadline = Clock::now() + server->limits.requestTimeout;
  while (AnyBusy(server) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  MHD_stop_daemon(server->daemon);
  if (listening != MHD_INVALID_SOCKET) close(listening);
  {
    std::lock_guard<std::mutex> lock(server->mutex);
    server->stopping = true;
  }
  server->wake.notify_all();
  server->watchdog.join();
  delete server;
}
