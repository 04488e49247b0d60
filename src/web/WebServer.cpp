#include "WebServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "AtomicFile.h"
#include "ConsoleAnswers.h"
#include "Clock.h"
#include "ListsEditor.h"
#include "MixTap.h"
#include "StreamEncoder.h"
#include "MessageBox.h"
#include "LoadSound.h"
#include "LoginLimits.h"
#include "AdminRecord.h"
#include "HttpServer.h"
#include "Log.h"
#include "OnHoldPlayer.h"
#include "Paths.h"
#include "SoundFiles.h"
#include "SoundsFolder.h"
#include "SoundImport.h"
#include "VoiceMessages.h"
#include "WebPassword.h"

namespace tw {
namespace {

using Steady = std::chrono::steady_clock;

constexpr uint64_t kMostLoginBody = 4 * 1024;
constexpr uint64_t kMostJsonBody = 1024 * 1024;
// A session ends 12 hours after its login, in use or not.
constexpr auto kSessionLife = std::chrono::hours(12);

void Send(HttpResponse& res, const Answer& answer) {
    res.status = answer.status;
    res.SetHeader("Cache-Control", "no-store");
    QJsonObject body = answer.lists ? ListsJson(*answer.lists) : QJsonObject{};
    for (auto it = answer.body.begin(); it != answer.body.end(); ++it) body[it.key()] = it.value();
    res.SetContent(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

// Whether the peer of a connected socket has closed its end.
bool PeerLeft(int socket) {
    pollfd p{socket, POLLRDHUP, 0};
    return socket >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Two consoles on one host (two instances) each keep their own cookie.
std::string CookieName(int port) {
    return "tw_session_" + std::to_string(port);
}

std::string CookieValue(const HttpRequest& req, int port) {
    const std::string cookies = req.Header("Cookie");
    const std::string key = CookieName(port) + "=";
    for (size_t at = 0; at < cookies.size();) {
        while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
        const size_t end = std::min(cookies.find(';', at), cookies.size());
        if (cookies.compare(at, key.size(), key) == 0)
            return cookies.substr(at + key.size(), end - at - key.size());
        at = end;
    }
    return "";
}

// Whether a Host header names this console: an address written as such (a
// name that resolves here for a moment is how DNS rebinding gets in), localhost,
// or a name the admin gave.
bool HostAllowed(const std::string& header, const WebOptions& options) {
    std::string host = header;
    if (!host.empty() && host.front() == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) return false;
        host = host.substr(1, close - 1);
        in6_addr v6{};
        return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
    }
    if (const size_t colon = host.rfind(':'); colon != std::string::npos) host.resize(colon);
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return true;
    const std::string lower = AsciiLower(host);
    if (lower == "localhost" || lower == AsciiLower(options.address)) return true;
    for (const std::string& name : options.hosts)
        if (lower == AsciiLower(name)) return true;
    return false;
}

}  // namespace

bool ParseWebAddress(const std::string& text, WebOptions& options, std::string& why) {
    const size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    std::string address = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    char* end = nullptr;
    const long n = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || n < 1 || n > 65535 || address.empty()) {
        why = "the web console takes [ADDRESS:]PORT, a port from 1 to 65535";
        return false;
    }
    options.address = address;
    options.port = static_cast<int>(n);
    return true;
}

struct WebServer::Impl {
    Impl(const WebOptions& o, OnHoldPlayer& p) : options(o), player(p) {}

    // Runs `work` on the main thread and waits for its answer, a few seconds at
    // most; the work captures nothing of the caller's by reference.
    Answer OnMain(std::function<Answer()> work) {
        auto result = std::make_shared<std::promise<Answer>>();
        std::future<Answer> answer = result->get_future();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [work = std::move(work), result, alive = alive] {
                if (!*alive) return result->set_value(Error(503, "Tonewell is stopping"));
                const auto start = Steady::now();
                result->set_value(work());
                // The player's timers wait meanwhile: a request that holds them
                // this long is a fault to mend.
                if (const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
                    ms > 100)
                    Log("error - web console: a request held the player's thread for %lld ms",
                        static_cast<long long>(ms));
            },
            Qt::QueuedConnection);
        // Never waited for while the program stops: the main thread is then busy
        // stopping this server.
        for (int waited = 0; answer.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready;)
            if (!*alive || ++waited > 100) return Error(503, "the player did not answer in time");
        return answer.get();
    }

