// Hardware access on the Win32 platform under Wine: the port lookup through the real
// registry, the driver installed from this program's own resources (it carries the same
// payloads as the plugin), our library loaded and reporting the driver inactive, a test
// library in its place running a routine, and the kernel-mode driver started and stopped
// as a service. Then ring-0 capture over both routes: the driver route with the real
// routine run by the test library, and the Windows 9x route, which fails here.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hwaccess/hardware_driver.h"
#include "hwaccess/tvic_res.h"
#include "platform/win32/win32_platform.h"
#include "receiver/comm_thread.h"
#include "receiver/ring0_capture.h"
#include "receiver/time_base.h"
#include "tests/hwaccess/device_registry_fixtures.h"
#include "tests/receiver/receiver_doubles.h"

// Last: its macros would rename methods of the platform headers above.
#include "tests/win/driver_files.h"
#include "tests/win/privileged_emulator.h"

namespace sfh56::wintest {
namespace {

// Runs a command line (Wine's own programs, such as reg.exe, or this program again) and
// returns its exit code; with show_output its output joins this program's.
DWORD RunProgram(std::string command, bool show_output = false) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (show_output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, show_output ? TRUE : FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

using fixtures::Put32;

// A CM_RESOURCE_LIST with one full descriptor: I/O first..first+length-1 and one interrupt.
std::vector<uint8_t> PortAndInterrupt(uint16_t first, uint16_t length, uint8_t irq) {
  return fixtures::CmList(
      {fixtures::CmFull({fixtures::CmPort(first, length), fixtures::CmInterrupt(irq, irq)})});
}

constexpr char kTestEnumerator[] = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\SFHTEST";

// One serial port instance under the test's own enumerator, written by Wine's reg.
void AddPort(const std::string& instance, const std::string& com,
             const std::vector<uint8_t>& alloc_config) {
  const std::string key = std::string(kTestEnumerator) + "\\PNP0501\\" + instance;
  const std::string add = "reg.exe add \"" + key;
  ASSERT_EQ(RunProgram(add + "\" /v Class /t REG_SZ /d Ports /f"), 0u);
  ASSERT_EQ(RunProgram(add + "\" /v HardwareID /t REG_MULTI_SZ /d SFHTEST\\PNP0501\\0*PNP0501 /f"),
            0u);
  ASSERT_EQ(RunProgram(add + "\" /v DeviceDesc /t REG_SZ /d \"Communications Port\" /f"), 0u);
  ASSERT_EQ(
      RunProgram(add + "\" /v FriendlyName /t REG_SZ /d \"Communications Port (" + com + ")\" /f"),
      0u);
  ASSERT_EQ(
      RunProgram(add + "\\Control\" /v AllocConfig /t REG_BINARY /d " + Hex(alloc_config) + " /f"),
      0u);
}

TEST(HardwareAccessWin, PortLookupThroughTheRealRegistry) {
  RunProgram(std::string("reg.exe delete \"") + kTestEnumerator + "\" /f");
  AddPort("1", "COM1", PortAndInterrupt(0x3F8, 8, 4));
  // A resource list longer than 512 bytes is absent; its port is still found.
  std::vector<uint8_t> long_list = PortAndInterrupt(0x2F8, 8, 3);
  long_list.resize(600, 0);
  AddPort("7", "COM7", long_list);

  win32::Win32Platform win32;
  struct Case {
    const char* port;
    bool found;
    int32_t base, irq, dma;
  };
  for (const Case& c :
       {Case{"COM1", true, 0x3F8, 4, 0xFFFF}, Case{"COM7", true, 0xFFFF, 0xFFFF, 0xFFFF},
        Case{"COM9", false, -1, -1, -1}}) {
    SCOPED_TRACE(c.port);
    int32_t base = -1;
    int32_t irq = -1;
    int32_t dma = -1;
    EXPECT_EQ(FindPortResources(win32.platform(), c.port, base, irq, dma), c.found);
    EXPECT_EQ(base, c.base);
    EXPECT_EQ(irq, c.irq);
    EXPECT_EQ(dma, c.dma);
  }
  EXPECT_EQ(RunProgram(std::string("reg.exe delete \"") + kTestEnumerator + "\" /f"), 0u);
}

// --- The driver ------------------------------------------------------------------------

class DriverWinTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveDriverInstallation(); }
  void TearDown() override { RemoveDriverInstallation(); }

