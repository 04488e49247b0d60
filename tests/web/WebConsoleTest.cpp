// The web console over real HTTP, against a running headless Tonewell: its
// security rules and what reaches the player.

#include <gtest/gtest.h>
#include <httplib.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "Process.h"
#include "TempFolder.h"
#include "Wav.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using tw::test::Process;
using tw::test::ReadText;

QJsonObject Json(const httplib::Result& r) {
    return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object() : QJsonObject{};
}

int Status(const httplib::Result& r) {
    return r ? r->status : -1;
}

// Sets the password through standard input, as a script would.
int SetPassword(const std::string& password) {
    const std::string cmd = "printf '%s\\n' '" + password + "' | " + TONEWELL_EXE +
                            " --set-web-password 2>/dev/null";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class WebConsole : public tw::test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        tw::test::WriteSongAndMessage(30);
    }
    // The player with its console; `outFd` given, the mix goes to it as the pipe.
    void Start(int outFd = -1) {
        port = tw::test::FreePort();
        tonewell = std::make_unique<Process>(
            std::vector<std::string>{"--headless", "--output", outFd < 0 ? "null" : "pipe", "--log",
                                     "--web", "127.0.0.1:" + std::to_string(port)},
            "err.txt", outFd);
        for (int i = 0; i < 100 && !tw::test::Accepts(port); ++i) std::this_thread::sleep_for(50ms);
        client = std::make_unique<httplib::Client>("127.0.0.1", port);
        client->set_read_timeout(20, 0);
    }
    void TearDown() override {
        if (tonewell) {
            tonewell->Signal(SIGTERM);
            EXPECT_EQ(tonewell->Wait(5s), 0) << ReadText("err.txt");
        }
        client.reset();
        tonewell.reset();
        TempFolderTest::TearDown();
    }
    // Logs in; the CSRF token.
    std::string Login(const std::string& password = "s3cret pass") {
        const auto r = client->Post("/api/login", "{\"password\": \"" + password + "\"}",
                                    "application/json");
        if (Status(r) != 200) return "";
        const std::string cookie = r->get_header_value("Set-Cookie");
        headers = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
        return Json(r)["csrf"].toString().toStdString();
    }
    httplib::Result Change(const std::string& path, const std::string& body, const std::string& csrf) {
        httplib::Headers h = headers;
        h.emplace("X-CSRF-Token", csrf);
        return client->Post(path.c_str(), h, body, "application/json");
    }
    httplib::Result Upload(const std::string& path, const std::string& bytes, const std::string& csrf) {
        httplib::Headers h = headers;
        h.emplace("X-CSRF-Token", csrf);
        return client->Put(path.c_str(), h, bytes, "application/octet-stream");
    }

    int port = 0;
    std::unique_ptr<Process> tonewell;
    std::unique_ptr<httplib::Client> client;
    httplib::Headers headers;
};

}  // namespace

