#include "receiver/ring0_capture.h"

namespace sfh56 {

Ring0Thresholds g_ring0_thresholds;

}  // namespace sfh56
