#include "HttpServer.h"

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "AtomicFile.h"
#include "Log.h"
#include "SlowClientGuard.h"
#include "Sockets.h"

namespace tw {

namespace {

using Steady = std::chrono::steady_clock;

constexpr unsigned kMostConnections = 64;
constexpr unsigned kMostPerAddress = 8;
constexpr size_t kMostHeaders = 100;
constexpr size_t kMostHeaderBytes = 16 * 1024;
// What the library may hold for one connection: its request line and headers,
// the piece of body being read, and the answer's headers. Headers past this are
// refused by the library itself.
constexpr size_t kConnectionMemory = 32 * 1024;
constexpr unsigned kIdleSeconds = 10;
// TLS 1.2 with forward secrecy and authenticated ciphers only (no static RSA key
// exchange, no CBC); TLS 1.3 as GnuTLS offers it.
constexpr const char* kTlsPriorities =
    "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-KX-ALL:+ECDHE-RSA:+ECDHE-ECDSA:-CIPHER-ALL:"
    "+AES-128-GCM:+AES-256-GCM:+CHACHA20-POLY1305:-MAC-ALL:+AEAD";

struct Route {
    std::string method;
    std::regex pattern;
    HttpServer::Handler handler;
    HttpServer::StreamHandler stream;
};

// One request on its way in: made when its headers are in, ended with it.
struct Exchange {
    HttpRequest req;
    const Route* route = nullptr;
    std::unique_ptr<HttpBodySink> sink;
    size_t received = 0;
};

struct Stream {
    std::function<ssize_t(char*, size_t)> read;
    std::function<void()> ended;
};

// "ADDRESS PORT" of a peer; "" for none.
std::string EndpointOf(const sockaddr* a) {
    sockaddr_storage s{};
    if (!a) return "";
    std::memcpy(&s, a, a->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    return Endpoint(s);
}

// The address of an endpoint, without its port.
std::string HostOf(const std::string& endpoint) {
    return endpoint.substr(0, std::min(endpoint.size(), endpoint.rfind(' ')));
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0)
            return value;
    return "";
}

void HttpResponse::SetHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::SetContent(std::string content, std::string contentType) {
    body = std::move(content);
    type = std::move(contentType);
}

struct HttpServer::Impl {
    HttpServer* owner = nullptr;
    std::vector<Route> routes;
    MHD_Daemon* daemon = nullptr;
    int port = 0;
    std::unique_ptr<SlowClientGuard> guard;
    std::mutex lock;  // the counts below
    std::map<std::string, unsigned> perAddress;
    unsigned total = 0;
    std::map<std::string, Steady::time_point> capSaid;
    std::string cert, key;

    // Accepted connections past the caps are closed at once.
    static MHD_Result Accept(void* cls, const sockaddr* addr, socklen_t) {
        Impl& i = *static_cast<Impl*>(cls);
        const std::string address = HostOf(EndpointOf(addr));
        std::lock_guard<std::mutex> hold(i.lock);
        if (i.total < kMostConnections && i.perAddress[address] < kMostPerAddress) return MHD_YES;
        const auto now = Steady::now();
        if (auto& said = i.capSaid[address]; said == Steady::time_point{} || now - said > std::chrono::minutes(1)) {
            said = now;
            Log("error - web console: over %u connections from %s or %u in all; the newest are cut off",
                kMostPerAddress, address.c_str(), kMostConnections);
        }
        if (i.capSaid.size() > 1000) i.capSaid.clear();
        return MHD_NO;
    }

    static void Connection(void* cls, MHD_Connection* c, void** context, MHD_ConnectionNotificationCode code) {
        Impl& i = *static_cast<Impl*>(cls);
        std::lock_guard<std::mutex> hold(i.lock);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            const std::string address = HostOf(EndpointOf(info ? info->client_addr : nullptr));
            ++i.perAddress[address];
            ++i.total;
            *context = new std::string(address);
        } else if (auto* address = static_cast<std::string*>(*context)) {
            if (--i.perAddress[*address] == 0) i.perAddress.erase(*address);
            --i.total;
            delete address;
            *context = nullptr;
        }
    }

    static void Completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
        delete static_cast<Exchange*>(*state);
        *state = nullptr;
    }

    static ssize_t ReadStream(void* cls, uint64_t, char* to, size_t most) {
        const ssize_t n = static_cast<Stream*>(cls)->read(to, most);
        return n > 0 ? n : n == 0 ? MHD_CONTENT_READER_END_OF_STREAM : MHD_CONTENT_READER_END_WITH_ERROR;
    }

    static void EndStream(void* cls) {
        auto* stream = static_cast<Stream*>(cls);
        if (stream->ended) stream->ended();
        delete stream;
    }

    MHD_Result Queue(MHD_Connection* c, HttpResponse& res) {
        if (owner->everyAnswer) owner->everyAnswer(res);
        MHD_Response* r = nullptr;
        if (res.stream) {
            auto* stream = new Stream{std::move(res.stream), std::move(res.streamEnded)};
            r = MHD_create_response_from_callback(res.streamSize == ~uint64_t{0} ? MHD_SIZE_UNKNOWN : res.streamSize,
                                                  64 * 1024, ReadStream, stream, EndStream);
            if (!r) EndStream(stream);
        } else {
            r = MHD_create_response_from_buffer(res.body.size(), res.body.data(), MHD_RESPMEM_MUST_COPY);
        }
        if (!r) return MHD_NO;
        for (const auto& [name, value] : res.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
        if (!res.type.empty()) MHD_add_response_header(r, "Content-Type", res.type.c_str());
        MHD_add_response_header(r, "Connection", "close");
        const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(res.status), r);
        MHD_destroy_response(r);
        return queued;
    }