// The console is an admin console: a stored slow hash, sessions by cookie, a CSRF
// token on every change, five failures a minute, and no secret in any log line.
TEST_F(WebConsole, PasswordSessionsTokensAndLoginLimits) {
    // Without a password the console does not start, says how, and music plays.
    Start();
    std::this_thread::sleep_for(3s);
    EXPECT_FALSE(tw::test::Accepts(port));
    EXPECT_NE(ReadText("err.txt").find("the web console has no password: set one with tonewell "
                                       "--set-web-password"),
              std::string::npos);
    EXPECT_NE(ReadText("err.txt").find("status - play music T\\a.wav"), std::string::npos);
    tonewell->Signal(SIGTERM);
    ASSERT_EQ(tonewell->Wait(5s), 0);

    EXPECT_EQ(SetPassword(""), 2);
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    struct stat st {};
    ASSERT_EQ(stat("web.passwd", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadText("web.passwd").find("s3cret"), std::string::npos);
    EXPECT_EQ(ReadText("web.passwd").rfind("$argon2id$", 0), 0u);

    Start();
    const auto page = client->Get("/");
    ASSERT_EQ(Status(page), 200);
    EXPECT_NE(page->body.find("<form id=\"login-form\">"), std::string::npos);
    // No inline script or style is allowed, nothing is sniffed, and a name that is
    // not this console's (DNS rebinding) reaches nothing.
    EXPECT_EQ(page->get_header_value("Content-Security-Policy").find("unsafe-inline"),
              std::string::npos);
    EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(client->Get("/console.js")->get_header_value("Content-Type"),
              "text/javascript; charset=utf-8");
    EXPECT_EQ(Status(client->Get("/api/status", {{"Host", "rebind.example:8080"}})), 421);
    EXPECT_EQ(Status(client->Get("/", {{"Host", "localhost"}})), 200);
    EXPECT_EQ(Status(client->Get("/api/status")), 401);
    EXPECT_EQ(Status(client->Get("/api/lists")), 401);
    const std::string csrf = Login();
    ASSERT_FALSE(csrf.empty());
    const std::string cookie = headers.begin()->second;
    EXPECT_NE(cookie.find("tw_session_" + std::to_string(port) + "="), std::string::npos);
    std::this_thread::sleep_for(2500ms);  // the first song has started
    const QJsonObject status = Json(client->Get("/api/status", headers));
    EXPECT_EQ(status["state"].toString(), "playing");
    EXPECT_EQ(status["music"].toString(), "T\\a.wav");
    EXPECT_TRUE(status["voice"].isNull());
    EXPECT_GT(status["next_message_in"].toInt(), 20);
    EXPECT_EQ(status["status"].toString().left(16), "Playing T\\a.wav ");
    EXPECT_EQ(status["output"].toString(), "null: real time into nothing");
    // How far the song has played, of how long it is.
    EXPECT_EQ(status["music_length"].toInt(), 60);
    EXPECT_GE(status["music_played"].toInt(), 0);
    EXPECT_LE(status["music_played"].toInt(), 3);
    EXPECT_TRUE(status["voice_played"].isNull());
    {
        // The admin's record: the login, newest first, and no automaton state.
        const QJsonArray lines = Json(client->Get("/api/log", headers))["lines"].toArray();
        ASSERT_GE(lines.size(), 1);
        EXPECT_EQ(lines[0].toObject()["kind"].toString(), "login");
        EXPECT_TRUE(lines[0].toObject()["text"].toString().startsWith("status - web console: logged in"));
        for (const QJsonValue& l : lines) EXPECT_FALSE(l.toObject()["text"].toString().startsWith("FSA"));
    }
    EXPECT_FALSE(Json(client->Get("/api/settings", headers))["loudness"].toBool());
    // Listening in: an MP3 stream of the mix, in which the song is heard.
    {
        std::string mp3;
        client->Get("/api/listen", headers, [&mp3](const char* data, size_t length) {
            mp3.append(data, length);
            return mp3.size() < 48000;  // 3 s at 128 kb/s
        });
        tw::test::WriteText("heard.mp3", mp3);
        ASSERT_EQ(std::system("ffmpeg -nostdin -loglevel error -y -i heard.mp3 -ac 1 -ar 8000 "
                              "-f s16le heard.raw"),
                  0);
        const std::string raw = ReadText("heard.raw");
        std::vector<float> heard(raw.size() / 2);
        for (size_t i = 0; i < heard.size(); ++i)
            heard[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) |
                                            static_cast<uint8_t>(raw[2 * i + 1]) << 8) / 32768.0f;
        ASSERT_GT(heard.size(), 8000u);
        EXPECT_GT(tw::test::ToneMagnitude(heard, 8000, 440),
                  10 * tw::test::ToneMagnitude(heard, 8000, 600));
    }
    // A change without the token, or with another, is refused; with it, done.
    EXPECT_EQ(Status(client->Post("/api/playback", headers, "{\"play\": false}", "application/json")),
              403);
    EXPECT_EQ(Status(Change("/api/playback", "{\"play\": false}", csrf + "0")), 403);
    EXPECT_EQ(Status(Change("/api/playback", "{\"play\": false}", csrf)), 200);
    EXPECT_EQ(Json(client->Get("/api/status", headers))["state"].toString(), "paused");
    EXPECT_EQ(Status(Change("/api/playback", "{\"play\": true}", csrf)), 200);
    // Five wrong passwords a minute from one address, then 429 even for the right one.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Login("guess " + std::to_string(i)), "");
    const auto limited =
        client->Post("/api/login", "{\"password\": \"s3cret pass\"}", "application/json");
    EXPECT_EQ(Status(limited), 429);
    // The session that was open goes on; after logging out it is gone.
    EXPECT_EQ(Status(client->Get("/api/status", headers)), 200);
    EXPECT_EQ(Status(Change("/api/logout", "", csrf)), 200);
    EXPECT_EQ(Status(client->Get("/api/status", headers)), 401);
    const std::string log = ReadText("err.txt");
    EXPECT_NE(log.find("error - web console: too many failed logins from 127.0.0.1"),
              std::string::npos);
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(log.find("guess"), std::string::npos);
    EXPECT_EQ(log.find(csrf), std::string::npos);
}

