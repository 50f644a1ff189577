// The configuration dialog and the schematic window as real windows, under Wine on a
// virtual display: one scripted run walks the dialog as a user would, from a helper
// thread, while the test's main thread shows it modally as the plugin does.

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "config/config_box_layout.h"
#include "config/config_box_texts.h"
#include "config/win32/config_box_unit.h"
#include "config/win32/help_picture_unit.h"
#include "config/win32/hint_window.h"
#include "config/win32/win32_config_box.h"

namespace sfh56::win32 {
namespace {

using C = ConfigControl;

const ConfigBoxTexts& Texts() {
  static const ConfigBoxTexts texts = EnglishConfigBoxTexts();
  return texts;
}
std::string Short(C c) {
  return ShortHint(Texts().Hint(c));
}
std::string Long(C c) {
  return LongHint(Texts().Hint(c));
}

// --- The shell, as the WWW label uses it ---------------------------------------------------

struct ShellCall {
  HWND parent = nullptr;
  std::string verb, file, directory;
  bool no_parameters = false;
  int show = -1;
  int calls = 0;
} g_shell;

HINSTANCE WINAPI RecordShellOpen(HWND parent, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                 LPCSTR directory, INT show) {
  g_shell = {parent, verb, file, directory, parameters == nullptr, show, g_shell.calls + 1};
  return reinterpret_cast<HINSTANCE>(42);
}

// --- Looking at windows from the helper thread ---------------------------------------------

// Generous: on a loaded machine Wine may take seconds to pass a message or an input on.
bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 15000) {
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

std::string TextOf(HWND window) {
  char text[1024] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

bool Shown(HWND window) {
  return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

SIZE ClientSize(HWND window) {
  RECT r;
  GetClientRect(window, &r);
  return {r.right, r.bottom};
}

RECT InParent(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

struct ClassSearch {
  const char* window_class;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOfClass(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<ClassSearch*>(context);
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) == search->window_class) search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> WindowsOfClass(DWORD thread, const char* window_class) {
  ClassSearch search{window_class, {}};
  EnumThreadWindows(thread, CollectOfClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A message-only window of the dialog's thread that queues messages for it on request.
constexpr UINT kPostHelpAndPress = WM_APP + 1;  // wparam: the dialog, lparam: the label

LRESULT CALLBACK PosterProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kPostHelpAndPress) return DefWindowProcA(window, message, wparam, lparam);
  PostMessageA(reinterpret_cast<HWND>(wparam), WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
  PostMessageA(reinterpret_cast<HWND>(lparam), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  return 0;
}

HWND CreatePoster() {
  static const ATOM poster_class = [] {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = PosterProc;
    window_class.lpszClassName = "ConfigBoxTestPoster";
    return RegisterClassA(&window_class);
  }();
  return CreateWindowExA(0, MAKEINTATOM(poster_class), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         nullptr, nullptr);
}

class DialogDriver {
 public:
  DialogDriver(HWND dialog, DWORD ui_thread, HWND poster)
      : dialog_(dialog), ui_thread_(ui_thread), poster_(poster) {}

  HWND Control(C c) const {
    HWND parent = Placement(c).on_panel ? GetDlgItem(dialog_, ControlId(C::Panel1)) : dialog_;
    return GetDlgItem(parent, ControlId(c));
  }
  HWND Arrows(C spin) const { return GetWindow(Control(spin), GW_HWNDNEXT); }
  HWND PortEdit() const { return GetWindow(Control(C::COMComboBox), GW_CHILD); }

  // The user's keyboard, into one control.
  void Type(HWND window, const std::string& text, bool replace = true) const {
    if (replace) SendMessageA(window, EM_SETSEL, 0, -1);
    for (char c : text) SendMessageA(window, WM_CHAR, static_cast<WPARAM>(c), 0);
  }
  void Leave(HWND window) const {
    SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), TRUE);
    SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(C::OKButton)), TRUE);
  }

  // The user's pointer, moved over a window (client coordinates; centre by default). The
  // display may hand Wine a pointer motion it had queued before the move, which puts the
  // pointer back where it was: the move is repeated until the pointer stays where it was
  // sent.
  void PointTo(HWND window, POINT at = {-1, -1}) const {
    if (at.x < 0) {
      RECT r;
      GetClientRect(window, &r);
      at = {r.right / 2, r.bottom / 2};
    }
    ClientToScreen(window, &at);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    auto there = [&] {
      POINT now{};
      GetCursorPos(&now);
      return now.x == at.x && now.y == at.y;
    };
    for (int attempt = 0; attempt < 20; ++attempt) {
      SendInput(1, &input, sizeof input);
      if (!WaitFor(there, 1000)) continue;
      Sleep(50);
      if (there()) return;
    }
    ADD_FAILURE() << "the pointer does not stay at " << at.x << "," << at.y;
  }
  void Click(HWND window, POINT at = {-1, -1}) const {
    PointTo(window, at);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof input[0]);
  }

  // The dialog's hint windows now on screen.
  std::vector<HWND> Hints() const {
    std::vector<HWND> shown;
    for (HWND w : WindowsOfClass(ui_thread_, kHintWindowClass)) {
      if (IsWindowVisible(w)) shown.push_back(w);
    }
    return shown;
  }
  HWND HintWithText(const std::string& text) const {
    HWND found = nullptr;
    WaitFor([&] {
      for (HWND w : Hints()) {
        if (TextOf(w) == text) found = w;
      }
      return found != nullptr;
    });
    return found;
  }
  // Whether a context-help window (aqua) is shown.
  bool HelpShown() const {
    for (HWND w : Hints()) {
      if (InsideColour(w) == RGB(0, 255, 255)) return true;
    }
    return false;
  }
  static COLORREF InsideColour(HWND window) {
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, 1, 1);
    ReleaseDC(window, dc);
    return colour;
  }

  HWND dialog() const { return dialog_; }
  DWORD ui_thread() const { return ui_thread_; }
  HWND poster() const { return poster_; }

 private:
  HWND dialog_;
  DWORD ui_thread_;
  HWND poster_;
};

HWND WaitForDialog() {
  HWND dialog = nullptr;
  WaitFor(
      [&] {
        dialog = FindWindowA("#32770", kConfigBoxCaption);
        return dialog != nullptr && IsWindowVisible(dialog);
      },
      10000);
  return dialog;
}

// --- The walk ------------------------------------------------------------------------------

void CheckFrameFontAndPlaces(const DialogDriver& d) {
  HWND dialog = d.dialog();
  const LONG style = GetWindowLongA(dialog, GWL_STYLE);
  const LONG ex_style = GetWindowLongA(dialog, GWL_EXSTYLE);
  EXPECT_EQ(TextOf(dialog), "Plonix Config");
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(ex_style & WS_EX_TOPMOST);
  EXPECT_TRUE(ex_style & WS_EX_CONTEXTHELP);
  EXPECT_EQ(ClientSize(dialog).cx, 160);
  EXPECT_EQ(ClientSize(dialog).cy, 130);
  RECT outer;
  GetWindowRect(dialog, &outer);
  EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

  HICON icon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
  ICONINFO icon_info{};
  ASSERT_TRUE(icon != nullptr && GetIconInfo(icon, &icon_info));
  BITMAP icon_bits{};
  GetObjectA(icon_info.hbmColor, sizeof icon_bits, &icon_bits);
  EXPECT_EQ(icon_bits.bmWidth, 32);
  EXPECT_EQ(icon_bits.bmHeight, 32);
  DeleteObject(icon_info.hbmColor);
  DeleteObject(icon_info.hbmMask);

  // "MS Sans Serif" 8 point, realised as itself; the toggle's smaller font.
  HWND combo = d.Control(C::COMComboBox);
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(combo, WM_GETFONT, 0, 0));
  LOGFONTA logical{};
  GetObjectA(font, sizeof logical, &logical);
  EXPECT_STREQ(logical.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(logical.lfHeight, -11);
  HDC dc = GetDC(combo);
  HGDIOBJ old = SelectObject(dc, font);
  char face[LF_FACESIZE] = "";
  GetTextFaceA(dc, sizeof face, face);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SIZE stable{};  // "stable codes" beside its box: the box, half a digit, the text, the focus frame
  GetTextExtentPoint32A(dc, "stable codes", 12, &stable);
  const Rect box = Placement(C::StableCodesCheckBox).rect;
  EXPECT_LE(GetSystemMetrics(SM_CXMENUCHECK) + 3 + stable.cx + 2, box.width);
  EXPECT_GE(Placement(C::LoadDefaultButton).rect.left, box.left + box.width + 15);  // buttons' gap
  SelectObject(dc, old);
  ReleaseDC(combo, dc);
  EXPECT_STREQ(face, "MS Sans Serif");
  EXPECT_EQ(metrics.tmHeight - metrics.tmInternalLeading, 11);
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(d.Control(C::AdvancedButton), WM_GETFONT, 0, 0)),
             sizeof logical, &logical);
  EXPECT_EQ(logical.lfHeight, -7);

  // Every control where the layout puts it; a spin edit is its field and its arrows.
  for (const ControlPlacement& place : ConfigBoxPlacements()) {
    HWND window = d.Control(place.control);
    ASSERT_TRUE(window != nullptr) << Index(place.control);
    EXPECT_EQ(GetParent(window), place.on_panel ? d.Control(C::Panel1) : d.dialog());
    RECT r = InParent(window);
    if (place.kind == ControlKind::kSpinEdit) {
      RECT arrows = InParent(d.Arrows(place.control));
      UnionRect(&r, &r, &arrows);
    }
    EXPECT_EQ(r.left, place.rect.left) << Index(place.control);
    EXPECT_EQ(r.top, place.rect.top) << Index(place.control);
    EXPECT_EQ(r.right - r.left, place.rect.width) << Index(place.control);
    EXPECT_EQ(r.bottom - r.top, place.rect.height) << Index(place.control);
  }
  EXPECT_EQ(TextOf(d.Control(C::AdvancedButton)), "Advanced >>");
  EXPECT_EQ(TextOf(d.Control(C::WWWLabel)), "www");
  EXPECT_EQ(TextOf(d.Control(C::CountLabel)), "Command order");
  EXPECT_TRUE(GetWindowLongA(d.Control(C::OKButton), GWL_STYLE) & BS_DEFPUSHBUTTON);
}

