/* TVicHW32.sys, the Windows NT kernel-mode driver the plugin carries and registers as an
 * automatic-start service. It loads, registers its unload routine and does nothing else:
 * it creates no device, so no program can reach it, and the service it runs as is
 * harmless at every boot. */

#include <ddk/wdm.h>

static VOID NTAPI DriverUnloadRoutine(PDRIVER_OBJECT driver) {
  (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  (void)registry_path;
  driver->DriverUnload = DriverUnloadRoutine;
  return STATUS_SUCCESS;
}