// Uploads are checked by the player's loader and stored whole or not at all;
// list edits reach "audio.cfg" and the player; a save over a newer version, and
// values the window would never send, are refused.
TEST_F(WebConsole, UploadsAndEditsReachThePlayerAndBadInputIsRefused) {
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    Start();
    const std::string csrf = Login();
    ASSERT_FALSE(csrf.empty());
    auto files = [] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator("sounds/Music Tracks/T"))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    tw::test::WriteTone("new.wav", 2, 660, 44100, 2, 0.5);
    const auto stored = Upload("/api/upload/music/T/New%20song.wav", ReadText("new.wav"), csrf);
    ASSERT_EQ(Status(stored), 201) << (stored ? stored->body : "");
    EXPECT_EQ(Json(stored)["name"].toString(), "sounds\\Music Tracks\\T\\New song.wav");
    {
        // Each listed track says how long it plays, from its own headers.
        const QJsonArray music = Json(client->Get("/api/lists", headers))["music"].toArray();
        ASSERT_EQ(music.size(), 1);
        EXPECT_EQ(music[0].toObject()["seconds"].toInt(), 60);
    }
    EXPECT_EQ(Status(Upload("/api/upload/music/T/New%20song.wav", ReadText("new.wav"), csrf)), 409);
    const auto text = Upload("/api/upload/music/T/notes.wav", "this is not a sound", csrf);
    EXPECT_EQ(Status(text), 422);
    EXPECT_EQ(Json(text)["error"].toString(),
              "Unsupported audio format (sounds\\Music Tracks\\T\\notes.wav): WAV in PCM 8-32 bit, float, u-law or A-law; MP3");
    EXPECT_EQ(Status(Upload("/api/upload/music/T/bad.mp3", std::string(5000, '\x55'), csrf)), 422);
    EXPECT_EQ(Status(Upload("/api/upload/music/Nowhere/x.wav", ReadText("new.wav"), csrf)), 404);
    EXPECT_GE(Status(Upload("/api/upload/music/T/..%2F..%2Fx.wav", ReadText("new.wav"), csrf)), 400);
    EXPECT_EQ(Status(Upload("/api/upload/music/T/x.exe", ReadText("new.wav"), csrf)), 400);
    EXPECT_EQ(Status(Upload("/api/upload/music/T/x.wav", ReadText("new.wav"), "")), 403);
    {
        httplib::Headers h = headers;
        h.emplace("X-CSRF-Token", csrf);
        h.emplace("Content-Length", "2147483648");
        // A claimed 2 GB is answered before any of it is read.
        const auto big = client->Put("/api/upload/music/T/big.wav", h, "abc", "audio/wav");
        EXPECT_EQ(Status(big), 413);
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"New song.wav", "a.wav"}));
    // Links out of sounds/: a category that is one takes no upload and is not
    // listed, and a file that is one cannot be added.
    fs::create_directories("outside");
    fs::create_directory_symlink("../../outside", "sounds/Music Tracks/Out");
    fs::create_symlink("/etc/hostname", "sounds/Music Tracks/T/host.wav");
    EXPECT_EQ(Status(Upload("/api/upload/music/Out/x.wav", ReadText("new.wav"), csrf)), 403);
    EXPECT_TRUE(fs::is_empty("outside"));
    const QJsonObject listed = Json(client->Get("/api/sounds", headers))["music"].toObject();
    EXPECT_FALSE(listed.contains("Out"));
    for (const QJsonValue& f : listed["T"].toArray())
        EXPECT_NE(f.toObject()["file"].toString(), "host.wav");
    EXPECT_EQ(Status(Change("/api/lists/music/add",
                            "{\"names\": [\"sounds\\\\Music Tracks\\\\T\\\\host.wav\"]}", csrf)),
              400);
    fs::remove("sounds/Music Tracks/T/host.wav");

    // Add it: "audio.cfg" has it, and the new cycle plays it (the list's order).
    QJsonObject lists = Json(client->Get("/api/lists", headers));
    const std::string version = lists["version"].toString().toStdString();
    const auto added = Change("/api/lists/music/add",
                              "{\"names\": [\"sounds\\\\Music Tracks\\\\T\\\\New song.wav\"], "
                              "\"version\": \"" + version + "\"}",
                              csrf);
    ASSERT_EQ(Status(added), 200) << (added ? added->body : "");
    EXPECT_NE(ReadText("audio.cfg").find("sounds\\Music Tracks\\T\\New song.wav\n"),
              std::string::npos);
    lists = Json(added);
    ASSERT_EQ(lists["music"].toArray().size(), 2);
    EXPECT_EQ(lists["music"].toArray()[1].toObject()["name"].toString(),
              "sounds\\Music Tracks\\T\\New song.wav");
    // A page that still holds the older version is refused, and nothing is lost.
    const auto stale = Change("/api/lists/music/clear", "{\"version\": \"" + version + "\"}", csrf);
    EXPECT_EQ(Status(stale), 409);
    EXPECT_EQ(Json(stale)["error"].toString(),
              "The lists were changed elsewhere; reload to see them");
    // A schedule, and the coverage it leaves; then what the window never sends.
    const auto scheduled = Change(
        "/api/lists/music/schedule",
        "{\"rows\": [0, 1], \"time\": {\"on\": true, \"from\": \"09:00\", \"to\": \"17:00\"}}", csrf);
    ASSERT_EQ(Status(scheduled), 200) << (scheduled ? scheduled->body : "");
    EXPECT_EQ(Json(scheduled)["music_settings"].toObject()["coverage"].toString(),
              "No music after 17:00 until 09:00 every day.");
    EXPECT_NE(ReadText("audio.cfg").find("true 9 0 0 17 0 0"), std::string::npos);
    for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
             {"/api/lists/music/schedule",
              "{\"rows\": [0], \"date\": {\"on\": true, \"from\": \"2027-02-31\", \"to\": "
              "\"2027-03-02\"}}"},
             {"/api/lists/music/settings", "{\"volume\": 11}"},
             {"/api/lists/music/move", "{\"row\": 5, \"step\": -1}"},
             {"/api/lists/music/settings", "{\"volume\": "},
             {"/api/lists/music/add", "{\"names\": [\"..\\\\..\\\\etc\\\\passwd\"]}"},
             {"/api/lists/voice/add",
              "{\"names\": [\"sounds\\\\Voice Messages\\\\V\\\\m.wav\\u0000x\"]}"},
             {"/api/lists/voice/add",
              "{\"names\": [\"sounds\\\\Voice Messages\\\\V\\\\m.wav\\nx\"]}"}})
        EXPECT_EQ(Status(Change(path, body, csrf)), 400) << path << " " << body;
    {
        // More names than a list holds: refused before any is looked at.
        std::string many = "{\"names\": [";
        for (int i = 0; i <= 10000; ++i) many += std::string(i ? "," : "") + "\"x\"";
        EXPECT_EQ(Status(Change("/api/lists/music/add", many + "]}", csrf)), 413);
    }
    EXPECT_NE(ReadText("audio.cfg").find("sounds\\Music Tracks\\T\\New song.wav\n"),
              std::string::npos);
    // Settings: levelling on, kept in a private tonewell.conf; nonsense refused.
    EXPECT_EQ(Status(Change("/api/settings", "{\"loudness\": \"yes\"}", csrf)), 400);
    ASSERT_EQ(Status(Change("/api/settings", "{\"loudness\": true}", csrf)), 200);
    EXPECT_NE(ReadText("tonewell.conf").find("loudness = on"), std::string::npos);
    EXPECT_EQ(fs::status("tonewell.conf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(Json(client->Get("/api/settings", headers))["loudness"].toBool());
    // The sounds tree shows what was uploaded.
    const QJsonObject sounds = Json(client->Get("/api/sounds", headers));
    EXPECT_EQ(sounds["music"].toObject()["T"].toArray().size(), 2);
    // The sounds folder from the page: a file heard as it is, a category made, a
    // file replaced, renamed and deleted; one in a list only once the admin agrees
    // that the list loses it.
    const auto heard = client->Get("/api/sound/music/T/a.wav", headers);
    ASSERT_EQ(Status(heard), 200);
    EXPECT_EQ(heard->body, ReadText("sounds/Music Tracks/T/a.wav"));
    EXPECT_EQ(heard->get_header_value("Content-Type"), "audio/wav");
    EXPECT_GE(Status(client->Get("/api/sound/music/T/..%2Fx.wav", headers)), 400);
    EXPECT_EQ(Status(Change("/api/sounds/music/category", R"({"name": "Jazz"})", csrf)), 201);
    EXPECT_TRUE(fs::is_directory("sounds/Music Tracks/Jazz"));
    EXPECT_EQ(Status(Change("/api/sounds/music/category", R"({"name": "Jazz"})", csrf)), 409);
    EXPECT_EQ(Status(Change("/api/sounds/music/category", R"({"name": "../x"})", csrf)), 400);
    tw::test::WriteTone("other.wav", 3, 330, 44100, 2, 0.5);
    {
        httplib::Headers h = headers;
        h.emplace("X-CSRF-Token", csrf);
        h.emplace("X-Replace", "yes");
        EXPECT_EQ(Status(client->Put("/api/upload/music/T/New%20song.wav", h, ReadText("other.wav"),
                                     "application/octet-stream")),
                  200);
    }
    EXPECT_EQ(ReadText("sounds/Music Tracks/T/New song.wav"), ReadText("other.wav"));
    const std::string rename = R"({"category": "T", "file": "New song.wav", "to": "Renamed.wav")";
    EXPECT_EQ(Status(Change("/api/sounds/music/rename", rename + "}", csrf)), 409);  // in the list
    EXPECT_EQ(Status(Change("/api/sounds/music/rename",
                            R"({"category": "T", "file": "New song.wav", "to": "Renamed.mp3", "take_out": true})", csrf)),
              400);  // the type stays
    const auto renamed = Change("/api/sounds/music/rename", rename + R"(, "take_out": true})", csrf);
    ASSERT_EQ(Status(renamed), 200) << (renamed ? renamed->body : "");
    EXPECT_TRUE(fs::exists("sounds/Music Tracks/T/Renamed.wav"));
    EXPECT_EQ(ReadText("audio.cfg").find("New song.wav"), std::string::npos);
    EXPECT_EQ(Status(Change("/api/sounds/music/delete", R"({"category": "T", "file": "Renamed.wav"})", csrf)), 200);
    EXPECT_FALSE(fs::exists("sounds/Music Tracks/T/Renamed.wav"));
    EXPECT_EQ(Status(Change("/api/sounds/music/delete", R"({"category": "T", "file": "a.wav"})", csrf)), 409);
    EXPECT_TRUE(fs::exists("sounds/Music Tracks/T/a.wav"));

    // Edits are recorded with what changed, in admin.log too, and a restart
    // reads the record back.
    const std::string said = "status - web console: scheduled 2 tracks of the music list: every day, "
                             "09:00 to 17:00";
    EXPECT_NE(ReadText("err.txt").find(said), std::string::npos) << ReadText("err.txt");
    EXPECT_NE(ReadText("admin.log").find(" edit " + said), std::string::npos) << ReadText("admin.log");
    EXPECT_NE(ReadText("admin.log").find(" upload status - web console: stored sounds\\Music Tracks\\T\\New song.wav"),
              std::string::npos);
    EXPECT_EQ(ReadText("admin.log").find("FSA"), std::string::npos);
    tonewell->Signal(SIGTERM);
    ASSERT_EQ(tonewell->Wait(5s), 0);
    Start();
    ASSERT_FALSE(Login().empty());
    bool kept = false;
    for (const QJsonValue& l : Json(client->Get("/api/log", headers))["lines"].toArray())
        kept |= l.toObject()["text"].toString().toStdString() == said;
    EXPECT_TRUE(kept);
}

// With a certificate and key in tonewell.conf the console speaks HTTPS only, and its
// session cookie is marked Secure.
TEST_F(WebConsole, HttpsWithACertificate) {
    ASSERT_EQ(std::system("openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                          "-days 2 -subj /CN=127.0.0.1 >/dev/null 2>&1"),
              0);
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    tw::test::WriteText("tonewell.conf", "web-cert = cert.pem\nweb-key = key.pem\n");
    Start();
    httplib::SSLClient tls("127.0.0.1", port);
    tls.enable_server_certificate_verification(false);
    const auto page = tls.Get("/");
    ASSERT_EQ(Status(page), 200);
    const auto login =
        tls.Post("/api/login", "{\"password\": \"s3cret pass\"}", "application/json");
    ASSERT_EQ(Status(login), 200);
    EXPECT_NE(login->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
    EXPECT_EQ(login->get_header_value("Strict-Transport-Security"), "max-age=31536000");
    // TLS 1.2 only with ECDHE and AEAD: static RSA, CBC and TLS 1.1 are refused.
    auto handshake = [this](const std::string& options) {
        const std::string cmd = "openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " " +
                                options + " </dev/null >/dev/null 2>&1";
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_TRUE(handshake("-tls1_2 -cipher ECDHE-RSA-AES128-GCM-SHA256"));
    EXPECT_TRUE(handshake("-tls1_3"));
    EXPECT_FALSE(handshake("-tls1_2 -cipher AES128-GCM-SHA256"));
    EXPECT_FALSE(handshake("-tls1_2 -cipher ECDHE-RSA-AES128-SHA"));
    EXPECT_FALSE(handshake("-tls1_1 -cipher 'ALL:@SECLEVEL=0'"));
    EXPECT_EQ(Status(client->Get("/")), -1);  // no plain HTTP beside it
    EXPECT_NE(ReadText("err.txt").find("status - web console on https://127.0.0.1:"),
              std::string::npos);
}

// A client that sends a byte every second never finishes its request: it is cut
// off after 10 seconds, and others are served meanwhile.
TEST_F(WebConsole, ASlowClientIsCutOffAndOthersAreServed) {
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    Start();
    const std::string csrf = Login();
    ASSERT_FALSE(csrf.empty());
    const std::string session = "Cookie: " + headers.begin()->second + "\r\nX-CSRF-Token: " + csrf + "\r\n";
    // Each sends its request at so many bytes a second, in pieces four times a
    // second, and notes when it was cut off or what it was answered.
    struct Trickle {
        Trickle(std::string r, size_t p) : request(std::move(r)), perSecond(p) {}
        std::string request;
        size_t perSecond;
        double cut = -1;
        std::string answer;
    };
    const std::string upload = "PUT /api/upload/music/T/slow.wav HTTP/1.1\r\nHost: 127.0.0.1\r\n" + session;
    std::vector<Trickle> trickles = {
        {"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: " + std::string(100, 'x'), 2},
        {"POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2000\r\n\r\n" + std::string(2000, ' '), 40},
        {upload + "Content-Length: 40000\r\n\r\n" + std::string(40000, 'x'), 400},
        {upload + "Content-Length: 30000\r\n\r\n" + std::string(30000, 'x'), 2400},
    };
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (Trickle& t : trickles)
        threads.emplace_back([&t, start, this] {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
            const size_t piece = std::max<size_t>(1, t.perSecond / 4);
            char buf[512];
            for (size_t sent = 0; std::chrono::steady_clock::now() - start < 25s;) {
                const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) t.answer.append(buf, static_cast<size_t>(n));
                if (n == 0 || (n < 0 && errno != EAGAIN) ||
                    (sent < t.request.size() &&
                     send(fd, t.request.data() + sent, std::min(piece, t.request.size() - sent), MSG_NOSIGNAL) < 0)) {
                    if (t.answer.empty())
                        t.cut = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                    break;
                }
                sent += std::min(piece, t.request.size() - sent);
                std::this_thread::sleep_for(250ms);
            }
            close(fd);
        });
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(Status(client->Get("/api/status", headers)), 200);  // others are served
    for (auto& t : threads) t.join();
    // Headers and a login's body: the whole request within 10 s.
    EXPECT_GT(trickles[0].cut, 8);
    EXPECT_LT(trickles[0].cut, 14);
    EXPECT_GT(trickles[1].cut, 8);
    EXPECT_LT(trickles[1].cut, 14);
    // An upload under 1 KB/s is cut off; one that moves faster is read to its end
    // (and refused, as it is no sound).
    EXPECT_GT(trickles[2].cut, 10);
    EXPECT_LT(trickles[2].cut, 24);
    EXPECT_EQ(trickles[3].cut, -1);
    EXPECT_EQ(trickles[3].answer.substr(0, 12), "HTTP/1.1 422") << trickles[3].answer;
    const std::string log = ReadText("err.txt");
    EXPECT_NE(log.find("sent no whole request in 10 s; cut off"), std::string::npos);
    EXPECT_NE(log.find("moved under 1 KB/s; cut off"), std::string::npos);
}

namespace {

// The longest run of silence (every sample under -60 dBFS) in 8 kHz s16le audio,
// counted from the first sound, in milliseconds.
double LongestSilenceMs(const std::string& bytes) {
    size_t longest = 0, run = 0;
    bool started = false;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int16_t v;
        std::memcpy(&v, bytes.data() + i, 2);
        const bool quiet = std::abs(static_cast<int>(v)) < 33;
        started = started || !quiet;
        if (!started) continue;
        run = quiet ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest / 8.0;
}

}  // namespace

// Edits from the console and by hand while the pipe is read: the song plays on
// through every one (no new cycle, the message timer keeps counting), a hand
// edit is taken and never written over, a half-written file is not taken, and
// SIGHUP reloads instead of ending the player.
TEST_F(WebConsole, EditsAroundARunningPlayerNeverSilenceIt) {
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    std::string heard;
    std::thread reader([&heard, fd = fds[0]] {
        char chunk[4096];
        for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) heard.append(chunk, n);
    });
    Start(fds[1]);
    close(fds[1]);
    const std::string csrf = Login();
    ASSERT_FALSE(csrf.empty());
    std::this_thread::sleep_for(2500ms);  // the song plays
    const int dueBefore = Json(client->Get("/api/status", headers))["next_message_in"].toInt();

    // A volume, a gap, the order and a schedule, one after another.
    for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
             {"/api/lists/music/settings", "{\"volume\": 6}"},
             {"/api/lists/music/settings", "{\"volume\": 5}"},
             {"/api/lists/music/settings", "{\"gap\": 3}"},
             {"/api/lists/voice/settings", "{\"random\": true}"},
             {"/api/lists/music/schedule",
              "{\"rows\": [0], \"time\": {\"on\": true, \"from\": \"00:00\", \"to\": \"23:59\"}}"}}) {
        const auto r = Change(path, body, csrf);
        EXPECT_EQ(Status(r), 200) << path << " " << (r ? r->body : "");
        std::this_thread::sleep_for(300ms);
    }
    const int dueAfter = Json(client->Get("/api/status", headers))["next_message_in"].toInt();
    EXPECT_LE(dueAfter, dueBefore - 1);  // the message timer kept counting
    EXPECT_GT(dueAfter, 15);

    // By hand: the voice gap becomes 20 s. It is taken, and the next console edit
    // keeps it.
    std::string cfg = ReadText("audio.cfg");
    ASSERT_EQ(cfg.rfind("[VOICE]\n30\n", 0), 0u) << cfg;
    cfg.replace(8, 2, "20");
    tw::test::WriteText("audio.cfg.new", cfg);
    fs::rename("audio.cfg.new", "audio.cfg");
    std::this_thread::sleep_for(1500ms);
    EXPECT_NE(ReadText("err.txt").find("status - audio.cfg reloaded (an edit on disk)"),
              std::string::npos);
    QJsonObject lists = Json(client->Get("/api/lists", headers));
    EXPECT_EQ(lists["voice_settings"].toObject()["gap"].toInt(), 20);
    EXPECT_EQ(Status(Change("/api/lists/music/settings",
                            "{\"volume\": 4, \"version\": \"" +
                                lists["version"].toString().toStdString() + "\"}",
                            csrf)),
              200);
    EXPECT_EQ(ReadText("audio.cfg").rfind("[VOICE]\n20\n", 0), 0u);

    // Half written: not taken, said with its line, and no edit writes over it.
    const std::string whole = ReadText("audio.cfg");
    tw::test::WriteText("audio.cfg", whole.substr(0, whole.size() - 6));
    std::this_thread::sleep_for(1500ms);
    const auto refused = Change("/api/lists/music/settings", "{\"volume\": 7}", csrf);
    EXPECT_EQ(Status(refused), 409);
    EXPECT_NE(Json(refused)["error"].toString().indexOf("audio.cfg line "), -1)
        << (refused ? refused->body : "");
    EXPECT_FALSE(Json(client->Get("/api/lists", headers))["file_problem"].toString().isEmpty());
    EXPECT_EQ(ReadText("audio.cfg"), whole.substr(0, whole.size() - 6));
    tw::test::WriteText("audio.cfg", whole);

    // The file rewritten by hand every 100 ms for 5 s while the console edits it:
    // every edit is saved or refused as stale, never written over a newer file.
    {
        std::atomic<bool> done{false};
        std::thread writer([&done, &whole] {
            for (int i = 0; !done; ++i) {
                std::string text = whole;
                text.replace(8, 2, i % 2 ? "20" : "40");
                tw::test::WriteText("audio.cfg.hand", text);
                fs::rename("audio.cfg.hand", "audio.cfg");
                std::this_thread::sleep_for(100ms);
            }
        });
        int saved = 0;
        for (int i = 0; i < 16; ++i) {
            const auto lists = Json(client->Get("/api/lists", headers));
            const auto r = Change("/api/lists/music/settings",
                                  "{\"volume\": " + std::to_string(4 + i % 3) + ", \"version\": \"" +
                                      lists["version"].toString().toStdString() + "\"}",
                                  csrf);
            EXPECT_TRUE(Status(r) == 200 || Status(r) == 409) << Status(r);
            saved += Status(r) == 200;
            std::this_thread::sleep_for(300ms);
        }
        done = true;
        writer.join();
        EXPECT_GT(saved, 0);
        EXPECT_TRUE(ReadText("audio.cfg").rfind("[VOICE]\n20\n", 0) == 0 ||
                    ReadText("audio.cfg").rfind("[VOICE]\n40\n", 0) == 0);
    }

    // Fifty SIGHUPs at once: one reload, and the player plays on.
    for (int i = 0; i < 50; ++i) tonewell->Signal(SIGHUP);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Status(client->Get("/api/status", headers)), 200);
    tonewell->Signal(SIGUSR1);
    std::this_thread::sleep_for(500ms);
    tonewell->Signal(SIGTERM);
    EXPECT_EQ(tonewell->Wait(5s), 0) << ReadText("err.txt");
    tonewell.reset();
    reader.join();
    close(fds[0]);

    const std::string log = ReadText("err.txt");
    size_t plays = 0;
    for (size_t at = 0; (at = log.find("status - play music", at)) != std::string::npos; ++at) ++plays;
    EXPECT_EQ(plays, 1u) << log;  // one song from start to end: no new cycle
    EXPECT_NE(log.find("error - an edit on disk changed audio.cfg, but audio.cfg line "),
              std::string::npos);
    EXPECT_NE(log.find("status - SIGHUP: reading audio.cfg and tonewell.conf again"),
              std::string::npos);
    EXPECT_NE(log.find("status - Playing T\\a.wav"), std::string::npos);
    ASSERT_GT(heard.size(), 2u * 8000 * 8);
    const double silence = LongestSilenceMs(heard);
    std::printf("longest silence in %.1f s of the pipe: %.1f ms\n", heard.size() / 16000.0, silence);
    EXPECT_LT(silence, 50.0);
}