    // A new password (set with --set-web-password while this runs) ends every
    // session and every lock-out. Called with `lock` held.
    void NoticeNewPassword() {
        const FileStamp stamp = StampOf(kWebPasswordFile);
        if (stamp == passwordStamp) return;
        const bool ended = limits.Clear() || !sessions.empty();
        if (passwordStamp != FileStamp{} && ended)
            Log("status - web console: the password changed; every session ended");
        passwordStamp = stamp;
        sessions.clear();
    }

    // The session's CSRF token, or "" when the request has no session.
    std::string SessionOf(const HttpRequest& req) {
        const std::string token = CookieValue(req, port);
        std::lock_guard<std::mutex> hold(lock);
        NoticeNewPassword();
        const auto it = sessions.find(token);
        if (token.empty() || it == sessions.end()) return "";
        if (Steady::now() - it->second.second > kSessionLife) {
            sessions.erase(it);
            return "";
        }
        return it->second.first;
    }

    // False (with the answer sent) unless the request has a session and, for a
    // change, its CSRF token.
    bool Allowed(const HttpRequest& req, HttpResponse& res, bool changes) {
        const std::string csrf = SessionOf(req);
        if (csrf.empty()) {
            Send(res, Error(401, "log in first"));
            return false;
        }
        if (changes && req.Header("X-CSRF-Token") != csrf) {
            Send(res, Error(403, "the request has no valid X-CSRF-Token"));
            return false;
        }
        return true;
    }

    // A password tried from `from` under the login limits: 429 (its Retry-After
    // set) while the address is locked out, 401 when wrong, 200 when right.
    int TryPassword(const std::string& from, const std::string& password, HttpResponse& res) {
        if (const int64_t wait = limits.MayTry(from); wait > 0) {
            res.SetHeader("Retry-After", std::to_string(wait));
            return 429;
        }
        const bool right =
            !password.empty() &&
            limits.InTurn(WebPasswordHashKibibytes(), [&password] { return CheckWebPassword(password); });
        limits.Checked(from, right);
        return right ? 200 : 401;
    }

    void Login(const HttpRequest& req, HttpResponse& res) {
        const std::string from = req.address;
        {
            std::lock_guard<std::mutex> hold(lock);
            NoticeNewPassword();
        }
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        const int tried = TryPassword(from, body["password"].toString().toStdString(), res);
        if (tried == 429) return Send(res, Error(429, "too many failed logins; wait a minute"));
        if (tried != 200) {
            Log("status - web console: a failed login from %s", from.c_str());
            Send(res, Error(401, "wrong password"));
            return;
        }
        Log("status - web console: logged in from %s", from.c_str());
        Send(res, {200, QJsonObject{{"csrf", QString::fromStdString(NewSession(res))}}});
    }

    // A session for the client being answered, its cookie set: its CSRF token.
    std::string NewSession(HttpResponse& res) {
        const std::string token = RandomToken(), csrf = RandomToken();
        {
            std::lock_guard<std::mutex> hold(lock);
            NoticeNewPassword();  // a new password ends every other session first
            sessions[token] = {csrf, Steady::now()};
        }
        res.SetHeader("Set-Cookie", CookieName(port) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict" +
                                        (tls ? "; Secure" : ""));
        return csrf;
    }

    // A new password from the page: the old one first (a wrong one counts as a
    // failed login), then every other session ends; this one goes on with a new
    // token.
    void ChangePassword(const HttpRequest& req, HttpResponse& res) {
        if (!Allowed(req, res, true)) return;
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        std::string old = body["old"].toString().toStdString(), fresh = body["new"].toString().toStdString();
        auto answer = [&](const Answer& a) {
            WipeSecret(old);
            WipeSecret(fresh);
            Send(res, a);
        };
        const int tried = TryPassword(req.address, old, res);
        if (tried == 429) return answer(Error(429, "too many failed logins; wait a minute"));
        if (tried != 200) {
            Log("status - web console: a wrong old password from %s", req.address.c_str());
            return answer(Error(403, "the old password is not right"));
        }
        std::string why;
        if (!SetWebPassword(fresh, why)) return answer(Error(400, why));
        Log("status - web console: the password was changed from %s; every other session ended",
            req.address.c_str());
        answer({200, QJsonObject{{"csrf", QString::fromStdString(NewSession(res))}}});
    }

