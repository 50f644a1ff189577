// serial-probe: runs one serial capture run on a real port through the Win32 serial
// functions and prints every admitted train's code and edge durations. With the modem
// preload library and a pseudo-terminal (run-wine-capture.sh) it runs under Wine.
//
//   serial-probe [PORT] [SECONDS] [LEVEL]     defaults: COM5 10 8

// First: it brings <windows.h> and takes back the names it redefines.
#include "platform/win32/win32_scheduler.h"
#include "platform/win32/win32_serial_port.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "platform/win32/win32_message_boxes.h"
#include "platform/win32/win32_serial_port.h"
#include "receiver/capture_seams.h"
#include "receiver/serial_capture.h"
#include "receiver/time_base.h"

namespace {

using namespace sfh56;

// The receiver's seams for one capture run: the performance counter as the time base,
// admitted trains decoded and printed with their durations.
class ProbeReceiver : public ControlChannel,
                      public CaptureClock,
                      public CodeOutlet,
                      public Translator {
 public:
  explicit ProbeReceiver(platform::Scheduler& scheduler)
      : scheduler_(scheduler),
        terminate_(scheduler.CreateEvent(true, false)),
        start_(scheduler.CreateEvent(false, false)),
        stop_(scheduler.CreateEvent(false, false)) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    frequency_ = f.QuadPart;
  }
  CaptureSeams Seams() { return {*this, *this, settings, trains, *this}; }

  Wake Wait(uint32_t timeout_ms, platform::Waitable* device) override {
    return WaitForWake(scheduler_, {*terminate_, *start_, *stop_}, device, timeout_ms);
  }
  void Acknowledge(bool running) override {
    std::printf("capture %s\n", running ? "running" : "not running");
  }
  void SetTerminated() override { terminated_ = true; }
  bool Terminated() const override { return terminated_; }

  int64_t ReadTimestamp() override {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
  }
  void Calibrate() override {}
  TimeBaseThresholds Thresholds() const override { return ThresholdsFor(frequency_); }

  // Each admitted train is printed at once with a decode of its own, also a train that
  // gives no code, which the pipeline's delivery never hears of.
  void Deliver(std::string_view /*code*/, const DecodedTrain& /*decoded*/) override {}
  void TrainAdmitted(const PulseTrain& train) override {
    const DecodeResult result = Decoder::Decode(train, settings.BitMask, decoder_);
    std::printf("train of %d edges -> %s\n  us:", train.EdgeCount(),
                result.deliver ? std::string(result.code).c_str() : "(nothing)");
    for (int i = 1; i < train.EdgeCount(); ++i) {
      const double us =
          static_cast<double>(train.Edges[i].Timestamp - train.Edges[i - 1].Timestamp) * 1e6 /
          static_cast<double>(frequency_);
      std::printf(" %.0f", us);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  std::string TranslateText(const std::string& text) override { return text; }
  void RequestTerminate() { terminate_->Set(); }

  ReceiverSettings settings;
  TrainPipeline trains{settings, *this};

 private:
  platform::Scheduler& scheduler_;
  int64_t frequency_ = 1;
  bool terminated_ = false;
  std::unique_ptr<platform::Event> terminate_;
  std::unique_ptr<platform::Event> start_;
  std::unique_ptr<platform::Event> stop_;
  DecoderState decoder_;
};

struct ProbeTimer {
  ProbeReceiver* receiver;
  int seconds;
};

// Ends the capture run after the given time.
DWORD WINAPI EndAfter(LPVOID context) {
  auto* timer = static_cast<ProbeTimer*>(context);
  Sleep(static_cast<DWORD>(timer->seconds) * 1000);
  timer->receiver->RequestTerminate();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string port = argc > 1 ? argv[1] : "COM5";
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  const int level = argc > 3 ? std::atoi(argv[3]) : 8;
  win32::Win32Scheduler scheduler;
  win32::Win32SerialPorts ports;
  win32::Win32MessageBoxes boxes;
  ProbeReceiver receiver(scheduler);
  receiver.settings.ComName = port;
  receiver.settings.PriorityLevel = static_cast<uint8_t>(level < 0 ? 0 : level > 8 ? 8 : level);
  ProbeTimer timer{&receiver, seconds};
  HANDLE thread = CreateThread(nullptr, 0, EndAfter, &timer, 0, nullptr);
  SerialCaptureState state;
  RunSerialCapture(receiver.Seams(), {scheduler, ports, boxes}, state);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  std::printf("done\n");
  return 0;
}
