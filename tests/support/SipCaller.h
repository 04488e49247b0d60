#pragma once

// A SIP caller for tests, as a PBX would call a media server: requests written
// out in full over UDP from an address of the loopback, the final response's
// status and To tag picked out, and a socket of its own for the RTP it is sent.
// Not a SIP stack: it knows one dialog at a time, and only what tests look at.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace tw::test {

// A UDP socket bound to `address` and `port` (0: any free one, said in `port`);
// -1 when it is taken.
inline int BindUdp(const char* address, int& port) {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return s;
}

struct RtpArrival {
    std::chrono::steady_clock::time_point at;
    std::vector<uint8_t> bytes;
};

class SipCaller {
  public:
    // Calls sip:USER@127.0.0.1:serverPort from `address` (of the loopback).
    SipCaller(const char* address, int serverPort, const std::string& user = "moh")
        : address_(address), user_(user), server_(serverPort), dialogPort_(serverPort) {
        sip_ = BindUdp(address, sipPort_);
        rtp_ = BindUdp(address, rtpPort);
        static int serial = 0;
        callId_ = "test-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + "@" + address;
    }
    ~SipCaller() {
        close(sip_);
        if (rtp_ >= 0) close(rtp_);
    }
    SipCaller(const SipCaller&) = delete;
    SipCaller& operator=(const SipCaller&) = delete;

    int rtpPort = 0;

    std::string Sdp(const std::string& mode = "sendrecv", const std::string& codecs = "0 8",
                    const std::string& media = "", int port = -1, const std::string& more = "") const {
        const std::string at = media.empty() ? address_ : media;
        return "v=0\r\no=- 1 1 IN IP4 " + at + "\r\ns=-\r\nc=IN IP4 " + at + "\r\nt=0 0\r\nm=audio " +
               std::to_string(port < 0 ? rtpPort : port) + " RTP/AVP " + codecs + "\r\n" + more +
               "a=" + mode + "\r\n";
    }

    // Sends a request in the dialog (an INVITE, ACK, BYE, OPTIONS); an ACK reuses
    // the INVITE's number.
    void Send(const std::string& method, const std::string& body = "", const std::string& headers = "") {
        if (method != "ACK") ++cseq_;
        // Inside a dialog, requests go where the answer's Contact says (past a proxy).
        const bool inDialog = !toTag_.empty();
        const std::string target = "sip:" + user_ + "@127.0.0.1:" + std::to_string(server_);
        const std::string uri = inDialog ? "sip:127.0.0.1:" + std::to_string(dialogPort_) : target;
        const std::string me = address_ + ":" + std::to_string(sipPort_);
        std::string text = method + " " + uri + " SIP/2.0\r\nVia: SIP/2.0/UDP " + me +
                           ";branch=z9hG4bK" + std::to_string(++branch_) + "x" + std::to_string(getpid()) +
                           ";rport\r\nMax-Forwards: 70\r\nFrom: <sip:caller@" + me +
                           ">;tag=t1\r\nTo: <" + target + ">" + (toTag_.empty() ? "" : ";tag=" + toTag_) +
                           "\r\nCall-ID: " + callId_ + "\r\nCSeq: " + std::to_string(cseq_) + " " + method +
                           "\r\nContact: <sip:caller@" + me + ">\r\n" + headers +
                           (body.empty() ? "" : "Content-Type: application/sdp\r\n") +
                           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        SendRaw(text, inDialog ? dialogPort_ : server_);
    }
    void SendRaw(const std::string& bytes, int port = 0) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port ? port : server_));
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        sendto(sip_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    // The next final response (provisional ones skipped), or a request the server
    // sends (a BYE, answered 200); "" after `ms`.
    std::string Next(int ms = 2000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()).count();
            pollfd p{sip_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return "";
            char buffer[65536];
            const ssize_t n = recv(sip_, buffer, sizeof buffer, 0);
            if (n <= 0) continue;
            std::string text(buffer, static_cast<size_t>(n));
            if (text.rfind("SIP/2.0 1", 0) == 0) continue;
            if (text.rfind("SIP/2.0 ", 0) == 0) {
                std::smatch m;
                const int status = Status(text);
                if (status < 300 && toTag_.empty() &&
                    std::regex_search(text, m, std::regex("\r\nTo:[^\r]*;tag=([^;\r]+)")))
                    toTag_ = m[1];
                if (status < 300 && std::regex_search(text, m, std::regex("\r\nContact: *<sip:[^>]*:([0-9]+)[;>]")))
                    dialogPort_ = std::stoi(m[1]);
            } else {
                Reply(text);
            }
            return text;
        }
    }
    static int Status(const std::string& response) {
        return response.rfind("SIP/2.0 ", 0) == 0 ? std::atoi(response.c_str() + 8) : 0;
    }
    // The body of a message.
    static std::string Body(const std::string& message) {
        const size_t gap = message.find("\r\n\r\n");
        return gap == std::string::npos ? "" : message.substr(gap + 4);
    }
    // INVITE with `body`, then ACK a 2xx: the final status.
    int Call(const std::string& body, const std::string& headers = "", std::string* answer = nullptr) {
        Send("INVITE", body, headers);
        const std::string response = Next();
        if (answer) *answer = response;
        const int status = Status(response);
        if (status >= 200 && status < 300) Send("ACK");
        return status;
    }

    // RTP that reaches our port within `ms`.
    std::vector<RtpArrival> Receive(int ms) {
        std::vector<RtpArrival> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()).count();
            pollfd p{rtp_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return got;
            uint8_t buffer[2048];
            const ssize_t n = recv(rtp_, buffer, sizeof buffer, 0);
            if (n > 0) got.push_back({std::chrono::steady_clock::now(), {buffer, buffer + n}});
        }
    }
    // Closes the RTP port: what is sent there meets ICMP port unreachable.
    void CloseRtp() {
        close(rtp_);
        rtp_ = -1;
    }
    // The port that answered the call (its Contact), past any proxy.
    int answeredBy() const { return dialogPort_; }
    void NewDialog() {
        toTag_.clear();
        dialogPort_ = server_;
        callId_ += "+";
    }

  private:
    void Reply(const std::string& request) {
        // 200 to a request from the server, with its own headers.
        std::string reply = "SIP/2.0 200 OK\r\n";
        for (const char* name : {"Via:", "From:", "To:", "Call-ID:", "CSeq:"}) {
            size_t at = request.find(std::string("\r\n") + name);
            if (at == std::string::npos) continue;
            const size_t end = request.find("\r\n", at + 2);
            reply += request.substr(at + 2, end - at) ;
        }
        reply += "Content-Length: 0\r\n\r\n";
        SendRaw(reply, dialogPort_);
    }

    std::string address_, user_;
    int server_, dialogPort_;
    int sip_ = -1, rtp_ = -1, sipPort_ = 0;
    int cseq_ = 0, branch_ = 0;
    std::string callId_, toTag_;
};

}  // namespace tw::test
