#pragma once
// The IR-daemon socket: a Unix stream socket whose clients (irw, irexec, media centres)
// receive one line per code. A client that does not read never holds the daemon up:
// each client has a small backlog, and lines that do not fit are dropped and counted.

#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "daemon/code_output.h"

namespace sfh56::daemon {

class LircdSocket : public CodeOutput {
 public:
  LircdSocket() = default;
  ~LircdSocket() override;
  LircdSocket(const LircdSocket&) = delete;
  LircdSocket& operator=(const LircdSocket&) = delete;

  // Listens at path. A socket there that a program still answers is never taken over;
  // one that nobody answers (left by a daemon that died) is replaced; anything else at
  // the path is left alone. False with a one-line reason.
  bool Listen(const std::string& path, std::string& error);

  void OnCode(const CodeEvent& event) override;
  void OnReload() override;

  // The descriptors to poll: the listening socket and every client.
  void AddPollFds(std::vector<pollfd>& fds) const;
  // Serves what poll found on them (new clients, clients that can take more, clients
  // that went away).
  void HandlePoll(const std::vector<pollfd>& fds);

  // Tries once more to hand every backlog over, closes the clients and removes the
  // socket file if it is still this daemon's.
  void Close();

  int64_t DroppedLines() const { return dropped_lines_; }

  // A client's backlog holds at most this many bytes.
  static constexpr size_t kMaxBacklogBytes = 16384;
  static constexpr int kClientSocketBufferBytes = 8192;

 private:
  struct Client {
    int fd = -1;
    std::string backlog;
  };
  void Send(const std::string& line);
  void Accept();
  bool Flush(Client& client);  // false when the client has gone

  int listen_fd_ = -1;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::vector<Client> clients_;
  int64_t dropped_lines_ = 0;
};

}  // namespace sfh56::daemon