// The keyboard's order through the dialog: the panel's controls, then the dialog's.
std::vector<C> TabOrder(const DialogDriver& d) {
  std::vector<C> order;
  auto collect = [&](HWND parent) {
    for (HWND w = GetWindow(parent, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
      if (w == d.Control(C::Panel1)) {
        for (HWND p = GetWindow(w, GW_CHILD); p != nullptr; p = GetWindow(p, GW_HWNDNEXT)) {
          for (const ControlPlacement& place : ConfigBoxPlacements()) {
            if (d.Control(place.control) == p && (GetWindowLongA(p, GWL_STYLE) & WS_TABSTOP)) {
              order.push_back(place.control);
            }
          }
        }
      }
      for (const ControlPlacement& place : ConfigBoxPlacements()) {
        if (!place.on_panel && d.Control(place.control) == w &&
            (GetWindowLongA(w, GWL_STYLE) & WS_TABSTOP)) {
          order.push_back(place.control);
        }
      }
    }
  };
  collect(d.dialog());
  return order;
}

void CheckLayoutAndSize(const DialogDriver& d) {
  HWND dialog = d.dialog();
  const std::vector<C> basic = {C::COMComboBox,    C::InputSignalComboBox,
                                C::AdvancedButton, C::ServiceCheckBox,
                                C::OKButton,       C::InfoButton};
  EXPECT_EQ(TabOrder(d), basic);
  SetWindowPos(dialog, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(ClientSize(dialog).cx, 160);
  EXPECT_EQ(ClientSize(dialog).cy, 130);

  SendMessageA(d.Control(C::AdvancedButton), BM_CLICK, 0, 0);
  EXPECT_EQ(ClientSize(dialog).cx, 335);
  EXPECT_EQ(ClientSize(dialog).cy, 130);
  EXPECT_EQ(TextOf(d.Control(C::AdvancedButton)), "Advanced <<");
  RECT place;
  GetWindowRect(dialog, &place);
  MoveWindow(dialog, place.left, place.top, 100, 60, TRUE);
  EXPECT_EQ(ClientSize(dialog).cx, 335);
  EXPECT_EQ(ClientSize(dialog).cy, 130);
  const std::vector<C> advanced = {
      C::COMComboBox,      C::InputSignalComboBox, C::AdvancedButton,       C::ServiceCheckBox,
      C::OKButton,         C::InfoButton,          C::CommandOrderSpinEdit, C::AllowRing0CheckBox,
      C::PrioritySpinEdit, C::LoadDefaultButton,   C::BitMaskSpinEdit,      C::StableCodesCheckBox};
  EXPECT_EQ(TabOrder(d), advanced);
}

void CheckPortRule(const DialogDriver& d) {
  const C ruled[] = {C::InputSignalComboBox, C::InputSignalLabel, C::AllowRing0CheckBox};
  HWND edit = d.PortEdit();
  d.Type(edit, "USB");
  for (C c : ruled) EXPECT_FALSE(Shown(d.Control(c)));
  d.Type(edit, "usb");
  for (C c : ruled) EXPECT_TRUE(Shown(d.Control(c)));
  // A choice from the list counts as soon as it is made.
  HWND combo = d.Control(C::COMComboBox);
  SendMessageA(combo, CB_SETCURSEL, 4, 0);
  SendMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(ControlId(C::COMComboBox), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  for (C c : ruled) EXPECT_FALSE(Shown(d.Control(c)));
  // Typed or pasted, a port name keeps at most six characters.
  d.Type(edit, "COM12345");
  EXPECT_EQ(TextOf(combo), "COM123");
  for (C c : ruled) EXPECT_TRUE(Shown(d.Control(c)));
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 16);
    memcpy(GlobalLock(memory), "COM99999999", 12);
    GlobalUnlock(memory);
    SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_PASTE, 0, 0);
    EXPECT_EQ(TextOf(combo), "COM999");
  } else {
    ADD_FAILURE() << "no clipboard";
  }
}