  win32::Win32Platform win32_;
  test_doubles::FakeHost host_;
};

TEST_F(DriverWinTest, OurLibraryIsInstalledLoadedAndReportsTheDriverInactive) {
  auto receiver = std::make_unique<TCommThread>(win32_.platform(), host_);
  EXPECT_EQ(FileBytes(LibraryPath()), FileBytes(WindowsPath(SFH_PAYLOAD_LIBRARY)));
  EXPECT_EQ(FileBytes(NtDriverPath()), FileBytes(WindowsPath(SFH_PAYLOAD_NT_DRIVER)));
  EXPECT_EQ(ServiceKeyValues().size(), 5u);
  EXPECT_FALSE(FileExists(TempFolder() + "PlonixDRV.dll"));
  EXPECT_FALSE(FileExists(TempFolder() + "TVicHW32.sys"));

  HMODULE library = GetModuleHandleA("PlonixDRV.dll");
  ASSERT_NE(library, nullptr) << "loaded, and kept while the receiver exists";
  EXPECT_EQ(GetProcAddress(library, "TestDriverJournal"), nullptr) << "our own library";
  EXPECT_TRUE(receiver->Driver().DriverLibraryLoaded());
  EXPECT_FALSE(receiver->Driver().DriverActive());
  EXPECT_FALSE(receiver->Ring0Possible()) << "NT with the driver inactive";
  EXPECT_FALSE(receiver->Settings().AllowRing0);

  EXPECT_TRUE(receiver->TerminateAndWait());
  receiver.reset();
  EXPECT_EQ(GetModuleHandleA("PlonixDRV.dll"), nullptr) << "unloaded with the receiver";
}

int32_t SFH_DRIVER_CALL AddOne(void* argument) {
  return ++*static_cast<int32_t*>(argument);
}

TEST_F(DriverWinTest, ATestLibraryInPlaceIsLoadedInsteadAndRunsTheRoutine) {
  DriverLibraryInPlace in_place(WindowsPath(SFH_TEST_DRIVER_LIBRARY));
  ASSERT_TRUE(in_place.Ready());
  auto receiver = std::make_unique<TCommThread>(win32_.platform(), host_);
  EXPECT_EQ(FileBytes(LibraryPath()), FileBytes(WindowsPath(SFH_TEST_DRIVER_LIBRARY)))
      << "the install's copy did not replace it";
  EXPECT_FALSE(FileExists(TempFolder() + "PlonixDRV.dll"));
  EXPECT_TRUE(receiver->Driver().DriverActive());
  EXPECT_TRUE(receiver->Ring0Possible());
  int32_t counter = 41;
  EXPECT_EQ(receiver->Driver().RunRing0Function(&AddOne, &counter), 42);
  EXPECT_TRUE(receiver->TerminateAndWait());
  receiver.reset();
  EXPECT_EQ(in_place.Journal(), "open TVICHW32 TVicDevice0\nactive\nring0 42\nclose\n");
}

// --- Ring-0 capture through the driver ------------------------------------------------

// The box a fault on the ring-0 route shows, read and answered from a helper thread.
struct SeenBox {
  std::string text;
  bool topmost = true;
  bool clicked = false;
};

DWORD WINAPI AnswerErrorBox(LPVOID parameter) {
  auto* seen = static_cast<SeenBox*>(parameter);
  for (int i = 0; i < 3000; ++i) {  // generous: Wine may be slow on a loaded machine
    HWND box = FindWindowA("#32770", kRing0SwitchErrorCaption);
    if (box != nullptr) {
      char text[256] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the box's text control
      seen->text = text;
      seen->topmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      seen->clicked = SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0) == 0;
      return 0;
    }
    Sleep(10);
  }
  return 1;
}

struct OneTrain {
  Ring0Capture* capture;
  PulseTrain* train;
  TrainAssembler* line;
  SequenceRule* sequence;
};

DWORD WINAPI CaptureOneTrain(LPVOID parameter) {
  auto* run = static_cast<OneTrain*>(parameter);
  run->capture->CaptureTrain(*run->train, *run->line, *run->sequence, 1e9);
  return 0;
}

