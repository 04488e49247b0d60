#pragma once

// The console's HTTP(S) server: GNU libmicrohttpd with the limits a box on an
// office LAN needs before it reads anything a stranger sends.
//  - 64 connections at once and 8 from one address; past them a new connection
//    is closed as soon as it is accepted (said in the log once a minute).
//  - 100 headers and 16 KB of them (past 32 KB the library answers itself);
//    431 past either.
//  - a whole request within 10 s of its connection; a body streamed to a
//    handler (an upload) may take longer while it moves at 1 KB/s or more.
//  - every answer closes its connection, so a page that polls holds no thread
//    between its polls.
// A route's handler may answer from the headers alone (before any body is
// read), take a small body whole, or have the body streamed to it.
//
// Threads: a thread for each connection (the library's); handlers run there.

#include <sys/types.h>

#include <cstdint>

#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw {

struct HttpRequest {
    std::string method;  // "GET", "HEAD", "POST", "PUT", ...
    std::string path;    // decoded, without its query
    std::string body;    // a small body, read whole; empty for a streamed one
    std::string address;   // the peer's address
    std::string endpoint;  // "ADDRESS PORT"
    int socket = -1;       // the connection's socket, to notice a peer who left
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::string> matches;  // the route's groups, [0] the whole path
    std::string Header(std::string_view name) const;  // the first of that name, or ""
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string type;
    // A body made while it is sent: bytes written into `to` (at most `most`), 0
    // at its end, or -1 to end the connection. May wait for its bytes.
    std::function<ssize_t(char* to, size_t most)> stream;
    uint64_t streamSize = ~uint64_t{0};  // its length, when known
    std::function<void()> streamEnded;  // the stream is done with, however it ended
    void SetHeader(std::string name, std::string value);
    void SetContent(std::string content, std::string contentType);
};

// Where a streamed body goes. `Write` false ends the connection.
class HttpBodySink {
  public:
    virtual ~HttpBodySink() = default;
    virtual bool Write(const char* data, size_t size) = 0;
    virtual void Finish(HttpResponse& res) = 0;  // the whole body arrived
};

class HttpServer {
  public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Called once the headers are in: a sink for the body, or null with `res`
    // answered.
    using StreamHandler = std::function<std::unique_ptr<HttpBodySink>(const HttpRequest&, HttpResponse&)>;

    HttpServer();
    ~HttpServer();  // stops

    // Routes: a regular expression for the whole path. GET routes answer HEAD too.
    void Get(const std::string& pattern, Handler handler);
    void Post(const std::string& pattern, Handler handler);
    void Put(const std::string& pattern, StreamHandler handler);
    // Before routing, from the headers alone: true when it answered.
    std::function<bool(const HttpRequest&, HttpResponse&)> beforeBody;
    // Every answer passes here last.
    std::function<void(HttpResponse&)> everyAnswer;
    size_t mostBody = 1024 * 1024;  // a body read whole is at most this

    // Listens on ADDRESS:PORT (port 0: a free one), over TLS when both PEM files
    // are given. False with the reason.
    bool Listen(const std::string& address, int port, const std::string& certFile,
                const std::string& keyFile, std::string& why);
    int port() const;
    void Stop();  // waits for the handlers under way

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tw
