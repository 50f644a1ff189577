#pragma once
// Module storage of ring-0 capture. The ring-0 routine polls the UART without an object
// to address, so what it needs lives here: the time base writes copies of its thresholds
// whenever it calibrates, and nothing but the routine reads them.

#include <cstdint>

namespace sfh56 {

struct Ring0Thresholds {
  int64_t TrainStartWindowTicks = 0;
  int64_t EdgeGapTicks = 0;
  int64_t SequenceGapTicks = 0;
};

// Written by TimeBase::SetTimeBase on the thread that calibrates.
extern Ring0Thresholds g_ring0_thresholds;

}  // namespace sfh56