// A capture whose switch to ring 0 fails: an empty train and the error box, untranslated
// and not topmost. On a thread of its own, as on the receiver thread: no handler of the
// test framework's sits above the fault there.
void ExpectAnEmptyTrainAndTheErrorBox(OneTrain& run) {
  SeenBox seen;
  HANDLE answerer = CreateThread(nullptr, 0, AnswerErrorBox, &seen, 0, nullptr);
  HANDLE receiver = CreateThread(nullptr, 0, CaptureOneTrain, &run, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(receiver, 60000), WAIT_OBJECT_0);
  WaitForSingleObject(answerer, 60000);
  CloseHandle(receiver);
  CloseHandle(answerer);
  EXPECT_EQ(run.train->LastEdgeIndex, -1);
  EXPECT_TRUE(seen.clicked);
  EXPECT_EQ(seen.text, kRing0SwitchErrorText);
  EXPECT_FALSE(seen.topmost);
}

// The driver route with the real routine: the receiver looks COM1 up and takes its
// register at base + 6; the test library runs the routine in user mode. Unemulated, the
// routine's first `cli` faults inside the driver call: an empty train and the box. With
// the privileged instructions emulated on the virtual clock (where this machine allows
// it), the routine's records become the train, timestamped at the line's changes.
TEST_F(DriverWinTest, TheRoutineRunsThroughTheTestLibraryAndAFaultInsideGivesAnEmptyTrain) {
  RunProgram(std::string("reg.exe delete \"") + kTestEnumerator + "\" /f");
  AddPort("1", "COM1", PortAndInterrupt(0x3F8, 8, 4));
  DriverLibraryInPlace in_place(WindowsPath(SFH_TEST_DRIVER_LIBRARY));
  ASSERT_TRUE(in_place.Ready());
  HardwareDriver driver(win32_.platform());
  driver.OpenHardwareDriver();
  ASSERT_TRUE(driver.DriverActive());
  HMODULE library = GetModuleHandleA("PlonixDRV.dll");
  using Emulate = void(WINAPI*)(const int64_t*, const uint8_t*, int32_t, uint32_t, int64_t);
  using EmulatedRun = uint32_t(WINAPI*)(wintest::EmulatedStats*);
  const auto emulate = reinterpret_cast<Emulate>(
      reinterpret_cast<void*>(GetProcAddress(library, "TestDriverEmulate")));
  const auto emulated_run = reinterpret_cast<EmulatedRun>(
      reinterpret_cast<void*>(GetProcAddress(library, "TestDriverEmulatedRun")));
  ASSERT_NE(emulate, nullptr);
  ASSERT_NE(emulated_run, nullptr);

  constexpr uint32_t kDsr = 0x20;
  Ring0Capture capture(win32_.platform(), driver);
  ASSERT_TRUE(capture.StartRun("COM1", kDsr, 7));
  EXPECT_EQ(g_ring0.MsrPort, 0x3F8 + 6);
  TimeBase(win32_.counters, win32_.scheduler).SetTimeBase(1'000'000'000);  // ns
  TrainAssembler line;
  line.SetPrevStatus(kDsr);
  SequenceRule sequence;
  PulseTrain train;

  // Unemulated: the fault is caught, the train is empty, the box is shown as it must be.
  OneTrain fault_run{&capture, &train, &line, &sequence};
  ExpectAnEmptyTrainAndTheErrorBox(fault_run);

  // Emulated: twelve changes of the line 100 us apart from 1 ms after the start, the
  // other register bits unchanged; the train ends 12.8 ms after the last.
  constexpr int64_t kStartNs = 5'000'000'000;
  std::vector<int64_t> lengths{1'000'000};
  std::vector<uint8_t> bytes{kDsr | 0x10};
  for (int i = 0; i < 12; ++i) {
    lengths.push_back(100'000);
    bytes.push_back(i % 2 == 0 ? 0x10 : kDsr | 0x10);
  }
  emulate(lengths.data(), bytes.data(), static_cast<int32_t>(lengths.size()), kDsr, kStartNs);
  capture.CaptureTrain(train, line, sequence, 1e9);
  emulate(nullptr, nullptr, -1, 0, 0);
  wintest::EmulatedStats stats;
  if (emulated_run(&stats) == 0) GTEST_SKIP() << "no way to trap the counter here";
  EXPECT_EQ(stats.last_port, 0x3F8 + 6);
  ASSERT_EQ(train.LastEdgeIndex, 11);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(train.Edges[i].Status, i % 2 == 0 ? 0u : kDsr) << i;
    EXPECT_EQ(train.Edges[i].Timestamp, kStartNs + 1'000'000 + i * 100'000) << i;
  }
  EXPECT_EQ(sequence.LastEdgeTicks(), train.Edges[11].Timestamp);
  EXPECT_EQ(line.PrevStatus(), kDsr);
  EXPECT_EQ(in_place.Journal(), "open TVICHW32 TVicDevice0\nactive\nring0 12\n");
  driver.CloseHardwareDriver();
  EXPECT_EQ(RunProgram(std::string("reg.exe delete \"") + kTestEnumerator + "\" /f"), 0u);
}

TEST_F(DriverWinTest, TheKernelDriverStartsAndStopsAsAService) {
  InstallDriverFiles(win32_.platform());
  ASSERT_TRUE(FileExists(NtDriverPath()));
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  // A service of the test's own over the installed file: the installer's automatic-start
  // service would only be started at the next boot.
  SC_HANDLE service =
      CreateServiceA(manager, kDriverCheckService, kDriverCheckService, SERVICE_ALL_ACCESS,
                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     NtDriverPath().c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(service, nullptr) << GetLastError();
  EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  EXPECT_TRUE(ReachesState(service, SERVICE_RUNNING)) << "the driver's entry succeeded";
  SERVICE_STATUS status{};
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(ReachesState(service, SERVICE_STOPPED)) << "it has an unload routine";
  DeleteService(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

// --- Windows 98 ---------------------------------------------------------------------------

// Wine plays Windows 98 for one program when its application defaults say so: the test
// runs itself again that way, and there takes the Windows 9x install and walk through the
// real files and registry.
constexpr char kDynEnum[] = "Config Manager\\Enum";

void SetValue(HKEY root, const std::string& path, const char* name, DWORD type,
              const std::vector<uint8_t>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
}

std::vector<uint8_t> Text(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

// An "Allocation" chain: the header, an I/O record, an interrupt record, the end.
std::vector<uint8_t> Allocation(uint16_t first, uint16_t last, uint8_t irq) {
  std::vector<uint8_t> b;
  Put32(b, 0x400);
  Put32(b, 0);
  Put32(b, 32);  // I/O record: length, type, IO_DES, one IO_RANGE
  Put32(b, 2);
  b.insert(b.end(), {1, 0, 12, 0, static_cast<uint8_t>(first), static_cast<uint8_t>(first >> 8),
                     static_cast<uint8_t>(last), static_cast<uint8_t>(last >> 8), 0, 0, 0, 0});
  b.insert(b.end(), 12, 0);
  Put32(b, 16);  // interrupt record: length, type, IRQ_DES
  Put32(b, 4);
  b.insert(b.end(), {0, 0, irq, 0, 0, 0, 0, 0});
  Put32(b, 0);
  return b;
}

void AddWin9xDevice(const std::string& devnode, uint32_t problem, const std::string& hardware_key,
                    const std::string& description, const std::vector<uint8_t>& allocation) {
  const std::string live = std::string(kDynEnum) + "\\" + devnode;
  std::vector<uint8_t> problem_bytes;
  Put32(problem_bytes, problem);
  SetValue(HKEY_DYN_DATA, live, "Problem", REG_BINARY, problem_bytes);
  SetValue(HKEY_DYN_DATA, live, "HardWareKey", REG_SZ, Text(hardware_key));
  SetValue(HKEY_DYN_DATA, live, "Allocation", REG_BINARY, allocation);
  SetValue(HKEY_LOCAL_MACHINE, "Enum\\" + hardware_key, "Class", REG_SZ, Text("Ports"));
  SetValue(HKEY_LOCAL_MACHINE, "Enum\\" + hardware_key, "DeviceDesc", REG_SZ, Text(description));
}

void RemoveWin9xDevices() {
  for (const char* devnode : {"SFH00001", "SFH00002"}) {
    RegDeleteKeyA(HKEY_DYN_DATA, (std::string(kDynEnum) + "\\" + devnode).c_str());
  }
  RunProgram("reg.exe delete HKLM\\Enum\\SFHTEST /f");
}

void CheckAsWindows98() {
  win32::Win32Platform win32;
  ASSERT_EQ(win32.platform().platform_id, platform::kPlatformWin32Windows);
  // Every Windows 98 has the Windows folder's SYSTEM folder; a prefix of the 64-bit-only Wine
  // has none (it comes with the 16-bit support of the 32-bit Wine), so the machine is made
  // whole here, and left as it was found.
  const std::string system = WindowsFolder() + "\\SYSTEM";
  struct MadeFolder {
    std::string path;
    ~MadeFolder() {
      if (!path.empty()) RemoveDirectoryA(path.c_str());
    }
  } const made_system{CreateDirectoryA(system.c_str(), nullptr) ? system : std::string()};
  const std::string vxd = system + "\\TVICHW32.VXD";
  RemoveDriverInstallation();
  DeleteFileA(vxd.c_str());
  {
    test_doubles::FakeHost host;
    TCommThread receiver(win32.platform(), host);
    EXPECT_EQ(FileBytes(vxd), FileBytes(WindowsPath(SFH_PAYLOAD_VXD)));
    EXPECT_EQ(FileBytes(LibraryPath()), FileBytes(WindowsPath(SFH_PAYLOAD_LIBRARY)));
    EXPECT_FALSE(FileExists(NtDriverPath()));
    EXPECT_FALSE(FileExists(TempFolder() + "TVICHW32.VXD"));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &key), ERROR_SUCCESS)
        << "no service key on Windows 9x";
    EXPECT_FALSE(receiver.Driver().DriverActive());
    EXPECT_TRUE(receiver.Ring0Possible()) << "Windows 9x reaches ring 0 without the driver";
    EXPECT_TRUE(receiver.TerminateAndWait());
  }
  RemoveDriverInstallation();
  DeleteFileA(vxd.c_str());

  RemoveWin9xDevices();
  AddWin9xDevice("SFH00001", 0, "SFHTEST\\*PNP0501\\0D", "Communications Port (COM1)",
                 Allocation(0x3F8, 0x3FF, 4));
  AddWin9xDevice("SFH00002", 22, "SFHTEST\\*PNP0501\\0E", "Communications Port (COM2)",
                 Allocation(0x2F8, 0x2FF, 3));
  int32_t base = -1;
  int32_t irq = -1;
  int32_t dma = -1;
  EXPECT_TRUE(FindPortResources(win32.platform(), "COM1", base, irq, dma));
  EXPECT_EQ(base, 0x3F8);
  EXPECT_EQ(irq, 4);
  EXPECT_EQ(dma, 0xFFFF);
  EXPECT_FALSE(FindPortResources(win32.platform(), "COM2", base, irq, dma))
      << "a device with a problem";

  // Ring-0 capture without the driver takes the interrupt route, which cannot reach ring 0
  // here (32-bit: the interrupt table answered to user mode is a dummy; 64-bit: no such
  // route): each train is empty and shows the box, and the next one tries again.
  HardwareDriver driver(win32.platform());
  driver.OpenHardwareDriver();
  EXPECT_FALSE(driver.DriverActive());
  Ring0Capture capture(win32.platform(), driver);
  ASSERT_TRUE(capture.StartRun("COM1", 0x20, 8));
  EXPECT_EQ(g_ring0.MsrPort, 0x3F8 + 6);
  TrainAssembler line;
  SequenceRule sequence;
  PulseTrain train;
  OneTrain run{&capture, &train, &line, &sequence};
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    train.LastEdgeIndex = 5;
    ExpectAnEmptyTrainAndTheErrorBox(run);
  }
  driver.CloseHardwareDriver();
  RemoveDriverInstallation();
  DeleteFileA(vxd.c_str());
  RemoveWin9xDevices();
}

TEST(HardwareAccessWin98, InstallAndPortLookupAsWindows98) {
  if ((GetVersion() & 0x80000000u) != 0) {
    CheckAsWindows98();
    return;
  }
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string name = std::string(self).substr(std::string(self).find_last_of("\\/") + 1);
  const std::string defaults = "HKCU\\Software\\Wine\\AppDefaults\\" + name;
  ASSERT_EQ(RunProgram("reg.exe add \"" + defaults + "\" /v Version /d win98 /f"), 0u);
  const DWORD code =
      RunProgram("\"" + std::string(self) + "\" --gtest_filter=HardwareAccessWin98.*", true);
  RunProgram("reg.exe delete \"" + defaults + "\" /f");
  EXPECT_EQ(code, 0u) << "the run as Windows 98 failed (its output is above)";
}

}  // namespace
}  // namespace sfh56::wintest