void CheckSpinEdits(const DialogDriver& d) {
  HWND order = d.Control(C::CommandOrderSpinEdit);
  HWND mask = d.Control(C::BitMaskSpinEdit);
  HWND priority = d.Control(C::PrioritySpinEdit);
  // Given 12, 200 and 9 by the cycle.
  EXPECT_EQ(TextOf(order), "9");
  EXPECT_EQ(TextOf(mask), "99");
  EXPECT_EQ(TextOf(priority), "8");

  d.Type(mask, "x");  // not a number's character: refused
  EXPECT_EQ(TextOf(mask), "99");
  d.Type(mask, "-");  // a lone minus reads as the minimum
  EXPECT_EQ(TextOf(mask), "-");
  d.Leave(mask);
  EXPECT_EQ(TextOf(mask), "0");
  d.Type(mask, "-5");
  d.Leave(mask);
  EXPECT_EQ(TextOf(mask), "0");
  d.Type(mask, "123");  // two characters at most
  EXPECT_EQ(TextOf(mask), "12");
  d.Type(mask, "\b");  // empty
  SendMessageA(mask, WM_KEYDOWN, VK_UP, 0);
  EXPECT_EQ(TextOf(mask), "1");

  SendMessageA(order, WM_KEYDOWN, VK_UP, 0);  // at the top already
  EXPECT_EQ(TextOf(order), "9");
  SendMessageA(order, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(TextOf(order), "8");
  // The arrow buttons: a click on the upper half steps up.
  RECT arrows;
  GetClientRect(d.Arrows(C::PrioritySpinEdit), &arrows);
  d.Type(priority, "3");
  d.Click(d.Arrows(C::PrioritySpinEdit), {arrows.right / 2, arrows.bottom / 4});
  EXPECT_TRUE(WaitFor([&] { return TextOf(priority) == "4"; })) << TextOf(priority);
}

void CheckDefaults(const DialogDriver& d, bool ring0_enabled) {
  SendMessageA(d.Control(C::ServiceCheckBox), BM_SETCHECK, BST_CHECKED, 0);
  d.Type(d.PortEdit(), "USB");
  SendMessageA(d.Control(C::LoadDefaultButton), BM_CLICK, 0, 0);
  EXPECT_EQ(TextOf(d.Control(C::COMComboBox)), "COM1");
  EXPECT_EQ(SendMessageA(d.Control(C::InputSignalComboBox), CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendMessageA(d.Control(C::ServiceCheckBox), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(TextOf(d.Control(C::CommandOrderSpinEdit)), "0");
  EXPECT_EQ(TextOf(d.Control(C::BitMaskSpinEdit)), "16");
  EXPECT_EQ(TextOf(d.Control(C::PrioritySpinEdit)), "7");
  EXPECT_EQ(SendMessageA(d.Control(C::AllowRing0CheckBox), BM_GETCHECK, 0, 0),
            ring0_enabled ? BST_CHECKED : BST_UNCHECKED);
  EXPECT_TRUE(Shown(d.Control(C::AllowRing0CheckBox)));
}

void CheckHoverHints(const DialogDriver& d) {
  RECT outer;
  GetWindowRect(d.dialog(), &outer);
  d.PointTo(d.Control(C::COMComboBox));
  HWND first = d.HintWithText(Short(C::COMComboBox));
  ASSERT_TRUE(first != nullptr);
  RECT hint;
  GetWindowRect(first, &hint);
  EXPECT_LE(hint.right - hint.left, outer.right - outer.left);
  EXPECT_EQ(DialogDriver::InsideColour(first), RGB(255, 255, 0));
  // Another control's hint replaces it at once.
  d.PointTo(d.Control(C::OKButton));
  EXPECT_TRUE(d.HintWithText(Short(C::OKButton)) != nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(d.Hints().size(), 1u);
  // The disabled ring-0 box explains itself through the dialog; the bare dialog ends it.
  d.PointTo(d.Control(C::AllowRing0CheckBox));
  EXPECT_TRUE(d.HintWithText(Short(C::AllowRing0CheckBox)) != nullptr);
  d.PointTo(d.dialog(), {200, 126});  // below the "stable codes" box
  EXPECT_TRUE(WaitFor([&] { return d.Hints().empty(); }));
}

void CheckContextHelp(const DialogDriver& d) {
  // "?" then the command-order label: the system's help mode exists only on Windows, so
  // the press on the label is queued before the title-bar command, as the help mode
  // would leave it.
  HWND label = d.Control(C::CountLabel);
  d.PointTo(label);
  ASSERT_TRUE(WaitFor([&] {
    return WindowFromPoint([&] {
             POINT p;
             GetCursorPos(&p);
             return p;
           }()) == label;
  }));
  POINT cursor;
  GetCursorPos(&cursor);
  // Both queued by the dialog's own thread, one after the other, so that the press waits
  // behind the command. (Stopping that thread to queue them from here could stop it inside
  // a lock this thread needs to post.)
  SendMessageA(d.poster(), kPostHelpAndPress, reinterpret_cast<WPARAM>(d.dialog()),
               reinterpret_cast<LPARAM>(label));
  HWND help = d.HintWithText(Long(C::CommandOrderSpinEdit));
  ASSERT_TRUE(help != nullptr);
  RECT r;
  GetWindowRect(help, &r);
  EXPECT_EQ(r.left, cursor.x);
  EXPECT_EQ(r.top, cursor.y);
  EXPECT_EQ(DialogDriver::InsideColour(help), RGB(0, 255, 255));
  // A press on the bare dialog removes it.
  PostMessageA(d.dialog(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 115));
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(help); }));

  // Help requests: the port box's edit field is the port box; a spin edit's arrows are
  // nothing the dialog explains; outside help mode a label press shows nothing.
  HELPINFO request{sizeof(HELPINFO), HELPINFO_WINDOW, 0, d.PortEdit(), 0, {30, 40}};
  SendMessageA(d.dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&request));
  HWND port_help = d.HintWithText(Long(C::COMComboBox));
  ASSERT_TRUE(port_help != nullptr);
  GetWindowRect(port_help, &r);
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.top, 40);
  request.hItemHandle = d.Arrows(C::BitMaskSpinEdit);
  SendMessageA(d.dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&request));
  EXPECT_FALSE(IsWindow(port_help));
  EXPECT_FALSE(d.HelpShown());
  PostMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  Sleep(100);
  EXPECT_FALSE(d.HelpShown());
}

