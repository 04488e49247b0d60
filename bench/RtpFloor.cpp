// The least any well-paced RTP sender does: one 172-byte packet every 20 ms on
// absolute deadlines of the monotonic clock, nothing decoded, mixed or encoded.
// Its CPU time is the floor against which the RTP output is read.
//
// rtp_floor ADDRESS PORT SECONDS: prints the CPU milliseconds it used.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    in_addr local{};
    inet_pton(AF_INET, "127.0.0.1", &local);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    inet_pton(AF_INET, argv[1], &to.sin_addr);
    connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    unsigned char packet[172] = {0x80};
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long packets = std::atol(argv[3]) * 50;
    for (long i = 0; i < packets; ++i) {
        packet[3] = static_cast<unsigned char>(i);
        send(fd, packet, sizeof packet, 0);
        next.tv_nsec += 20000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000);
    return 0;
}
