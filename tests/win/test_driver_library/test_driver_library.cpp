// A hardware-access library for tests only, never carried by the plugin: the same file
// name and entry points as the plugin's own library, but it reports the driver active and
// runs the routine it is given directly, in user mode, on the calling thread. A test puts
// it in the Windows folder where no install can replace it (DriverLibraryInPlace), so
// that the plugin loads it instead of its own library.
//
// TestDriverJournal() answers the calls made so far, one a line:
//   open SERVICE DEVICE / active / ring0 RESULT / close

#include <windows.h>

#include <cstdint>
#include <string>

#include "hwaccess/driver_entry_points.h"

namespace {

constexpr uint32_t kHandle = 0x5A5A;

CRITICAL_SECTION g_lock;
std::string* g_journal = nullptr;

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
  const int32_t result = routine(argument);
  Note("ring0 " + std::to_string(result));
  return result;
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
  } else if (reason == DLL_PROCESS_DETACH) {
    delete g_journal;
    DeleteCriticalSection(&g_lock);
  }
  return TRUE;
}