    // An upload's body, streamed into the file `tempName` (a stored name) as it
    // arrives, never held whole. Once whole it is read by the player's loader (its
    // messages name it `shownName`) and `keep` decides its answer. The file is
    // gone when the request ends, kept or not.
    class Receiver : public HttpBodySink {
      public:
        Receiver(Impl& impl, std::string tempName, std::string shownName, std::function<Answer()> keep)
            : impl_(impl), tempName_(std::move(tempName)), shownName_(std::move(shownName)),
              keep_(std::move(keep)) {}
        ~Receiver() override {
            if (fd_ >= 0) ::close(fd_);
            ::unlink(NativePath(tempName_).c_str());
        }
        // The answer to give when the file cannot be made, or 200.
        Answer Open() {
            fd_ = ::open(NativePath(tempName_).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            return fd_ < 0 ? Error(500, std::string("cannot store it: ") + std::strerror(errno)) : Answer{};
        }
        bool Write(const char* data, size_t size) override {
            received_ += size;
            // Only a body without a length gets here past the limit.
            if (received_ > impl_.options.uploadLimit) return false;
            // A full disk is said once the body is in.
            if (error_ == 0 && !WriteAll(fd_, data, size)) error_ = errno;
            return true;
        }
        void Finish(HttpResponse& res) override {
            if (::fsync(fd_) != 0 && error_ == 0) error_ = errno;
            ::close(fd_);
            fd_ = -1;
            if (error_ != 0) return Send(res, Error(507, std::string("cannot store it: ") + std::strerror(error_)));
            std::string why;
            // Read as the player will read it: at the output's rate.
            if (!LoadsAsSound(tempName_, shownName_, why,
                              LoadOptions{impl_.mixer ? impl_.mixer->outputRate() : 0}))
                return Send(res, Error(422, why));
            Send(res, keep_());
        }

      private:
        Impl& impl_;
        const std::string tempName_, shownName_;
        std::function<Answer()> keep_;
        int fd_ = -1;
        size_t received_ = 0;
        int error_ = 0;
    };

    // Where an upload's body goes, or null with the answer given.
    std::unique_ptr<HttpBodySink> Receive(HttpResponse& res, const std::string& tempName,
                                          const std::string& shownName, std::function<Answer()> keep) {
        auto receiver = std::make_unique<Receiver>(*this, tempName, shownName, std::move(keep));
        if (const Answer a = receiver->Open(); a.status != 200) {
            Send(res, a);
            return nullptr;
        }
        return receiver;
    }

    // A recording made in the page: kept as a voice message in "Custom", as the
    // recorder dialog's Save does, and added to the voice list.
    std::unique_ptr<HttpBodySink> Recording(const HttpRequest& req, HttpResponse& res) {
        if (!Allowed(req, res, true)) return nullptr;
        const std::string name = req.matches[1];
        if (!IsValidMessageName(name)) {
            Send(res, Error(400, "The voice message cannot be saved with that filename."));
            return nullptr;
        }
        if (!StaysInSoundsFolder(StoredTrackName(false, "Custom", ""))) {
            Send(res, Error(403, "the category Custom leads out of sounds/"));
            return nullptr;
        }
        const std::string tempName = ".recording-" + RandomToken().substr(0, 16) + ".wav";
        return Receive(res, tempName, name + ".wav", [this, tempName, name] {
            return OnMain([this, tempName, name] {
                std::string stored, why;
                switch (SaveVoiceMessage(tempName, name, stored, why)) {
                    case MessageSaved::BadName:
                        return Error(400, "The voice message cannot be saved with that filename.");
                    case MessageSaved::Exists:
                        return Error(409, "A voice message with that name already exists.");
                    case MessageSaved::Failed:
                        return Error(507, "The voice message could not be saved (" + why + ").");
                    case MessageSaved::Ok:
                        break;
                }
                Log("status - web console: recorded %s", stored.c_str());
                Answer added = Edit(player, clock.Now(), false, "add",
                                    QJsonObject{{"names", QJsonArray{QString::fromStdString(stored)}}});
                if (added.status == 200) added.status = 201;
                added.body["name"] = QString::fromStdString(stored);
                return added;
            });
        });
    }

