// A hardware-access library for tests only, never carried by the plugin: the same file
// name and entry points as the plugin's own library, but it reports the driver active and
// runs the routine it is given directly, in user mode, on the calling thread. A test puts
// it in the Windows folder where no install can replace it (DriverLibraryInPlace), so
// that the plugin loads it instead of its own library.
//
// After TestDriverEmulate the routine runs with its privileged instructions emulated
// (tests/win/privileged_emulator.h): `in al, dx` answers from the waveform given, on the
// virtual clock where the machine allows it; TestDriverEmulatedRun tells what the last
// run did. Without it, the ring-0 routine's first `cli` faults in here, as a routine's
// fault at ring 0 would.
//
// TestDriverJournal() answers the calls made so far, one a line:
//   open SERVICE DEVICE / active / ring0 RESULT / close

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hwaccess/driver_entry_points.h"
#include "tests/win/privileged_emulator.h"

namespace {

constexpr uint32_t kHandle = 0x5A5A;

CRITICAL_SECTION g_lock;
std::string* g_journal = nullptr;

// What TestDriverEmulate set, and what the last emulated run did (one caller at a time).
struct Emulation {
  bool armed = false;
  std::vector<std::pair<int64_t, uint8_t>> waveform;
  uint8_t rest = 0;
  int64_t start_ns = 0;
  sfh56::wintest::EmulatedStats stats;
  bool virtual_clock = false;
};
Emulation* g_emulation = nullptr;

void Note(const std::string& line) {
  EnterCriticalSection(&g_lock);
  *g_journal += line + "\n";
  LeaveCriticalSection(&g_lock);
}

}  // namespace

extern "C" {

uint32_t SFH_DRIVER_CALL OpenTVicHW32(uint32_t /*handle*/, const char* service_name,
                                      const char* device_name) {
  Note(std::string("open ") + (service_name ? service_name : "(null)") + " " +
       (device_name ? device_name : "(null)"));
  return kHandle;
}

uint32_t SFH_DRIVER_CALL CloseTVicHW32(uint32_t /*handle*/) {
  Note("close");
  return 0;
}

uint32_t SFH_DRIVER_CALL GetActiveHW(uint32_t handle) {
  Note("active");
  return handle == kHandle ? 1 : 0;
}

int32_t SFH_DRIVER_CALL RunRing0Function(uint32_t /*handle*/, sfh56::Ring0Routine routine,
                                         void* argument) {
  int32_t result = 0;
  if (g_emulation->armed) {
    using sfh56::wintest::EmulatedClock;
    sfh56::wintest::EmulatedPrivilegedInstructions emulated(
        g_emulation->waveform, g_emulation->rest, EmulatedClock::kVirtual, g_emulation->start_ns);
    result = routine(argument);
    g_emulation->stats = emulated.Stats();
    g_emulation->virtual_clock = emulated.Clock() == EmulatedClock::kVirtual;
  } else {
    result = routine(argument);
  }
  Note("ring0 " + std::to_string(result));
  return result;
}

// Emulates the privileged instructions of the routines run from now on: the register
// answers bytes[i] for lengths[i] ns of the virtual clock (or reads, without one), then
// rest; the clock starts at start_ns. A count of -1 ends the emulation.
void SFH_DRIVER_CALL TestDriverEmulate(const int64_t* lengths, const uint8_t* bytes, int32_t count,
                                       uint32_t rest, int64_t start_ns) {
  g_emulation->armed = count >= 0;
  g_emulation->waveform.clear();
  for (int32_t i = 0; i < count; ++i) g_emulation->waveform.push_back({lengths[i], bytes[i]});
  g_emulation->rest = static_cast<uint8_t>(rest);
  g_emulation->start_ns = start_ns;
}

// What the last emulated run did; returns 1 when it ran on the virtual clock.
uint32_t SFH_DRIVER_CALL TestDriverEmulatedRun(sfh56::wintest::EmulatedStats* stats) {
  *stats = g_emulation->stats;
  return g_emulation->virtual_clock ? 1 : 0;
}

// The journal, copied into buffer (zero-terminated, cut at size); returns its length.
uint32_t SFH_DRIVER_CALL TestDriverJournal(char* buffer, uint32_t size) {
  EnterCriticalSection(&g_lock);
  const std::string journal = *g_journal;
  LeaveCriticalSection(&g_lock);
  if (size > 0) {
    const size_t n = journal.size() < size - 1 ? journal.size() : size - 1;
    journal.copy(buffer, n);
    buffer[n] = '\0';
  }
  return static_cast<uint32_t>(journal.size());
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&g_lock);
    g_journal = new std::string;
    g_emulation = new Emulation;
  } else if (reason == DLL_PROCESS_DETACH) {
    delete g_emulation;
    delete g_journal;
    DeleteCriticalSection(&g_lock);
  }
  return TRUE;
}
