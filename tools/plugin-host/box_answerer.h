#pragma once
// Answers the message boxes and dialogs that a plugin shows in this process, so that an
// unattended host run cannot hang on one: a helper thread finds each new box, reports its
// caption and text and presses a chosen button.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/handle_owner.h"

namespace sfh56::tools {

class BoxAnswerer {
 public:
  // `button` is a dialog command (IDOK, IDCANCEL, ...); a box without that button gets
  // IDCANCEL, then IDOK, whichever it has. `report` runs on the helper thread.
  using Report = std::function<void(const std::string& caption, const std::string& text)>;
  BoxAnswerer(int button, Report report);
  ~BoxAnswerer();  // stops the helper thread
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  // Text names of the buttons ("ok", "cancel", "yes", "no", "retry", "abort",
  // "ignore"); 0 for any other word.
  static int ButtonFromName(const std::string& name);

 private:
  static DWORD WINAPI Watch(LPVOID self);
  void AnswerBoxes();

  int button_;
  Report report_;
  std::vector<HWND> reported_;  // boxes already reported that may still be closing
  win32::HandleOwner quit_;
  win32::HandleOwner thread_;
};

}  // namespace sfh56::tools
