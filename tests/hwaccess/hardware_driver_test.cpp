// Installing, loading, opening and closing the hardware-access driver on the simulated
// platform, with a scripted library and files in memory.

#include "hwaccess/hardware_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "receiver/comm_thread.h"
#include "tests/hwaccess/scripted_driver_library.h"
#include "tests/receiver/receiver_doubles.h"

namespace sfh56 {
namespace {

using platform::RootKey;
using test_doubles::ScriptedDriverLibrary;
using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const std::string kTemp = "C:\\WINDOWS\\TEMP\\";
const std::string kTempLibrary = kTemp + "PlonixDRV.dll";
const std::string kTempSys = kTemp + "TVicHW32.sys";
const std::string kTempVxd = kTemp + "TVICHW32.VXD";
const std::string kLibrary = "C:\\WINDOWS\\PlonixDRV.dll";
const std::string kSys = "C:\\WINDOWS\\SYSTEM32\\DRIVERS\\TVicHW32.sys";
const std::string kVxd = "C:\\WINDOWS\\SYSTEM\\TVICHW32.VXD";
const std::string kServiceKey = "System\\CurrentControlSet\\Services\\TVICHW32";

// The operations that write one payload, in order, on a disk where nothing is left over.
Strings PayloadWrites(const std::string& temp_file, const std::string& destination) {
  return {"delete " + temp_file + " failed", "create " + temp_file, "write " + temp_file,
          "copy " + temp_file + " -> " + destination, "delete " + temp_file};
}

Strings Concat(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class HardwareDriverTest : public ::testing::Test {
 protected:
  HardwareDriverTest() {
    sim_.modules.AddResource("WINDLL", {'d', 'l', 'l'});
    sim_.modules.AddResource("WIN9XVXD", {'v', 'x', 'd'});
    sim_.modules.AddResource("WINNTSYS", {'s', 'y', 's'});
    UseLibrary(library_.Exports());
  }

  // The library loads only while its file is in the Windows folder.
  void UseLibrary(sim::SimModules::Exports exports) {
    sim_.modules.AddLibrary(kDriverLibraryName, std::move(exports),
                            [this] { return sim_.files.FileContents(kLibrary).has_value(); });
  }

  // How many installs ran: each one starts by creating the library's temporary copy.
  int Installs() const {
    const Strings ops = sim_.files.Operations();
    return static_cast<int>(std::count_if(ops.begin(), ops.end(), [](const std::string& op) {
      return op.starts_with("create " + kTempLibrary);
    }));
  }

  sim::SimPlatform sim_;
  ScriptedDriverLibrary library_{[this] { return "after " + std::to_string(Installs()); }};
};

// --- First use and every open ----------------------------------------------------------

TEST_F(HardwareDriverTest, FirstUseOnNtWritesTheLibraryTheDriverAndItsServiceKey) {
  library_.AnswerActive({1});
  HardwareDriver driver(sim_.platform());
  driver.OpenHardwareDriver();

  EXPECT_EQ(sim_.files.Operations(),
            Concat(PayloadWrites(kTempLibrary, kLibrary), PayloadWrites(kTempSys, kSys)));
  EXPECT_EQ(sim_.files.FileContents(kLibrary), "dll");
  EXPECT_EQ(sim_.files.FileContents(kSys), "sys");
  EXPECT_FALSE(sim_.files.FileContents(kVxd));
  EXPECT_FALSE(sim_.files.FileContents(kTempLibrary)) << "no temporary copies";
  EXPECT_FALSE(sim_.files.FileContents(kTempSys));

  const auto values = sim_.registry.Values(RootKey::kLocalMachine, kServiceKey);
  const std::vector<std::tuple<std::string, uint32_t, Bytes>> expected = {
      {"ErrorControl", platform::kRegDword, {1, 0, 0, 0}},
      {"Type", platform::kRegDword, {1, 0, 0, 0}},
      {"Start", platform::kRegDword, {2, 0, 0, 0}},
      {"Group",
       platform::kRegSz,
       {'E', 'x', 't', 'e', 'n', 'd', 'e', 'd', ' ', 'B', 'a', 's', 'e', 0}},
      {"Parameters", platform::kRegSz, {0}},
  };
  ASSERT_EQ(values.size(), expected.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].name, std::get<0>(expected[i]));
    EXPECT_EQ(values[i].value.type, std::get<1>(expected[i])) << values[i].name;
    EXPECT_EQ(values[i].value.data, std::get<2>(expected[i])) << values[i].name;
  }
  EXPECT_FALSE(sim_.registry.KeyExists(RootKey::kLocalMachine, kServiceKey + "\\Parameters"))
      << "a text value, not a subkey";