    std::unique_ptr<HttpBodySink> Upload(const HttpRequest& req, HttpResponse& res) {
        if (!Allowed(req, res, true)) return nullptr;
        const bool isMusic = req.matches[1] == "music";
        const std::string category = req.matches[2], name = req.matches[3];
        auto refuse = [&res](const Answer& a) {
            Send(res, a);
            return nullptr;
        };
        std::string why;
        if (!GoodFileName(name, why)) return refuse(Error(400, why));
        const Answer known = OnMain([isMusic, category] { return KnownCategory(isMusic, category); });
        if (known.status != 200) return refuse(known);
        // "X-Replace: yes": a file of that name is replaced (the lists keep it).
        const bool replace = req.Header("X-Replace") == "yes";
        const std::string stored = StoredTrackName(isMusic, category, name);
        if (stored.size() > 255) return refuse(Error(400, "the stored name is too long"));
        // Streamed into a hidden file beside its place, then linked into it.
        const std::string lower = AsciiLower(name);
        const std::string tempName = StoredTrackName(
            isMusic, category, ".upload-" + RandomToken().substr(0, 16) + lower.substr(lower.size() - 4));
        return Receive(res, tempName, stored, [tempName, stored, replace] {
            std::string why;
            if (replace) {
                if (::rename(NativePath(tempName).c_str(), NativePath(stored).c_str()) != 0)
                    return Error(500, std::string("cannot replace it: ") + std::strerror(errno));
                Log("status - web console: replaced %s", stored.c_str());
                return Answer{200, QJsonObject{{"name", QString::fromStdString(stored)}}};
            }
            switch (LinkIntoPlace(tempName, stored, why)) {
                case Imported::Ok:
                    break;
                case Imported::Exists:
                    return Error(409, "a file of that name is there");
                default:
                    return Error(500, why);
            }
            Log("status - web console: stored %s", stored.c_str());
            return Answer{201, QJsonObject{{"name", QString::fromStdString(stored)}}};
        });
    }
    // All that can be judged from a request's line and headers, before a byte of
    // its body is read: the name it was sent to, its body's size, the session.
    // True when it was answered.
    bool AnsweredFromHeaders(const HttpRequest& req, HttpResponse& res) {
        auto refuse = [&res](const Answer& answer) {
            Send(res, answer);
            return true;
        };
        if (!HostAllowed(req.Header("Host"), options))
            return refuse(Error(421, "this console is not reached by that name; add it to "
                                     "web-host in tonewell.conf"));
        // Uploads are streamed to a file once the session is known; every other
        // body is small JSON with a length given.
        const bool upload =
            req.path.rfind("/api/upload/", 0) == 0 || req.path.rfind("/api/recording/", 0) == 0;
        const bool login = req.path == "/api/login";
        if (upload && !Allowed(req, res, true)) return true;
        if (!upload && !req.Header("Transfer-Encoding").empty())
            return refuse(Error(411, "send the body with a Content-Length"));
        const uint64_t most = upload ? options.uploadLimit : login ? kMostLoginBody : kMostJsonBody;
        const std::string length = req.Header("Content-Length");
        if (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > most)
            return refuse(upload ? Error(413, "the file is larger than the " +
                                                  std::to_string(most / (1024 * 1024)) +
                                                  " MB an upload may be")
                                 : Error(413, "a request body here is at most " +
                                                  std::to_string(most / 1024) + " KB"));
        return !upload && !login && req.path.rfind("/api/", 0) == 0 &&
               !Allowed(req, res, req.method != "GET" && req.method != "HEAD");
    }

