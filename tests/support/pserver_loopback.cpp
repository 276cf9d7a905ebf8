// Preloaded into the parallel package's server (octave-pserver) so that a test can run two of them
// on one machine, reachable from it alone. The server listens on every address at ports that its
// clients cannot change, and keeps its process id in /tmp/.octave-<node name>.pid, which refuses
// a second server. With NURBS_PSERVER_ADDRESS set (an IPv4 address, 127.x.y.z), a bind to every
// address binds to that address instead, and with NURBS_PSERVER_NODE set, uname reports that
// node name: two servers at 127.0.0.1 and 127.0.0.2 with names of their own. Without them, both
// calls are the C library's.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>

namespace {

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int bind(int fd, const sockaddr* addr, socklen_t len) {
  using Bind = int (*)(int, const sockaddr*, socklen_t);
  static const Bind real = Next<Bind>("bind");
  const char* address = std::getenv("NURBS_PSERVER_ADDRESS");
  if (address != nullptr && addr != nullptr && addr->sa_family == AF_INET &&
      len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    sockaddr_in in;
    std::memcpy(&in, addr, sizeof in);
    if (in.sin_addr.s_addr == htonl(INADDR_ANY) && inet_pton(AF_INET, address, &in.sin_addr) == 1) {
      return real(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in);
    }
  }
  return real(fd, addr, len);
}

extern "C" int uname(utsname* u) {
  using Uname = int (*)(utsname*);
  static const Uname real = Next<Uname>("uname");
  const int result = real(u);
  const char* node = std::getenv("NURBS_PSERVER_NODE");
  if (result == 0 && node != nullptr && std::strlen(node) < sizeof u->nodename) {
    std::strcpy(u->nodename, node);
  }
  return result;
}