void CheckSchematic(const DialogDriver& d, DWORD ui_thread) {
  HWND info = d.Control(C::InfoButton);
  SendMessageA(info, BM_CLICK, 0, 0);
  HWND form = FindWindowA(kHelpFormClass, kHelpFormCaption);
  ASSERT_TRUE(form != nullptr && IsWindowVisible(form));
  RECT r;
  GetWindowRect(form, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(ClientSize(form).cx, 447);
  EXPECT_EQ(ClientSize(form).cy, 212);
  EXPECT_TRUE(GetWindowLongA(form, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_EQ(GetWindow(form, GW_OWNER), d.dialog());
  // The picture shows the schematic: the white of its background, the silver of the
  // detector module.
  HWND image = GetWindow(form, GW_CHILD);
  auto pixel = [&](int x, int y) {
    HDC dc = GetDC(image);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(image, dc);
    return colour;
  };
  EXPECT_TRUE(WaitFor([&] { return pixel(200, 140) == RGB(192, 192, 192); }));
  EXPECT_EQ(pixel(2, 40), RGB(255, 255, 255));

  d.Click(image);  // a click hides it
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(form); }));
  EXPECT_TRUE(IsWindow(form));
  SendMessageA(info, BM_CLICK, 0, 0);  // the same window again
  EXPECT_TRUE(IsWindowVisible(form));
  PostMessageA(form, WM_CHAR, 'a', 0);  // so does a key
  EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(form); }));
  SendMessageA(info, BM_CLICK, 0, 0);
  SendMessageA(info, BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindowVisible(form));
  EXPECT_EQ(WindowsOfClass(ui_thread, kHelpFormClass).size(), 1u);
}

