#include "receiver/code_delivery.h"

#include <optional>

#include "decode/service_log.h"
#include "decode/stable_decoder.h"

namespace sfh56 {
namespace {

// Keeps Delivering set for the duration of one call into the host.
class DeliveringScope {
 public:
  explicit DeliveringScope(DeliveringFlag& flag) : flag_(flag) { flag_.Begin(); }
  ~DeliveringScope() { flag_.End(); }
  DeliveringScope(const DeliveringScope&) = delete;
  DeliveringScope& operator=(const DeliveringScope&) = delete;

 private:
  DeliveringFlag& flag_;
};

// The decoder's code, handed on through the delivery.
class DeliverySink : public CodeSink {
 public:
  explicit DeliverySink(CodeDelivery& delivery) : delivery_(delivery) {}
  void Deliver(std::string_view code) override { delivery_.Deliver(std::string(code)); }

 private:
  CodeDelivery& delivery_;
};

}  // namespace

void CodeDelivery::DecodeAndDeliver(const PulseTrain& train, const ReceiverSettings& settings) {
  std::optional<ServiceLogWriter> log;
  if (settings.ServiceMode) log.emplace(files_);
  DeliverySink sink(*this);
  DecodeWith(settings.StableCodes ? Decoding::kStable : Decoding::kClassic, train, settings.BitMask,
             decoder_, log ? &*log : nullptr, &sink);
}

void CodeDelivery::Deliver(const std::string& code) {
  DeliveringScope scope(delivering_);
  host_.DeliverCode(code);
}

}  // namespace sfh56
