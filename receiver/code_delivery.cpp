#include "receiver/code_delivery.h"

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

}  // namespace

void CodeDelivery::Deliver(const std::string& code) {
  DeliveringScope scope(delivering_);
  host_.DeliverCode(code);
}

}  // namespace sfh56
