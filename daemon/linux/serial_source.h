#pragma once
// The receiver circuit on a serial port's modem-status pin (DSR, CTS or DCD), powered
// from RTS and DTR. Every change of the pin is timestamped when the thread wakes from
// TIOCMIWAIT; the port's change counters (TIOCGICOUNT) show changes that came between
// two waits, and the train they belong to is dropped rather than decoded wrongly.

#include <pthread.h>

#include <atomic>
#include <string>

#include "daemon/options.h"
#include "daemon/source.h"

namespace sfh56::daemon {

// How long a working receiver has to show its idle level after power-up.
inline constexpr int kIdleCheckMs = 3000;

class SerialSource : public Source {
 public:
  SerialSource(std::string path, SerialPin pin);
  ~SerialSource() override;

  bool Open(std::string& error) override;
  End Run(PulseSink& sink, std::string& error) override;
  void Stop() override;
  bool OwnClock() const override { return false; }
  std::string Name() const override { return "serial:" + path_; }

  // Why a port cannot carry the receiver's timing (a USB adapter), or empty.
  static std::string UsbRefusal(const std::string& path);

 private:
  void CloseDevice();
  bool CheckIdleLevel(std::string& error);
  void RaisePriority();
  std::string path_;
  SerialPin pin_;
  int pin_bit_ = 0;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  pthread_t thread_{};
  bool priority_tried_ = false;
};

}  // namespace sfh56::daemon
