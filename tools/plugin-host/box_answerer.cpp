#include "tools/plugin-host/box_answerer.h"

#include <algorithm>
#include <vector>

namespace sfh56::tools {
namespace {

constexpr DWORD kPollMs = 50;
// The static control that holds a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr char kDialogClass[] = "#32770";

std::string WindowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

BOOL CALLBACK CollectOwnDialogs(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char class_name[16] = {};
  if (process == GetCurrentProcessId() && GetClassNameA(window, class_name, sizeof(class_name)) &&
      std::string(class_name) == kDialogClass && IsWindowVisible(window)) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  }
  return TRUE;
}

// The title bar has an enabled close button.
bool CanClose(HWND box) {
  if ((GetWindowLongPtrA(box, GWL_STYLE) & WS_SYSMENU) == 0) return false;
  HMENU menu = GetSystemMenu(box, FALSE);
  if (menu == nullptr) return false;
  const UINT state = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
  return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
}

}  // namespace

BoxAnswerer::BoxAnswerer(int button, Report report) : button_(button), report_(std::move(report)) {
  quit_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  thread_.Reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
}

BoxAnswerer::~BoxAnswerer() {
  SetEvent(quit_.Get());
  if (thread_) WaitForSingleObject(thread_.Get(), INFINITE);
}

int BoxAnswerer::ButtonFromName(const std::string& name) {
  static const std::pair<const char*, int> kButtons[] = {
      {"ok", IDOK},       {"cancel", IDCANCEL}, {"yes", IDYES},      {"no", IDNO},
      {"retry", IDRETRY}, {"abort", IDABORT},   {"ignore", IDIGNORE}};
  for (const auto& [word, id] : kButtons) {
    if (name == word) return id;
  }
  return 0;
}

DWORD WINAPI BoxAnswerer::Watch(LPVOID self) {
  auto* answerer = static_cast<BoxAnswerer*>(self);
  while (WaitForSingleObject(answerer->quit_.Get(), kPollMs) == WAIT_TIMEOUT)
    answerer->AnswerBoxes();
  return 0;
}

void BoxAnswerer::AnswerBoxes() {
  std::vector<HWND> boxes;
  EnumWindows(CollectOwnDialogs, reinterpret_cast<LPARAM>(&boxes));
  std::erase_if(reported_, [&](HWND box) {
    return std::find(boxes.begin(), boxes.end(), box) == boxes.end();
  });
  for (HWND box : boxes) {
    // Cancel in a dialog without a Cancel button (the plugin's configuration dialog) is
    // its close button, as for a user.
    const bool close = button_ == IDCANCEL && GetDlgItem(box, IDCANCEL) == nullptr && CanClose(box);
    HWND button = nullptr;
    for (int id : {button_, IDCANCEL, IDOK}) {
      if (close) break;
      button = GetDlgItem(box, id);
      if (button != nullptr && IsWindowEnabled(button)) break;
      button = nullptr;
    }
    if (button == nullptr && !close) continue;  // nothing to press (yet): look again next time
    if (std::find(reported_.begin(), reported_.end(), box) == reported_.end()) {
      std::string text;
      if (HWND label = GetDlgItem(box, kMessageBoxTextId)) text = WindowText(label);
      report_(WindowText(box), text);
      reported_.push_back(box);
    }
    if (close) {
      PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      SendMessageA(button, BM_CLICK, 0, 0);
    }
  }
}

}  // namespace sfh56::tools