void CheckHomePage(const DialogDriver& d) {
  d.Click(d.Control(C::WWWLabel));

  EXPECT_TRUE(WaitFor([] { return g_shell.calls == 1; }));
  EXPECT_EQ(g_shell.parent, d.dialog());
  EXPECT_EQ(g_shell.verb, "open");
  EXPECT_EQ(g_shell.file, kHomePageAddress);
  EXPECT_TRUE(g_shell.no_parameters);
  EXPECT_EQ(g_shell.directory, ".");
  EXPECT_EQ(g_shell.show, SW_HIDE);
}

struct Walk {
  DWORD ui_thread;
  bool ring0_enabled;
  bool confirm;
  std::function<void(const DialogDriver&)> steps;
  HWND poster = nullptr;
};

DWORD WINAPI RunWalk(LPVOID context) {
  const Walk& walk = *static_cast<const Walk*>(context);
  HWND dialog = WaitForDialog();
  if (dialog == nullptr) {
    ADD_FAILURE() << "the dialog did not appear";
    return 1;
  }
  DialogDriver driver(dialog, walk.ui_thread, walk.poster);
  walk.steps(driver);
  if (walk.confirm) {
    // Enter presses OK, wherever the focus is.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(walk.ui_thread, &gui);
    HWND focus = gui.hwndFocus != nullptr ? gui.hwndFocus : dialog;
    PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageA(focus, WM_KEYUP, VK_RETURN, 0);
  } else {
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  // Whatever happened above, the dialog ends.
  if (!WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); })) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
  return 0;
}

