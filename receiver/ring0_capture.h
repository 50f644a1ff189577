#pragma once
// Module storage of ring-0 capture. The ring-0 routine polls the UART without an object
// to address, so what it needs lives here: the time base writes copies of its thresholds
// whenever it calibrates, and nothing but the routine reads them.

#include <atomic>
#include <cstdint>

namespace sfh56 {

// Every receiver's time base writes these when it calibrates, on whichever thread that
// is: a receiver being made (the host's thread) and one still running can calibrate at
// the same moment. Each value is one whole word, written and read without a lock (the
// routine runs with interrupts held off); values written together may come from two
// calibrations of the same counters, which agree.
struct Ring0Thresholds {
  std::atomic<int64_t> TrainStartWindowTicks{0};
  std::atomic<int64_t> EdgeGapTicks{0};
  std::atomic<int64_t> SequenceGapTicks{0};
};

// Written by TimeBase::SetTimeBase on the thread that calibrates.
extern Ring0Thresholds g_ring0_thresholds;

}  // namespace sfh56