    void Routes() {
        HttpServer& s = server;
        // Before any body is read: a request without a session or token, or with a
        // body over its limit, is answered at once; an upload is never stored, not
        // even in part.
        s.beforeBody = [this](const HttpRequest& req, HttpResponse& res) { return AnsweredFromHeaders(req, res); };
        // Every answer: never sniffed into another type, HTTPS remembered.
        s.everyAnswer = [this](HttpResponse& res) {
            res.SetHeader("X-Content-Type-Options", "nosniff");
            if (tls) res.SetHeader("Strict-Transport-Security", "max-age=31536000");
        };
        // The page, its script and its style: files of their own, so that the
        // page's policy allows no inline script or style at all.
        for (const auto& [path, file, type] :
             {std::tuple<const char*, const char*, const char*>{"/", "index.html", "text/html; charset=utf-8"},
              {"/console.js", "console.js", "text/javascript; charset=utf-8"},
              {"/console.css", "console.css", "text/css; charset=utf-8"}}) {
            s.Get(path, [file = std::string(file), type = std::string(type)](const HttpRequest&,
                                                                              HttpResponse& res) {
                QFile page(QStringLiteral(":/tonewell/web/") + QString::fromStdString(file));
                page.open(QIODevice::ReadOnly);
                res.SetHeader("Cache-Control", "no-store");
                res.SetHeader("Content-Security-Policy",
                               "default-src 'self'; media-src 'self' blob:; frame-ancestors 'none'");
                res.SetHeader("X-Frame-Options", "DENY");
                res.SetContent(page.readAll().toStdString(), type.c_str());
            });
        }
        s.Post("/api/login", [this](const HttpRequest& req, HttpResponse& res) { Login(req, res); });
        // The session's token, so that any tab of a session may make changes.
        s.Get("/api/session", [this](const HttpRequest& req, HttpResponse& res) {
            const std::string csrf = SessionOf(req);
            if (csrf.empty()) return Send(res, Error(401, "log in first"));
            Send(res, {200, QJsonObject{{"csrf", QString::fromStdString(csrf)}}});
        });
        s.Post("/api/password", [this](const HttpRequest& req, HttpResponse& res) { ChangePassword(req, res); });
        s.Post("/api/logout", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, true)) return;
            std::lock_guard<std::mutex> hold(lock);
            sessions.erase(CookieValue(req, port));
            Send(res, {});
        });
        s.Get("/api/status", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, false)) return;
            Send(res, OnMain([this] {
                return StatusAnswer(player, std::chrono::duration_cast<std::chrono::seconds>(
                                                Steady::now() - started).count());
            }));
        });
        s.Post("/api/playback", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, true)) return;
            const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
            if (!body["play"].isBool()) return Send(res, Error(400, "send {\"play\": true or false}"));
            const bool play = body["play"].toBool();
            Send(res, OnMain([this, play] {
                if (player.isPlaying() != play || (play && player.neverStarted())) player.TogglePlayback();
                return Answer{200, QJsonObject{{"playing", player.isPlaying()}}};
            }));
        });
        s.Get("/api/lists", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, false)) return;
            Send(res, OnMain([this] { return Answer{200, {}, ViewLists(player, clock.Now())}; }));
        });
        s.Post(R"(/api/lists/(music|voice)/(\w+))", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, true)) return;
            QJsonParseError parsed{};
            const QJsonDocument doc =
                QJsonDocument::fromJson(QByteArray::fromStdString(req.body.empty() ? "{}" : req.body), &parsed);
            if (parsed.error != QJsonParseError::NoError || !doc.isObject())
                return Send(res, Error(400, "the body is not a JSON object"));
            const bool isMusic = req.matches[1] == "music";
            const std::string action = req.matches[2];
            // An add's files are looked at here, not on the main thread: ten
            // thousand of them take a while.
            bool checked = false;
            if (action == "add" && doc.object()["names"].isArray()) {
                std::vector<std::string> names;
                for (const QJsonValue& v : doc.object()["names"].toArray())
                    names.push_back(v.toString().toStdString());
                std::string why;
                if (names.size() > kMaxListTracks)
                    return Send(res, Error(413, "a list holds at most " + std::to_string(kMaxListTracks) +
                                                    " tracks"));
                if (!names.empty() && !ListsEditor::CheckNames(isMusic, names, why))
                    return Send(res, Error(400, why));
                checked = true;
            }
            Send(res, OnMain([this, isMusic, action, checked, body = doc.object()] {
                return Edit(player, clock.Now(), isMusic, action, body, checked);
            }));
        });
        // What callers hear, as an MP3 stream: the finished mix, tapped after the
        // mixer, encoded by the stream output's encoder on this connection's thread.
        s.Get("/api/listen", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, false)) return;
            if (!mixer) return Send(res, Error(503, "there is no sound device to listen to"));
            const int rate = mixer->outputRate();
            std::string why;
            std::shared_ptr<StreamEncoder> encoder = StreamEncoder::Make("mp3", rate, 2, 128, why);
            if (!encoder) return Send(res, Error(500, why));
            auto tap = std::make_shared<MixTap>(static_cast<size_t>(rate) * 4);
            if (!mixer->AddTap(tap.get())) return Send(res, Error(429, "four people listen already"));
            res.SetHeader("Cache-Control", "no-store");
            // The encoder's bytes for a block of the mix may be more than one
            // piece of the answer takes.
            auto pending = std::make_shared<std::string>();
            res.stream = [this, tap, encoder, pending, socket = req.socket](char* to, size_t most) -> ssize_t {
                constexpr int kFrames = 4096;
                float floats[2 * kFrames];
                int16_t pcm[2 * kFrames];
                for (int idle = 0; pending->empty() && *alive;) {
                    const int n = tap->Read(floats, kFrames);
                    if (n == 0) {
                        // Nothing plays (paused, or the output rests): keep the
                        // connection, and notice a listener who left.
                        if (++idle % 25 == 0 && PeerLeft(socket)) return -1;
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        continue;
                    }
                    for (int i = 0; i < 2 * n; ++i)
                        pcm[i] = static_cast<int16_t>(std::lround(floats[i] * 32767.0f));
                    if (!encoder->Encode(pcm, n, *pending)) return -1;
                }
                if (!*alive) return -1;
                const size_t n = std::min(most, pending->size());
                std::memcpy(to, pending->data(), n);
                pending->erase(0, n);
                return static_cast<ssize_t>(n);
            };
            res.streamEnded = [this, tap] { mixer->RemoveTap(tap.get()); };
        });
        s.Get("/api/log", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, false)) return;
            QJsonArray lines;  // newest first
            const std::vector<AdminLine> record = AdminRecord();
            for (auto it = record.rbegin(); it != record.rend(); ++it)
                lines.append(QJsonObject{{"time", QString::fromStdString(it->time)},
                                         {"kind", QString::fromStdString(it->kind)},
                                         {"text", QString::fromStdString(it->text)}});
            Send(res, {200, QJsonObject{{"lines", lines}}});
        });
        s.Get("/api/settings", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, false)) return;
            Send(res, OnMain([this] {
                return SettingsAnswer(player, options.address + ":" + std::to_string(port), tls);
            }));
        });
        // What Settings may change on a box with no desktop: whether playing starts
        // at start, and loudness levelling (from the next sound loaded).
        s.Post("/api/settings", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, true)) return;
            QJsonParseError parsed{};
            const QJsonObject body =
                QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &parsed).object();
            if (parsed.error != QJsonParseError::NoError)
                return Send(res, Error(400, "the body is not a JSON object"));
            for (const char* key : {"start_playing", "loudness"})
                if (body.contains(key) && !body[key].isBool())
                    return Send(res, Error(400, std::string(key) + " is true or false"));
            Send(res, OnMain([this, body] { return ChangeSettings(player, body); }));
        });
        s.Get("/api/sounds", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, false)) return;
            Send(res, OnMain([] { return SoundsAnswer(); }));
        });
        // The sounds folder: a new category, a file deleted or renamed.
        s.Post(R"(/api/sounds/(music|voice)/(category|delete|rename))", [this](const HttpRequest& req,
                                                                               HttpResponse& res) {
            if (!Allowed(req, res, true)) return;
            const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
            const bool isMusic = req.matches[1] == "music";
            const std::string action = req.matches[2];
            auto text = [&body](const char* key) { return body[key].toString().toStdString(); };
            const std::string category = text("category"), file = text("file"), to = text("to"),
                              name = text("name");
            const bool takeOut = body["take_out"].toBool();
            Send(res, OnMain([=, this] {
                if (action == "category") return MakeCategory(isMusic, name);
                if (action == "delete") return DeleteSound(player, clock.Now(), isMusic, category, file, takeOut);
                return RenameSound(player, clock.Now(), isMusic, category, file, to, takeOut);
            }));
        });
        // A sound file for the page to play back: the file as it is.
        s.Get(R"(/api/sound/(music|voice)/([^/]+)/([^/]+))", [this](const HttpRequest& req, HttpResponse& res) {
            if (!Allowed(req, res, false)) return;
            const bool isMusic = req.matches[1] == "music";
            const std::string category = req.matches[2], file = req.matches[3];
            std::string stored;
            if (const Answer place = PlaceOf(isMusic, category, file, stored); place.status != 200)
                return Send(res, place.status == 400 ? place : Error(404, "no such file: " + stored));
            const int fd = OpenRegularFile(NativePath(stored));
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0) {
                if (fd >= 0) ::close(fd);
                return Send(res, Error(404, "no such file: " + stored));
            }
            res.SetHeader("Cache-Control", "no-store");
            res.type = AsciiLower(file).ends_with(".mp3") ? "audio/mpeg" : "audio/wav";
            res.streamSize = static_cast<uint64_t>(st.st_size);
            res.stream = [fd](char* to, size_t most) -> ssize_t { return ::read(fd, to, most); };
            res.streamEnded = [fd] { ::close(fd); };
        });
        s.Put(R"(/api/recording/([^/]+))",
              [this](const HttpRequest& req, HttpResponse& res) { return Recording(req, res); });
        s.Put(R"(/api/upload/(music|voice)/([^/]+)/([^/]+))",
              [this](const HttpRequest& req, HttpResponse& res) { return Upload(req, res); });
    }

    WebOptions options;
    OnHoldPlayer& player;
    Mixer* mixer = player.device() ? &player.device()->mixer() : nullptr;  // lives as long as the player
    SystemClock clock;
    HttpServer server;
    bool tls = false;
    bool listening = false;
    int port = 0;
    std::string problem;
    Steady::time_point started = Steady::now();
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
    std::mutex lock;
    std::map<std::string, std::pair<std::string, Steady::time_point>> sessions;  // token -> csrf, login
    FileStamp passwordStamp;  // the web.passwd the sessions were made under
    LoginLimits limits;
};