    // The request's line and headers are in: answer what they decide, find the
    // route, and give a streamed body its sink.
    MHD_Result Begin(MHD_Connection* c, Exchange& ex) {
        HttpRequest& req = ex.req;
        size_t bytes = 0;
        MHD_get_connection_values(
            c, MHD_HEADER_KIND,
            [](void* cls, MHD_ValueKind, const char* name, const char* value) {
                static_cast<HttpRequest*>(cls)->headers.emplace_back(name, value ? value : "");
                return MHD_YES;
            },
            &req);
        for (const auto& [name, value] : req.headers) bytes += name.size() + value.size() + 4;
        HttpResponse res;
        if (req.headers.size() > kMostHeaders || bytes > kMostHeaderBytes) {
            res.status = 431;
            res.SetContent("{\"error\":\"at most 100 headers and 16 KB of them\"}", "application/json");
            return Queue(c, res);
        }
        if (owner->beforeBody && owner->beforeBody(req, res)) return Queue(c, res);
        const std::string method = req.method == "HEAD" ? "GET" : req.method;
        for (const Route& route : routes) {
            std::smatch found;
            if (route.method != method || !std::regex_match(req.path, found, route.pattern)) continue;
            for (const auto& group : found) req.matches.push_back(group.str());
            ex.route = &route;
            if (route.stream) {
                ex.sink = route.stream(req, res);
                if (!ex.sink) return Queue(c, res);
                guard->Moved(req.endpoint, 0);
            }
            return MHD_YES;
        }
        res.status = 404;
        res.SetContent("{\"error\":\"no such page\"}", "application/json");
        return Queue(c, res);
    }

    static MHD_Result Handle(void* cls, MHD_Connection* c, const char* url, const char* method,
                             const char*, const char* data, size_t* size, void** state) {
        Impl& i = *static_cast<Impl*>(cls);
        auto* ex = static_cast<Exchange*>(*state);
        if (!ex) {
            *state = ex = new Exchange;
            ex->req.method = method;
            ex->req.path = url;
            if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
                ex->req.endpoint = EndpointOf(info->client_addr);
            ex->req.address = HostOf(ex->req.endpoint);
            if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
                ex->req.socket = info->connect_fd;
            return i.Begin(c, *ex);
        }
        if (*size > 0) {
            ex->received += *size;
            if (ex->sink) {
                i.guard->Moved(ex->req.endpoint, ex->received);
                if (!ex->sink->Write(data, *size)) return MHD_NO;
            } else {
                // Bodies with a length over their limit were refused from the
                // headers; this holds for any other.
                if (ex->received > i.owner->mostBody) return MHD_NO;
                ex->req.body.append(data, *size);
            }
            *size = 0;
            return MHD_YES;
        }
        i.guard->RequestArrived(ex->req.endpoint);
        HttpResponse res;
        if (ex->sink)
            ex->sink->Finish(res);
        else
            ex->route->handler(ex->req, res);
        return i.Queue(c, res);
    }
};

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {
    impl_->owner = this;
}

HttpServer::~HttpServer() {
    Stop();
}

void HttpServer::Get(const std::string& pattern, Handler handler) {
    impl_->routes.push_back({"GET", std::regex(pattern), std::move(handler), {}});
}
void HttpServer::Post(const std::string& pattern, Handler handler) {
    impl_->routes.push_back({"POST", std::regex(pattern), std::move(handler), {}});
}
void HttpServer::Put(const std::string& pattern, StreamHandler handler) {
    impl_->routes.push_back({"PUT", std::regex(pattern), {}, std::move(handler)});
}

bool HttpServer::Listen(const std::string& address, int port, const std::string& certFile,
                        const std::string& keyFile, std::string& why) {
    Impl& i = *impl_;
    const bool tls = !certFile.empty() || !keyFile.empty();
    if (tls && (!ReadWholeFile(certFile, i.cert) || !ReadWholeFile(keyFile, i.key) || i.cert.empty() ||
                i.key.empty())) {
        why = "the web console's certificate or key cannot be read (" + certFile + ", " + keyFile + ")";
        return false;
    }
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    if (const int e = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found); e != 0) {
        why = ::gai_strerror(e);
        return false;
    }
    const int family = found->ai_family;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const bool bound = fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 64) == 0;
    ::freeaddrinfo(found);
    if (!bound) {
        why = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    i.port = PortOf(local);
    i.guard = std::make_unique<SlowClientGuard>(i.port);

    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
        // The caps are kept (and said) by Accept; the library's own, a little
        // higher, are only a second line.
        {MHD_OPTION_CONNECTION_LIMIT, kMostConnections + 4, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMostPerAddress + 2, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::Completed), &i},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Impl::Connection), &i},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, i.cert.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, i.key.data()});
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    const unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
                           (tls ? MHD_USE_TLS : 0) | (family == AF_INET6 ? MHD_USE_IPv6 : 0);
    i.daemon = MHD_start_daemon(flags, 0, &Impl::Accept, &i, &Impl::Handle, &i, MHD_OPTION_ARRAY,
                                options.data(), MHD_OPTION_END);
    if (!i.daemon) {
        ::close(fd);
        i.guard.reset();
        why = tls ? "the web console's certificate or key cannot be used (" + certFile + ", " + keyFile + ")"
                  : "the HTTP server did not start";
        return false;
    }
    return true;
}

int HttpServer::port() const {
    return impl_->port;
}

void HttpServer::Stop() {
    if (impl_->daemon) MHD_stop_daemon(impl_->daemon);
    impl_->daemon = nullptr;
    impl_->guard.reset();
}

}  // namespace tw