int ShowWalked(Walk walk, ConfigBoxValues& values) {
  walk.ui_thread = GetCurrentThreadId();
  walk.poster = CreatePoster();
  HANDLE driver = CreateThread(nullptr, 0, RunWalk, &walk, 0, nullptr);
  Win32ConfigBox box(RecordShellOpen);
  const int result = box.ShowModal(Texts(), values);
  WaitForSingleObject(driver, 30000);
  CloseHandle(driver);
  DestroyWindow(walk.poster);
  return result;
}

TEST(ConfigBoxWindow, AScriptedRunThroughTheDialogAndItsWindows) {
  // A window of the host's on this thread: the modal dialog keeps it disabled.
  HWND host = CreateWindowExA(0, "STATIC", "host", WS_POPUP | WS_VISIBLE, 0, 500, 50, 20, nullptr,
                              nullptr, nullptr, nullptr);
  ConfigBoxValues values;
  values.port = "COM3";
  values.input_signal = 2;
  values.service = true;
  values.command_order = 12;
  values.bit_mask = 200;
  values.priority = 9;
  values.ring0_enabled = false;
  values.ring0_checked = false;
  Walk walk{
      0, false, true, [&](const DialogDriver& d) {
        EXPECT_FALSE(IsWindowEnabled(host));
        CheckFrameFontAndPlaces(d);
        CheckLayoutAndSize(d);
        CheckSpinEdits(d);
        CheckPortRule(d);
        CheckHoverHints(d);
        CheckContextHelp(d);
        CheckSchematic(d, GetWindowThreadProcessId(d.dialog(), nullptr));
        CheckHomePage(d);
        CheckDefaults(d, false);
        // Hidden controls keep their values: USB hides the pin box at DCD.
        SendMessageA(d.Control(C::InputSignalComboBox), CB_SETCURSEL, 2, 0);
        d.Type(d.PortEdit(), "USB");
        // Windows still open when the dialog ends: a hover hint, a help window, the
        // schematic.
        d.PointTo(d.Control(C::OKButton));
        d.HintWithText(Short(C::OKButton));
        HELPINFO request{sizeof(HELPINFO), HELPINFO_WINDOW, 0, d.Control(C::OKButton), 0, {1, 1}};
        SendMessageA(d.dialog(), WM_HELP, 0, reinterpret_cast<LPARAM>(&request));
        EXPECT_EQ(d.Hints().size(), 2u);
      }};
  EXPECT_EQ(ShowWalked(walk, values), kModalResultOk);
  EXPECT_EQ(values.port, "USB");
  EXPECT_EQ(values.input_signal, 2);
  EXPECT_FALSE(values.service);
  EXPECT_EQ(values.command_order, 0);
  EXPECT_EQ(values.bit_mask, 16);
  EXPECT_EQ(values.priority, 7);
  EXPECT_FALSE(values.ring0_enabled);
  EXPECT_FALSE(values.ring0_checked);
  // Nothing of the dialog is left: windows, window classes; the host's window is back.
  const DWORD self = GetCurrentThreadId();
  EXPECT_TRUE(WindowsOfClass(self, kHintWindowClass).empty());
  EXPECT_TRUE(WindowsOfClass(self, kHelpFormClass).empty());
  EXPECT_EQ(FindWindowA("#32770", kConfigBoxCaption), nullptr);
  WNDCLASSEXA unused{};
  unused.cbSize = sizeof unused;
  EXPECT_FALSE(GetClassInfoExA(ThisModule(), kHintWindowClass, &unused));
  EXPECT_TRUE(IsWindowEnabled(host));
  DestroyWindow(host);

  // With ring-0 capture possible, Defaults tick its box; the close button cancels.
  values = {};
  values.ring0_enabled = true;
  const ConfigBoxValues before = values;
  Walk cancelled{0, true, false, [](const DialogDriver& d) {
                   EXPECT_TRUE(IsWindowEnabled(d.Control(C::AllowRing0CheckBox)));
                   CheckDefaults(d, true);
                 }};
  EXPECT_EQ(ShowWalked(cancelled, values), kModalResultCancel);
  EXPECT_EQ(values, before);
}

