// A small UDP socket layer over POSIX sockets (a Winsock build can stand behind this header).
// IPv4 only; addresses are dotted-decimal texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tovik::net {

struct Endpoint {
  std::string address;  // dotted decimal
  uint16_t port = 0;
};

// Result of a receive.
enum class RecvStatus { Ok, Timeout, Truncated, Error };

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;

  // Creates the datagram socket. Every setter below returns false on failure and records the
  // reason in lastError().
  bool open();
  bool isOpen() const { return fd_ >= 0; }
  void close();

  bool setReuseAddress(bool on);
  // Binds to address:port; an empty address (or "0.0.0.0") binds every local address.
  bool bind(const std::string& address, uint16_t port);
  // Joins a multicast group on the interface with the given local address (empty: any).
  // Fails for a text that is not a multicast group.
  bool joinMulticast(const std::string& group, const std::string& interfaceAddress = {});
  bool setReceiveTimeout(int milliseconds);
  bool setReceiveBufferSize(int bytes);
  // Outgoing multicast: the local interface address, loopback of own datagrams, hop limit.
  bool setMulticastInterface(const std::string& interfaceAddress);
  bool setMulticastLoop(bool on);
  bool setMulticastTtl(int ttl);

  // Receives one datagram into buf. On Ok, *length is its size. A datagram longer than
  // capacity gives Truncated (its first capacity bytes are in buf). Timeout after the receive
  // time-out with nothing to read. from, when given, receives the sender.
  RecvStatus receive(uint8_t* buf, size_t capacity, size_t* length, Endpoint* from = nullptr);

  // Sends one datagram; false when it could not be handed to the network.
  bool sendTo(const uint8_t* data, size_t length, const std::string& address, uint16_t port);

  // The local address and port the socket is bound to.
  Endpoint localEndpoint() const;
  const std::string& lastError() const { return lastError_; }
  int nativeHandle() const { return fd_; }

 private:
  bool fail(const char* what);
  int fd_ = -1;
  std::string lastError_;
};

// True when text is a dotted-decimal IPv4 address of four numbers 0..255.
bool isDottedIpv4(const std::string& text);

}  // namespace tovik::net
