#include "acquisition/udp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace tovik::net {

namespace {
bool parseAddress(const std::string& text, in_addr* out) {
  if (text.empty()) {
    out->s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, text.c_str(), out) == 1;
}
}  // namespace

bool isDottedIpv4(const std::string& text) {
  in_addr a;
  return !text.empty() && inet_pton(AF_INET, text.c_str(), &a) == 1;
}

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lastError_(std::move(other.lastError_)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    lastError_ = std::move(other.lastError_);
  }
  return *this;
}

bool UdpSocket::fail(const char* what) {
  lastError_ = std::string(what) + ": " + std::strerror(errno);
  return false;
}

bool UdpSocket::open() {
  close();
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd_ < 0) return fail("socket");
  return true;
}

void UdpSocket::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool UdpSocket::setReuseAddress(bool on) {
  int v = on ? 1 : 0;
  if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) != 0) return fail("SO_REUSEADDR");
  return true;
}

bool UdpSocket::bind(const std::string& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (!parseAddress(address, &sa.sin_addr)) {
    lastError_ = "bind: not an IPv4 address: " + address;
    return false;
  }
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return fail("bind");
  return true;
}

bool UdpSocket::joinMulticast(const std::string& group, const std::string& interfaceAddress) {
  ip_mreq m{};
  if (group.empty() || inet_pton(AF_INET, group.c_str(), &m.imr_multiaddr) != 1 ||
      !IN_MULTICAST(ntohl(m.imr_multiaddr.s_addr))) {
    lastError_ = "IP_ADD_MEMBERSHIP: not a multicast group: " + group;
    return false;
  }
  if (!parseAddress(interfaceAddress, &m.imr_interface)) {
    lastError_ = "IP_ADD_MEMBERSHIP: not an IPv4 address: " + interfaceAddress;
    return false;
  }
  if (::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0)
    return fail("IP_ADD_MEMBERSHIP");
  return true;
}

bool UdpSocket::setReceiveTimeout(int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return fail("SO_RCVTIMEO");
  return true;
}

bool UdpSocket::setReceiveBufferSize(int bytes) {
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) return fail("SO_RCVBUF");
  return true;
}

bool UdpSocket::setMulticastInterface(const std::string& interfaceAddress) {
  in_addr a;
  if (!parseAddress(interfaceAddress, &a)) {
    lastError_ = "IP_MULTICAST_IF: not an IPv4 address: " + interfaceAddress;
    return false;
  }
  if (::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) != 0)
    return fail("IP_MULTICAST_IF");
  return true;
}

bool UdpSocket::setMulticastLoop(bool on) {
  unsigned char v = on ? 1 : 0;
  if (::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &v, sizeof v) != 0)
    return fail("IP_MULTICAST_LOOP");
  return true;
}

bool UdpSocket::setMulticastTtl(int ttl) {
  unsigned char v = static_cast<unsigned char>(ttl);
  if (::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &v, sizeof v) != 0)
    return fail("IP_MULTICAST_TTL");
  return true;
}

RecvStatus UdpSocket::receive(uint8_t* buf, size_t capacity, size_t* length, Endpoint* from) {
  sockaddr_in sa{};
  socklen_t salen = sizeof sa;
  // MSG_TRUNC makes recvfrom report the datagram's real length, so an oversized one is seen.
  ssize_t n;
  do {
    n = ::recvfrom(fd_, buf, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &salen);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return RecvStatus::Timeout;
    fail("recvfrom");
    return RecvStatus::Error;
  }
  if (from) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    from->address = text;
    from->port = ntohs(sa.sin_port);
  }
  if (length) *length = std::min(size_t(n), capacity);
  return size_t(n) > capacity ? RecvStatus::Truncated : RecvStatus::Ok;
}

bool UdpSocket::sendTo(const uint8_t* data, size_t length, const std::string& address,
                       uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    lastError_ = "sendto: not an IPv4 address: " + address;
    return false;
  }
  ssize_t n;
  do {
    n = ::sendto(fd_, data, length, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fail("sendto");
  if (size_t(n) != length) {
    lastError_ = "sendto: short send";
    return false;
  }
  return true;
}

Endpoint UdpSocket::localEndpoint() const {
  Endpoint e;
  sockaddr_in sa{};
  socklen_t salen = sizeof sa;
  if (fd_ >= 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &salen) == 0) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    e.address = text;
    e.port = ntohs(sa.sin_port);
  }
  return e;
}

}  // namespace tovik::net