WebServer::WebServer(const WebOptions& options, OnHoldPlayer& player)
    : impl_(std::make_unique<Impl>(options, player)) {
    Impl& i = *impl_;
    if (!HasWebPassword()) {
        i.problem = "the web console has no password: set one with tonewell --set-web-password";
        return;
    }
    if (const std::string unsafe = WebPasswordFileProblem(); !unsafe.empty()) {
        i.problem = "the web console is off: " + unsafe;
        return;
    }
    i.tls = !options.certFile.empty() || !options.keyFile.empty();
    // What is read whole is small JSON; uploads are streamed to a file.
    i.server.mostBody = kMostJsonBody;
    i.Routes();
    std::string why;
    if (!i.server.Listen(options.address, options.port, options.certFile, options.keyFile, why)) {
        i.problem = why.find("certificate") != std::string::npos
                        ? why
                        : "the web console cannot listen on " + options.address + ":" +
                              std::to_string(options.port) + " (" + why + ")";
        return;
    }
    i.port = i.server.port();
    i.listening = true;
    // The admin's record: the journal keeps it under systemd (with the log on),
    // else "admin.log" here; the page shows it either way.
    StartAdminRecord(std::getenv("JOURNAL_STREAM") && LogEnabled() ? "" : "admin.log");
    const bool loopback = options.address == "127.0.0.1" || options.address == "::1" ||
                          options.address == "localhost";
    Log("status - web console on %s://%s:%d", i.tls ? "https" : "http", options.address.c_str(), i.port);
    if (!loopback && !i.tls)
        Log("error - the web console listens beyond this machine without TLS: its password "
            "crosses the network in clear; set web-cert and web-key, or use an SSH tunnel");
}

WebServer::~WebServer() {
    *impl_->alive = false;
    impl_->server.Stop();
}

bool WebServer::started() const {
    return impl_->listening;
}
const std::string& WebServer::problem() const {
    return impl_->problem;
}
int WebServer::port() const {
    return impl_->port;
}

}  // namespace tw

namespace tw {

std::unique_ptr<WebServer> StartWebConsole(const WebOptions& options, OnHoldPlayer& player,
                                           MessageBox& boxes) {
    auto server = std::make_unique<WebServer>(options, player);
    if (server->started()) return server;
    Log("error - %s", server->problem().c_str());
    boxes.Show("Tonewell plays on without its web console: " + server->problem() + ".", "Tonewell");
    return nullptr;
}

}  // namespace tw