// A password file others could write is not trusted; a new password ends every
// session at once.
TEST_F(WebConsole, ThePasswordFileIsTrustedOnlyWhenItIsPrivate) {
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    ASSERT_EQ(chmod("web.passwd", 0666), 0);
    Start();
    std::this_thread::sleep_for(2s);
    EXPECT_FALSE(tw::test::Accepts(port));
    EXPECT_NE(ReadText("err.txt").find("web.passwd can be written by others; mend it with: chmod "
                                       "600 web.passwd"),
              std::string::npos);
    tonewell->Signal(SIGTERM);
    ASSERT_EQ(tonewell->Wait(5s), 0);

    ASSERT_EQ(SetPassword("s3cret pass"), 0);  // written again: its own mode
    struct stat st {};
    ASSERT_EQ(stat("web.passwd", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Start();
    ASSERT_FALSE(Login().empty());
    EXPECT_EQ(Status(client->Get("/api/status", headers)), 200);
    ASSERT_EQ(SetPassword("another pass"), 0);
    EXPECT_EQ(Status(client->Get("/api/status", headers)), 401);
    EXPECT_EQ(Login("s3cret pass"), "");
    std::string csrf = Login("another pass");
    EXPECT_FALSE(csrf.empty());

    // From the page: at least 8 characters (as on the command line), the old
    // password first; the other sessions end, this one goes on.
    EXPECT_EQ(SetPassword("7 chars"), 2);
    httplib::Client other("127.0.0.1", port);
    const auto second = other.Post("/api/login", "{\"password\": \"another pass\"}", "application/json");
    ASSERT_EQ(Status(second), 200);
    const httplib::Headers otherSession = {
        {"Cookie", second->get_header_value("Set-Cookie").substr(0, second->get_header_value("Set-Cookie").find(';'))}};
    EXPECT_EQ(Status(Change("/api/password", R"({"old": "another pass", "new": "short"})", csrf)), 400);
    EXPECT_EQ(Status(Change("/api/password", R"({"old": "wrong pass", "new": "a third pass"})", csrf)), 403);
    const auto changed = Change("/api/password", R"({"old": "another pass", "new": "a third pass"})", csrf);
    ASSERT_EQ(Status(changed), 200);
    EXPECT_EQ(Status(other.Get("/api/status", otherSession)), 401);
    const std::string cookie = changed->get_header_value("Set-Cookie");
    headers = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
    csrf = Json(changed)["csrf"].toString().toStdString();
    EXPECT_EQ(Status(Change("/api/playback", R"({"play": true})", csrf)), 200);
    EXPECT_EQ(Login("another pass"), "");
    EXPECT_FALSE(Login("a third pass").empty());
    EXPECT_EQ(ReadText("err.txt").find("third pass"), std::string::npos);
}

namespace {

// Sends `head` (a request's line and headers, no body) and returns what comes back
// within `waitMs`, or until the server closes.
std::string AnswerToHeadOnly(int port, const std::string& head, int waitMs = 2000) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return "";
    // A server that stops reading ends the send, as it ends a client's.
    const timeval most{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &most, sizeof most);
    send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    timeval tv{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[4096];
    while (std::chrono::steady_clock::now() < end) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0) break;
        if (n > 0) got.append(buf, static_cast<size_t>(n));
        if (got.find("\r\n\r\n") != std::string::npos) break;
    }
    close(fd);
    return got;
}

}  // namespace

