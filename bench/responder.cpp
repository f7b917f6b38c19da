// A minimal Modbus slave for the benchmarks: plain POSIX, one poll() loop, so
// the slave is never what limits a client. Answers functions 3 and 4 (any
// count up to 125) for every unit; "silent" mode never answers.
//
//   qimbench-responder tcp [silent]   prints the port it listens on
//   qimbench-responder rtu [silent]   prints the pty device it serves

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

bool silent = false;

uint16_t crc16(const uint8_t* d, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= d[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// The reply PDU (from the function code on) to a read request PDU.
std::vector<uint8_t> readReply(const uint8_t* pdu) {
    const int count = std::min(125, (pdu[3] << 8) | pdu[4]);
    std::vector<uint8_t> r{pdu[0], static_cast<uint8_t>(2 * count)};
    for (int k = 0; k < count; ++k) {
        r.push_back(0);
        r.push_back(static_cast<uint8_t>(k + 1));
    }
    return r;
}

void writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

int serveTcp() {
    const int l = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) || ::listen(l, 512))
        return 1;
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    std::printf("%u\n", ntohs(a.sin_port));
    std::fflush(stdout);

    std::map<int, std::vector<uint8_t>> rx;
    for (;;) {
        std::vector<pollfd> fds{{l, POLLIN, 0}};
        for (auto& [fd, buf] : rx)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int c = ::accept(l, nullptr, nullptr);
            if (c >= 0) {
                ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                rx[c];
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const int fd = fds[i].fd;
            uint8_t buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(fd);
                rx.erase(fd);
                continue;
            }
            auto& b = rx[fd];
            b.insert(b.end(), buf, buf + n);
            while (b.size() >= 7 && b.size() >= 6u + ((b[4] << 8) | b[5])) {
                const size_t frame = 6u + ((b[4] << 8) | b[5]);
                if (!silent && frame >= 12 && (b[7] == 3 || b[7] == 4)) {
                    const std::vector<uint8_t> pdu = readReply(&b[7]);
                    std::vector<uint8_t> out{
                        b[0], b[1], 0, 0, 0, static_cast<uint8_t>(pdu.size() + 1), b[6]};
                    out.insert(out.end(), pdu.begin(), pdu.end());
                    writeAll(fd, out.data(), out.size());
                }
                b.erase(b.begin(), b.begin() + static_cast<long>(frame));
            }
        }
    }
}

int serveRtu() {
    const int m = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(m);
    unlockpt(m);
    const char* name = ptsname(m);
    const int keep = ::open(name, O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(keep, &t);
    cfmakeraw(&t);
    tcsetattr(keep, TCSANOW, &t);
    std::printf("%s\n", name);
    std::fflush(stdout);

    std::vector<uint8_t> b;
    for (;;) {
        uint8_t buf[512];
        const ssize_t n = ::read(m, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EIO)
                return 1;
            usleep(1000); // the client closed its side; wait for the next open
            continue;
        }
        b.insert(b.end(), buf, buf + n);
        while (b.size() >= 8) {
            if (crc16(b.data(), 6) != (b[6] | (b[7] << 8))) {
                b.erase(b.begin()); // resynchronise on noise
                continue;
            }
            if (!silent && (b[1] == 3 || b[1] == 4)) {
                std::vector<uint8_t> out{b[0]};
                const std::vector<uint8_t> pdu = readReply(&b[1]);
                out.insert(out.end(), pdu.begin(), pdu.end());
                const uint16_t c = crc16(out.data(), out.size());
                out.push_back(static_cast<uint8_t>(c & 0xFF));
                out.push_back(static_cast<uint8_t>(c >> 8));
                writeAll(m, out.data(), out.size());
            }
            b.erase(b.begin(), b.begin() + 8);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        return 2;
    silent = argc > 2 && std::string(argv[2]) == "silent";
    return std::string(argv[1]) == "tcp" ? serveTcp() : serveRtu();
}
