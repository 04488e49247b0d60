#pragma once

// The web console: an HTTP(S) server inside the player, for a box with no screen.
// A JSON API under /api/ and one page that uses it. An admin console: a password
// (see WebPassword), sessions by an HttpOnly, SameSite=Strict cookie, a CSRF token
// on every change, five failed logins a minute per address and then 429, uploads
// streamed to a temporary file under "sounds" with a size limit and checked by the
// player's own loader before they are kept.
//
// Threads: the server runs its own threads (libmicrohttpd's, see HttpServer). Whatever reads or
// changes the player runs on the main thread, posted there like a dialog's work;
// a handler waits for it at most a few seconds and never holds the main thread.

#include <memory>
#include <string>
#include <vector>

namespace tw {

class MessageBox;
class OnHoldPlayer;

struct WebOptions {
    std::string address = "127.0.0.1";
    int port = 0;
    std::string certFile;  // both set: HTTPS
    std::string keyFile;
    size_t uploadLimit = 200u * 1024 * 1024;
    // Names the console is reached by besides its address and localhost
    // ("web-host =" in tonewell.conf): any other Host header is refused, so that
    // a name that points here only for a moment (DNS rebinding) reaches nothing.
    std::vector<std::string> hosts;
};

// Reads "[ADDRESS:]PORT" into `options`; false with the reason.
bool ParseWebAddress(const std::string& text, WebOptions& options, std::string& why);

class WebServer {
  public:
    // Starts listening at once; `started()` says whether it does (`problem` says
    // why not). The player outlives the server.
    WebServer(const WebOptions& options, OnHoldPlayer& player);
    ~WebServer();  // stops listening; handlers under way are answered 503
    bool started() const;
    const std::string& problem() const;
    int port() const;  // the port listened on (a port of 0 asks for a free one)

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The console for a player, or null when it cannot listen (no password, a port in
// use, a bad certificate): said once in a box and in the log, and the player plays
// on without it.
std::unique_ptr<WebServer> StartWebConsole(const WebOptions& options, OnHoldPlayer& player,
                                           MessageBox& boxes);

}  // namespace tw
