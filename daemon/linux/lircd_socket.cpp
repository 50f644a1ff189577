#include "daemon/linux/lircd_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace sfh56::daemon {
namespace {

std::string Why(const std::string& path, const char* what) {
  return path + ": " + what + ": " + std::strerror(errno);
}

// Whether a program answers at the socket path (connect succeeds).
bool Answered(const sockaddr_un& address) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answered =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answered;
}

}  // namespace

LircdSocket::~LircdSocket() {
  Close();
}

bool LircdSocket::Listen(const std::string& path, std::string& error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    error = path + ": a socket path must have 1 to " + std::to_string(sizeof address.sun_path - 1) +
            " characters";
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      error = path + ": exists and is not a socket; left alone";
      return false;
    }
    if (Answered(address)) {
      error = path + ": another program is serving this socket; not taken over";
      return false;
    }
    if (unlink(path.c_str()) != 0) {
      error = Why(path, "the stale socket could not be removed");
      return false;
    }
  }
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0) {
    error = Why(path, "socket");
    return false;
  }
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 16) != 0) {
    error = Why(path, "cannot listen");
    close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  // Clients of any user read codes, as from the classic daemon's socket.
  chmod(path.c_str(), 0666);
  if (lstat(path.c_str(), &info) == 0) {
    dev_ = info.st_dev;
    ino_ = info.st_ino;
  }
  path_ = path;
  return true;
}

void LircdSocket::OnCode(const CodeEvent& event) {
  Send(LircdLine(event));
}

void LircdSocket::OnReload() {
  Send(kLircdReloadBlock);
}

void LircdSocket::Send(const std::string& line) {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (it->backlog.size() + line.size() > kMaxBacklogBytes) {
      ++dropped_lines_;
    } else {
      it->backlog += line;
    }
    if (!Flush(*it)) {
      close(it->fd);
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

bool LircdSocket::Flush(Client& client) {
  while (!client.backlog.empty()) {
    const ssize_t n =
        send(client.fd, client.backlog.data(), client.backlog.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      client.backlog.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void LircdSocket::Accept() {
  for (;;) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    // A small kernel buffer: a client that stops reading is found out after a few
    // hundred lines rather than thousands, and its backlog stays small.
    const int buffer_bytes = kClientSocketBufferBytes;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer_bytes, sizeof buffer_bytes);
    clients_.push_back({fd, {}});
  }
}

void LircdSocket::AddPollFds(std::vector<pollfd>& fds) const {
  if (listen_fd_ >= 0) fds.push_back({listen_fd_, POLLIN, 0});
  for (const Client& client : clients_) {
    fds.push_back(
        {client.fd, static_cast<short>(POLLIN | (client.backlog.empty() ? 0 : POLLOUT)), 0});
  }
}

void LircdSocket::HandlePoll(const std::vector<pollfd>& fds) {
  bool accept = false;
  for (const pollfd& p : fds) {
    if (p.revents == 0) continue;
    if (p.fd == listen_fd_) {
      accept = true;
      continue;
    }
    const auto it = std::find_if(clients_.begin(), clients_.end(),
                                 [&](const Client& c) { return c.fd == p.fd; });
    if (it == clients_.end()) continue;
    bool alive = (p.revents & (POLLERR | POLLNVAL)) == 0;
    if (alive && (p.revents & (POLLIN | POLLHUP)) != 0) {
      // Clients may send commands; this daemon answers none, but must see them leave.
      char discard[512];
      const ssize_t n = recv(it->fd, discard, sizeof discard, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) alive = false;
    }
    if (alive && (p.revents & POLLOUT) != 0) alive = Flush(*it);
    if (!alive) {
      close(it->fd);
      clients_.erase(it);
    }
  }
  if (accept) Accept();
}

void LircdSocket::Close() {
  for (Client& client : clients_) {
    Flush(client);
    close(client.fd);
  }
  clients_.clear();
  if (listen_fd_ < 0) return;
  close(listen_fd_);
  listen_fd_ = -1;
  // Remove the file only when it is still the one this daemon made.
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0 && info.st_dev == dev_ && info.st_ino == ino_) {
    unlink(path_.c_str());
  }
}

}  // namespace sfh56::daemon