// Limits come before bodies: a body too large, chunked, or without a session is
// answered from the headers alone; parallel wrong logins get five tries a minute,
// races included, then 429 with Retry-After, said once in the log.
TEST_F(WebConsole, LimitsComeBeforeBodiesAndLoginsAreCountedUnderRaces) {
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    Start();
    for (const auto& [head, status] : std::vector<std::pair<std::string, std::string>>{
             {"POST /api/status HTTP/1.1\r\nTransfer-Encoding: chunked", "411"},
             {"POST /nowhere HTTP/1.1\r\nTransfer-Encoding: chunked", "411"},
             {"POST /api/login HTTP/1.1\r\nContent-Length: 190000000", "413"},
             {"POST /api/lists/music/add HTTP/1.1\r\nContent-Length: 900000", "401"}})
        EXPECT_EQ(AnswerToHeadOnly(port, head + "\r\nHost: 127.0.0.1\r\n\r\n").substr(0, 12),
                  "HTTP/1.1 " + status)
            << head;
    // Headers: at most 100, and 16 KB of them; an endless stream of them is
    // answered once it is past that, never held.
    std::string many = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 101; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(AnswerToHeadOnly(port, many + "\r\n").substr(0, 12), "HTTP/1.1 431");
    EXPECT_EQ(AnswerToHeadOnly(port, "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Long: " +
                                         std::string(17000, 'x') + "\r\n\r\n")
                  .substr(0, 12),
              "HTTP/1.1 431");
    std::string endless = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    while (endless.size() < 4'000'000) endless += "X-Header: 0123456789012345678901234567890123456789\r\n";
    EXPECT_EQ(AnswerToHeadOnly(port, endless).substr(0, 12), "HTTP/1.1 431");
    // A body refused from its headers is answered, not reset, while the client
    // is still sending it: five times in five.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(AnswerToHeadOnly(port, "PUT /api/upload/music/T/big.wav HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                         "Content-Length: 880000\r\n\r\n" + std::string(880000, 'x'))
                      .substr(0, 12),
                  "HTTP/1.1 401");

    // As many at once as one address may hold connections (more would be cut off
    // before they are answered).
    constexpr int kAtOnce = 8;
    std::vector<int> statuses(kAtOnce);
    std::vector<std::string> waits(kAtOnce);
    std::vector<std::thread> tries;
    for (int i = 0; i < kAtOnce; ++i)
        tries.emplace_back([this, i, &statuses, &waits] {
            httplib::Client c("127.0.0.1", port);
            c.set_read_timeout(60, 0);
            const auto r = c.Post("/api/login", "{\"password\": \"guess\"}", "application/json");
            statuses[i] = Status(r);
            if (r) waits[i] = r->get_header_value("Retry-After");
        });
    for (auto& t : tries) t.join();
    int wrong = 0, limited = 0;
    for (int i = 0; i < kAtOnce; ++i) {
        wrong += statuses[i] == 401;
        if (statuses[i] == 429) {
            ++limited;
            EXPECT_FALSE(waits[i].empty());
        }
    }
    EXPECT_EQ(wrong, 5);
    EXPECT_EQ(limited, kAtOnce - 5);
    EXPECT_EQ(Status(client->Post("/api/login", "{\"password\": \"s3cret pass\"}", "application/json")),
              429);
    std::this_thread::sleep_for(500ms);
    size_t said = 0;
    const std::string log = ReadText("err.txt");
    for (size_t at = 0; (at = log.find("too many failed logins", at)) != std::string::npos; ++at) ++said;
    EXPECT_EQ(said, 1u) << log;
}