  EXPECT_EQ(sim_.modules.LoadAttempts(kDriverLibraryName), 1);
  EXPECT_TRUE(driver.DriverActive());
  EXPECT_EQ(driver.DriverHandle(), 101u);
  EXPECT_EQ(library_.Calls(),
            (Strings{"open(0,TVICHW32,TVicDevice0)=101 after 1", "active(101)=1 after 1"}));

  driver.CloseHardwareDriver();
  EXPECT_FALSE(driver.DriverActive());
  EXPECT_EQ(library_.Calls().back(), "close(101) after 1");
  EXPECT_EQ(sim_.modules.LoadedNow(kDriverLibraryName), 0);
  EXPECT_TRUE(sim_.files.FileContents(kLibrary)) << "files and key stay";
  EXPECT_TRUE(sim_.registry.KeyExists(RootKey::kLocalMachine, kServiceKey));
}

TEST_F(HardwareDriverTest, FirstUseOnWindows9xWritesTheVxdAndNoKey) {
  sim_.platform().platform_id = platform::kPlatformWin32Windows;
  library_.AnswerActive({1});
  HardwareDriver driver(sim_.platform());
  driver.OpenHardwareDriver();
  EXPECT_EQ(sim_.files.Operations(),
            Concat(PayloadWrites(kTempLibrary, kLibrary), PayloadWrites(kTempVxd, kVxd)));
  EXPECT_EQ(sim_.files.FileContents(kVxd), "vxd");
  EXPECT_FALSE(sim_.files.FileContents(kSys));
  EXPECT_EQ(sim_.registry.CreateCalls(), 0);
  EXPECT_TRUE(driver.DriverLibraryLoaded());
}

TEST_F(HardwareDriverTest, EveryOpenRewritesTheFilesAndTheKey) {
  sim_.files.SetFile(kLibrary, "old library");
  sim_.files.SetFile(kSys, "old driver");
  sim_.files.SetFile(kTempSys, "left over");
  sim_.registry.PutRaw(RootKey::kLocalMachine, kServiceKey, "Start", platform::kRegDword,
                       {4, 0, 0, 0});
  library_.AnswerActive({1, 1});
  for (int open = 1; open <= 2; ++open) {
    HardwareDriver driver(sim_.platform());
    driver.OpenHardwareDriver();
    EXPECT_EQ(sim_.files.FileContents(kLibrary), "dll") << open;
    EXPECT_EQ(sim_.files.FileContents(kSys), "sys") << open;
    EXPECT_FALSE(sim_.files.FileContents(kTempSys)) << open;
    EXPECT_EQ(sim_.registry.ReadRaw(RootKey::kLocalMachine, kServiceKey, "Start")->data,
              (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(sim_.registry.CreateCalls(), open);
  }
}

// --- Loading and opening -----------------------------------------------------------------

TEST_F(HardwareDriverTest, ALibraryThatCannotBeWrittenIsLoadedTwiceWithAnInstallBetween) {
  sim_.files.SetReadOnly("C:\\WINDOWS");
  sim_.files.SetFolders("C:\\TEMP\\", "C:\\WINDOWS");
  HardwareDriver driver(sim_.platform());
  driver.OpenHardwareDriver();
  EXPECT_EQ(sim_.modules.LoadAttempts(kDriverLibraryName), 2);
  const Strings ops = sim_.files.Operations();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "create C:\\TEMP\\PlonixDRV.dll"), 2)
      << "the install before and the one between the loads";
  EXPECT_EQ(
      std::count(ops.begin(), ops.end(), "copy C:\\TEMP\\PlonixDRV.dll -> " + kLibrary + " failed"),
      2);
  EXPECT_FALSE(sim_.files.FileContents("C:\\TEMP\\PlonixDRV.dll")) << "deleted all the same";
  EXPECT_TRUE(library_.Calls().empty()) << "no open";
  EXPECT_FALSE(driver.DriverActive());
  EXPECT_FALSE(driver.DriverLibraryLoaded());
}

TEST_F(HardwareDriverTest, ALibraryLackingAnEntryPointIsUnloadedAtOnce) {
  for (const char* missing : {kOpenTVicHW32, kCloseTVicHW32, kGetActiveHW, kRunRing0Function}) {
    SCOPED_TRACE(missing);
    UseLibrary(library_.Exports(missing));
    {
      HardwareDriver driver(sim_.platform());
      driver.OpenHardwareDriver();
      EXPECT_FALSE(driver.DriverActive());
      EXPECT_FALSE(driver.DriverLibraryLoaded());
      EXPECT_EQ(sim_.modules.LoadedNow(kDriverLibraryName), 0);
      driver.CloseHardwareDriver();
    }
    EXPECT_EQ(sim_.modules.LoadedNow(kDriverLibraryName), 0) << "not unloaded a second time";
  }
  EXPECT_EQ(sim_.modules.LoadAttempts(kDriverLibraryName), 4) << "one load each";
  EXPECT_TRUE(library_.Calls().empty());
}

struct ActiveCase {
  std::vector<uint32_t> answers;  // of GetActiveHW, in turn
  Strings calls;                  // the opens and activity tests
  bool active;
  Strings close;  // what closing adds
};

class DriverOpenTest : public HardwareDriverTest,
                       public ::testing::WithParamInterface<ActiveCase> {};

TEST_P(DriverOpenTest, OpensAtMostTwiceWithAnInstallBetweenUntilActive) {
  const ActiveCase& c = GetParam();
  library_.AnswerActive(c.answers);
  HardwareDriver driver(sim_.platform());
  driver.OpenHardwareDriver();
  EXPECT_EQ(library_.Calls(), c.calls);
  EXPECT_EQ(driver.DriverActive(), c.active);
  EXPECT_TRUE(driver.DriverLibraryLoaded()) << "kept loaded, active or not";
  driver.CloseHardwareDriver();
  const Strings calls = library_.Calls();
  ASSERT_GE(calls.size(), c.calls.size());
  EXPECT_EQ(Strings(calls.begin() + static_cast<long>(c.calls.size()), calls.end()), c.close);
  EXPECT_EQ(sim_.modules.LoadedNow(kDriverLibraryName), 0);
  EXPECT_EQ(sim_.modules.LoadAttempts(kDriverLibraryName), 1);
}

const std::string kOpen = "open(0,TVICHW32,TVicDevice0)=";

INSTANTIATE_TEST_SUITE_P(
    Answers, DriverOpenTest,
    ::testing::Values(ActiveCase{{1},
                                 {kOpen + "101 after 1", "active(101)=1 after 1"},
                                 true,
                                 {"close(101) after 1"}},
                      ActiveCase{{0x80000000u},
                                 {kOpen + "101 after 1", "active(101)=2147483648 after 1"},
                                 true,
                                 {"close(101) after 1"}},
                      ActiveCase{{0, 7},
                                 {kOpen + "101 after 1", "active(101)=0 after 1",
                                  kOpen + "102 after 2", "active(102)=7 after 2"},
                                 true,
                                 {"close(102) after 2"}},
                      ActiveCase{{0, 0},
                                 {kOpen + "101 after 1", "active(101)=0 after 1",
                                  kOpen + "102 after 2", "active(102)=0 after 2"},
                                 false,
                                 {}}));

// --- Payloads that cannot be written --------------------------------------------------------

TEST(InstallDriverFiles, PayloadsThatCannotBeWrittenAreSkippedSilently) {
  const Strings sys_writes = PayloadWrites(kTempSys, kSys);
  const Strings full_disk = {"delete " + kTempLibrary + " failed", "create " + kTempLibrary,
                             "write " + kTempLibrary + " failed",  "delete " + kTempLibrary,
                             "delete " + kTempSys + " failed",     "create " + kTempSys,
                             "write " + kTempSys + " failed",      "delete " + kTempSys};
  struct Case {
    const char* label;
    std::function<void(sim::SimPlatform&)> arrange;
    Strings ops;
  };
  const Case cases[] = {
      {"no temporary folder",
       [](sim::SimPlatform& s) { s.files.SetFolders("", "C:\\WINDOWS"); },
       {}},
      {"no Windows folder", [](sim::SimPlatform& s) { s.files.SetFolders(kTemp, ""); }, {}},
      {"the temporary file cannot be created",
       [](sim::SimPlatform& s) { s.files.SetReadOnly(kTempLibrary); },
       Concat({"delete " + kTempLibrary + " failed", "create " + kTempLibrary + " failed"},
              sys_writes)},
      {"the disk fills up while saving", [](sim::SimPlatform& s) { s.files.FailWritesAfter(0); },
       full_disk},
      {"no such resource", [](sim::SimPlatform&) {}, sys_writes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    sim::SimPlatform sim;
    sim.modules.AddResource("WinNTSYS", {'s'});
    if (std::string(c.label) != "no such resource") sim.modules.AddResource("WinDLL", {'d'});
    c.arrange(sim);
    InstallDriverFiles(sim.platform());
    EXPECT_EQ(sim.files.Operations(), c.ops);
    EXPECT_FALSE(sim.files.FileContents(kLibrary));
    EXPECT_TRUE(sim.registry.KeyExists(RootKey::kLocalMachine, kServiceKey))
        << "the key does not depend on the files";
  }
}

TEST_F(HardwareDriverTest, AReadOnlyLibraryInPlaceIsLeftAloneAndLoaded) {
  sim_.files.SetFile(kLibrary, "a library of the test's own");
  sim_.files.SetReadOnly(kLibrary);
  library_.AnswerActive({1});
  HardwareDriver driver(sim_.platform());
  driver.OpenHardwareDriver();
  EXPECT_EQ(sim_.files.FileContents(kLibrary), "a library of the test's own");
  EXPECT_FALSE(sim_.files.FileContents(kTempLibrary));
  EXPECT_EQ(sim_.files.FileContents(kSys), "sys");
  EXPECT_TRUE(driver.DriverActive());
}

// --- The receiver's driver --------------------------------------------------------------

int32_t SFH_DRIVER_CALL CountArgument(void* argument) {
  return ++*static_cast<int32_t*>(argument);
}

TEST_F(HardwareDriverTest, RingZeroRunsPassTheRoutineAndItsResultOnlyWhileActive) {
  int32_t calls = 0;
  {
    HardwareDriver inactive(sim_.platform());
    inactive.OpenHardwareDriver();
    EXPECT_EQ(inactive.RunRing0Function(&CountArgument, &calls), 0);
    EXPECT_EQ(calls, 0) << "not run through an inactive driver";
  }
  library_.AnswerActive({1});
  HardwareDriver driver(sim_.platform());
  driver.OpenHardwareDriver();
  EXPECT_EQ(driver.RunRing0Function(&CountArgument, &calls), 1);
  EXPECT_EQ(driver.RunRing0Function(&CountArgument, &calls), 2);
  EXPECT_EQ(library_.Calls().back(), "ring0(103)=2 after 3");
}

// Calls the driver's ring-0 entry until the receiver is asked to end, and notes whether
// the driver was still open then.
class RingZeroCapture : public CaptureRun {
 public:
  RingZeroCapture(HardwareDriver& driver, std::atomic<int>& active_at_end)
      : driver_(driver), active_at_end_(active_at_end) {}
  void Run(const CaptureSeams& seams) override {
    seams.control.Acknowledge(true);
    int32_t count = 0;
    for (;;) {
      driver_.RunRing0Function(&CountArgument, &count);
      const Wake wake = seams.control.Wait(1);
      if (wake == Wake::kFailed || AnswerRequest(seams.control, wake) == RequestAnswer::kEndRun) {
        active_at_end_ = driver_.DriverActive() ? 1 : 0;
        return;
      }
    }
  }

 private:
  HardwareDriver& driver_;
  std::atomic<int>& active_at_end_;
};

TEST_F(HardwareDriverTest, TheReceiverOffersRingZeroOnNtOnlyWithAnActiveDriverAndClosesItLast) {
  test_doubles::FakeHost host;
  {
    TCommThread inactive(sim_.platform(), host);
    EXPECT_FALSE(inactive.Ring0Possible());
    EXPECT_FALSE(inactive.Settings().AllowRing0);
    EXPECT_TRUE(inactive.Driver().DriverLibraryLoaded());
    EXPECT_TRUE(inactive.TerminateAndWait());
  }
  EXPECT_EQ(sim_.modules.LoadedNow(kDriverLibraryName), 0);

  library_.AnswerActive({0, 1});
  auto receiver = std::make_unique<TCommThread>(sim_.platform(), host);
  EXPECT_TRUE(receiver->Ring0Possible());
  EXPECT_TRUE(receiver->Settings().AllowRing0);
  std::atomic<int> active_at_end{-1};
  receiver->SetSerialCapture(std::make_unique<RingZeroCapture>(receiver->Driver(), active_at_end));
  ASSERT_TRUE(receiver->Start());
  // Destroyed while capturing through the driver: the thread ends before the driver goes.
  receiver.reset();
  EXPECT_EQ(active_at_end, 1);
  const Strings calls = library_.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_TRUE(calls.back().starts_with("close(")) << calls.back();
  EXPECT_TRUE(std::none_of(calls.begin(), calls.end(), [](const std::string& call) {
    return call.find("while closed") != std::string::npos;
  }));
  EXPECT_EQ(sim_.modules.LoadedNow(kDriverLibraryName), 0);
}

}  // namespace
}  // namespace sfh56