// The plugin library carries the artwork the dialog shows: a 447 x 212 bitmap of 16
// colours at 96 dpi, uncompressed, with the standard palette, and a 32 x 32 16-colour icon.
TEST(ConfigBoxWindow, ThePluginLibraryEmbedsTheSchematicAndTheIcon) {
  HMODULE plugin = LoadLibraryExA("sfh56.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(plugin != nullptr);
  HRSRC found = FindResourceA(plugin, kSchematicResource, MAKEINTRESOURCEA(2));  // RT_BITMAP
  ASSERT_TRUE(found != nullptr);
  const auto* header =
      static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(plugin, found)));
  EXPECT_EQ(header->biWidth, 447);
  EXPECT_EQ(header->biHeight, 212);
  EXPECT_EQ(header->biBitCount, 4);
  EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(header->biXPelsPerMeter, 3780);
  EXPECT_EQ(header->biYPelsPerMeter, 3780);
  const auto* palette = reinterpret_cast<const RGBQUAD*>(header + 1);
  const COLORREF standard[16] = {
      RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
      RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
      RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
      RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(RGB(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue), standard[i]) << i;
  }
  const DWORD row_bytes = ((447 * 4 + 31) / 32) * 4;
  EXPECT_EQ(SizeofResource(plugin, found), header->biSize + 16 * sizeof(RGBQUAD) + row_bytes * 212);

  found = FindResourceA(plugin, kConfigBoxIconResource, MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_TRUE(found != nullptr);
  const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(plugin, found)));
  EXPECT_EQ(group[4] | (group[5] << 8), 1);  // one image:
  EXPECT_EQ(group[6], 32);                   // 32 wide,
  EXPECT_EQ(group[7], 32);                   // 32 high,
  EXPECT_EQ(group[8], 16);                   // 16 colours
  EXPECT_TRUE(FindResourceA(plugin, kMultiDragCursorResource, MAKEINTRESOURCEA(12)) != nullptr);
  FreeLibrary(plugin);
}

}  // namespace
}  // namespace sfh56::win32