// A flood of idle connections from one address: past 8 the newest are cut off
// within seconds, the admin (from another address) logs in, and the player's
// table of file handles was raised past the 1024 a service starts with.
TEST_F(WebConsole, AFloodOfConnectionsIsCappedAndTheAdminGetsIn) {
    ASSERT_EQ(SetPassword("s3cret pass"), 0);
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    const rlimit saved = files;
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 1024);
    setrlimit(RLIMIT_NOFILE, &files);
    Start();
    setrlimit(RLIMIT_NOFILE, &saved);
    const std::string limits = ReadText("/proc/" + std::to_string(tonewell->pid()) + "/limits");
    const size_t at = limits.find("Max open files");
    ASSERT_NE(at, std::string::npos);
    if (saved.rlim_max > 1024) {
        EXPECT_GT(std::stoll(limits.substr(at + 26)), 1024) << limits;
    }

    std::vector<int> flood;
    for (int i = 0; i < 300; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in from{}, to{};
        from.sin_family = to.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7f000002);  // 127.0.0.2
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(port));
        bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        flood.push_back(fd);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Login().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    // What the flood costs the player: its sockets, looked at for 4 s.
    size_t most = 0;
    for (int i = 0; i < 20; ++i) {
        size_t sockets = 0;
        const fs::path fds = "/proc/" + std::to_string(tonewell->pid()) + "/fd";
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(fds, ec))
            sockets += fs::read_symlink(e.path(), ec).string().rfind("socket:", 0) == 0;
        most = std::max(most, sockets);
        std::this_thread::sleep_for(200ms);
    }
    for (int fd : flood) close(fd);
    std::printf("the player's sockets under a flood of 300 connections: at most %zu\n", most);
    EXPECT_LE(most, 40u);
    EXPECT_NE(ReadText("err.txt").find("over 8 connections from 127.0.0.2"), std::string::npos);
    EXPECT_EQ(Status(client->Get("/api/status", headers)), 200);
}
