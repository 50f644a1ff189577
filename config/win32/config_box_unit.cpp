#include "config/win32/config_box_unit.h"

#include <commctrl.h>
#include <windowsx.h>

#include <string>
#include <utility>
#include <vector>

#include "config/config_box_layout.h"
#include "config/config_box_texts.h"
#include "config/spin_edit_rule.h"

namespace sfh56::win32 {

namespace {

using C = ConfigControl;

constexpr char kPanelClass[] = "TConfigBoxPanel";
constexpr UINT_PTR kHintTimerId = 1;
constexpr UINT_PTR kFrameSubclassId = 1;
constexpr UINT_PTR kSpinSubclassId = 2;
constexpr int kFontHeight = 11;        // "MS Sans Serif" 8 point
constexpr int kSmallFontHeight = 7;    // AdvancedButton
constexpr int kComboListHeight = 90;   // room for the five ports when dropped down
constexpr int kHintBelowPointer = 20;  // a hover hint starts below the arrow pointer
constexpr COLORREF kLinkColour = RGB(0, 0, 255);
constexpr int kArrowIdOffset = 500;

// Creation order: the z-order, which is also the tab order within each parent. A label
// comes just before the control it names.
constexpr C kPanelOrder[] = {
    C::COMLabel,       C::COMComboBox, C::InputSignalLabel, C::InputSignalComboBox,
    C::AdvancedButton, C::WWWLabel,    C::ServiceCheckBox};
constexpr C kDialogOrder[] = {
    C::OKButton,           C::InfoButton,      C::CountLabel,         C::CommandOrderSpinEdit,
    C::AllowRing0CheckBox, C::PriorityLabel,   C::PrioritySpinEdit,   C::LoadDefaultButton,
    C::BitMaskLabel,       C::BitMaskSpinEdit, C::StableCodesCheckBox};
constexpr C kRuledByPort[] = {C::InputSignalComboBox, C::InputSignalLabel, C::AllowRing0CheckBox};
constexpr C kSpinEdits[] = {C::CommandOrderSpinEdit, C::BitMaskSpinEdit, C::PrioritySpinEdit};
constexpr const char* kPorts[] = {"COM1", "COM2", "COM3", "COM4", kUsbComName};
constexpr const char* kPins[] = {"CTS", "DSR", "DCD"};

const SpinEditRule& RuleOf(C spin) {
  switch (spin) {
    case C::CommandOrderSpinEdit:
      return kCommandOrderSpin;
    case C::BitMaskSpinEdit:
      return kBitMaskSpin;
    default:
      return kPrioritySpin;
  }
}

std::string TextOf(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), length + 1)));
  return text;
}

HFONT MakeFont(int height, bool underline) {
  return CreateFontA(-height, 0, 0, 0, FW_NORMAL, FALSE, underline ? TRUE : FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
}

bool Visible(HWND window) {
  return (GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

char DecimalSeparator() {
  char separator[4] = ".";
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator);
  return separator[0];
}

// The dialog's template: caption and frame only; the controls are made in pixels.
struct DialogTemplate {
  alignas(4) WORD words[32] = {};
  DialogTemplate() {
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN;
    const DWORD ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP | WS_EX_TOPMOST;
    size_t i = 0;
    words[i++] = LOWORD(style);
    words[i++] = HIWORD(style);
    words[i++] = LOWORD(ex_style);
    words[i++] = HIWORD(ex_style);
    i += 5;  // no items; x, y, cx, cy set in pixels later
    i += 2;  // no menu, the standard dialog class
    for (const char* c = kConfigBoxCaption; *c != '\0'; ++c) words[i++] = static_cast<WORD>(*c);
  }
};

struct DisabledWindows {
  HWND dialog;
  std::vector<HWND> windows;
};

BOOL CALLBACK DisableThreadWindow(HWND window, LPARAM context) {
  auto* disabled = reinterpret_cast<DisabledWindows*>(context);
  if (window != disabled->dialog && IsWindowVisible(window) && IsWindowEnabled(window)) {
    EnableWindow(window, FALSE);
    disabled->windows.push_back(window);
  }
  return TRUE;
}

}  // namespace

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

TConfigBox::TConfigBox(const ConfigBoxTexts& texts, const ConfigBoxValues& values,
                       ShellOpen shell_open)
    : logic_(texts, values.ring0_enabled),
      initial_values_(ShownValues(values)),
      shell_open_(shell_open),
      panel_class_(ThisModule(), kPanelClass, Panel1Proc,
                   reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), LoadCursor(nullptr, IDC_ARROW)),
      hint_class_(HintWindow::RegisterClass(ThisModule())),
      help_form_class_(THelpForm::RegisterClass(ThisModule())),
      last_tick_(GetTickCount()) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  const DialogTemplate dialog_template;
  CreateDialogIndirectParamA(ThisModule(), reinterpret_cast<LPCDLGTEMPLATEA>(dialog_template.words),
                             nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
}

TConfigBox::~TConfigBox() {
  if (dialog_ != nullptr) DestroyWindow(dialog_);
  for (HFONT font : {font_, small_font_, link_font_}) {
    if (font != nullptr) DeleteObject(font);
  }
  if (icon_ != nullptr) DestroyIcon(icon_);
}

// --- Window procedures -------------------------------------------------------------------

INT_PTR CALLBACK TConfigBox::DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* box = reinterpret_cast<TConfigBox*>(lparam);
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    box->dialog_ = dialog;
    box->FormCreate();
    return FALSE;  // FormCreate placed the focus
  }
  auto* box = reinterpret_cast<TConfigBox*>(GetWindowLongPtrA(dialog, DWLP_USER));
  return box != nullptr ? box->Dispatch(message, wparam, lparam) : FALSE;
}

INT_PTR TConfigBox::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) FormActivate();
      return FALSE;
    case WM_WINDOWPOSCHANGING: {
      auto* position = reinterpret_cast<WINDOWPOS*>(lparam);
      if ((position->flags & SWP_NOSIZE) == 0) FormCanResize(*position);
      return FALSE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (id == IDOK || id == IDCANCEL) {
        done_ = true;
        result_ = id == IDOK ? kModalResultOk : kModalResultCancel;
        // The modal loop waits in GetMessage, which a sent message (a click sent by
        // another thread or program) does not end: a posted one wakes it.
        PostMessageA(dialog_, WM_NULL, 0, 0);
      } else if (id == ControlId(C::AdvancedButton) && code == BN_CLICKED) {
        AdvancedButtonClick();
      } else if (id == ControlId(C::LoadDefaultButton) && code == BN_CLICKED) {
        LoadDefaultButtonClick();
      } else if (id == ControlId(C::InfoButton) && code == BN_CLICKED) {
        InfoButtonClick();
      } else if (id == ControlId(C::WWWLabel) && code == STN_CLICKED) {
        WWWLabelClick();
      } else if (id == ControlId(C::COMComboBox) &&
                 (code == CBN_EDITCHANGE || code == CBN_SELCHANGE)) {
        COMComboBoxChange(code == CBN_SELCHANGE);
      } else if (code == EN_KILLFOCUS) {
        for (C spin : kSpinEdits) {
          if (id == ControlId(spin)) SpinLeft(spin);
        }
      }
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code != UDN_DELTAPOS) return FALSE;
      for (C spin : kSpinEdits) {
        if (header->hwndFrom == arrows_[Index(spin)]) {
          SpinStep(spin, reinterpret_cast<const NMUPDOWN*>(lparam)->iDelta > 0 ? +1 : -1);
        }
      }
      // The spin edit's text is the value; the arrows keep no position of their own.
      SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, 1);
      return TRUE;
    }
    case WM_HELP:
      Help(*reinterpret_cast<const HELPINFO*>(lparam));
      return TRUE;
    case WM_TIMER:
      if (wparam != kHintTimerId) return FALSE;
      HintTimerTimer();
      return TRUE;
    case WM_SETCURSOR:
      if (!SetCursorFor(reinterpret_cast<HWND>(wparam))) return FALSE;
      SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) != Window(C::WWWLabel)) return FALSE;
      SetTextColor(reinterpret_cast<HDC>(wparam), kLinkColour);
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_DESTROY:
      FormDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

// The dialog's window itself, ahead of the standard dialog handling: a title-bar command
// must run its standard handling in the middle of ours.
LRESULT CALLBACK TConfigBox::FrameProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR, DWORD_PTR box) {
  if (message == WM_SYSCOMMAND)
    return reinterpret_cast<TConfigBox*>(box)->SysCommand(wparam, lparam);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(dialog, FrameProc, kFrameSubclassId);
    reinterpret_cast<TConfigBox*>(box)->dialog_ = nullptr;
  }
  return DefSubclassProc(dialog, message, wparam, lparam);
}

LRESULT TConfigBox::SysCommand(WPARAM command, LPARAM lparam) {
  logic_.SysCommandBegin(static_cast<uint32_t>(command));
  Refresh();
  // For the "?" button the system's help mode: it ends with a help request for whatever
  // the user clicks. A press on a label comes as a message of its own, handled below
  // while help mode is still set.
  const LRESULT result = DefSubclassProc(dialog_, WM_SYSCOMMAND, command, lparam);
  ProcessPendingMessages();
  logic_.SysCommandEnd();
  Refresh();
  return result;
}

LRESULT CALLBACK TConfigBox::Panel1Proc(HWND panel, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* box = reinterpret_cast<TConfigBox*>(GetWindowLongPtrA(panel, GWLP_USERDATA));
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(panel, &paint);
      RECT rect;
      GetClientRect(panel, &rect);
      DrawEdge(dc, &rect, EDGE_ETCHED, BF_RECT);  // lowered outer, raised inner bevel
      EndPaint(panel, &paint);
      return 0;
    }
    case WM_SETCURSOR:
      if (box != nullptr && box->SetCursorFor(reinterpret_cast<HWND>(wparam))) return TRUE;
      break;
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      // The controls on the panel belong to the dialog.
      return SendMessageA(GetParent(panel), message, wparam, lparam);
    default:
      break;
  }
  return DefWindowProcA(panel, message, wparam, lparam);
}

LRESULT CALLBACK TConfigBox::SpinEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam,
                                          UINT_PTR, DWORD_PTR) {
  if (message == WM_CHAR && wparam >= 0x20 &&
      !SpinEditRule::AcceptsChar(static_cast<char>(wparam), DecimalSeparator())) {
    MessageBeep(MB_OK);
    return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, SpinEditProc, kSpinSubclassId);
  return DefSubclassProc(edit, message, wparam, lparam);
}

// --- Handlers ----------------------------------------------------------------------------

void TConfigBox::FormCreate() {
  logic_.FormCreate(Now());
  SetWindowSubclass(dialog_, FrameProc, kFrameSubclassId, reinterpret_cast<DWORD_PTR>(this));
  font_ = MakeFont(kFontHeight, false);
  small_font_ = MakeFont(kSmallFontHeight, false);
  link_font_ = MakeFont(kFontHeight, true);
  icon_ = static_cast<HICON>(
      LoadImageA(ThisModule(), kConfigBoxIconResource, IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  if (icon_ != nullptr) {
    SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  }
  multi_drag_cursor_ = LoadCursorA(ThisModule(), kMultiDragCursorResource);
  SendMessageA(dialog_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  HINSTANCE module = ThisModule();
  const ControlPlacement& panel_place = Placement(C::Panel1);
  HWND panel = CreateWindowExA(
      WS_EX_CONTROLPARENT, kPanelClass, "", WS_CHILD | WS_VISIBLE, panel_place.rect.left,
      panel_place.rect.top, panel_place.rect.width, panel_place.rect.height, dialog_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(C::Panel1))), module, nullptr);
  SetWindowLongPtrA(panel, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  controls_[Index(C::Panel1)] = panel;

  auto create = [&](C control) {
    const ControlPlacement& place = Placement(control);
    HWND parent = place.on_panel ? panel : dialog_;
    const Rect& r = place.rect;
    const char* window_class = "BUTTON";
    DWORD style = WS_CHILD | WS_VISIBLE | (place.tab >= 0 ? WS_TABSTOP : 0);
    DWORD ex_style = 0;
    int height = r.height;
    switch (place.kind) {
      case ControlKind::kLabel:
        window_class = "STATIC";
        style |= SS_NOTIFY | (control == C::InputSignalLabel ? SS_LEFT : SS_LEFTNOWORDWRAP);
        break;
      case ControlKind::kComboEdit:
      case ControlKind::kComboList:
        window_class = "COMBOBOX";
        style |=
            WS_VSCROLL | (place.kind == ControlKind::kComboEdit ? CBS_DROPDOWN | CBS_AUTOHSCROLL
                                                                : CBS_DROPDOWNLIST);
        height += kComboListHeight;
        break;
      case ControlKind::kButton:
        style |= control == C::OKButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        break;
      case ControlKind::kCheckBox:
        style |= BS_AUTOCHECKBOX;
        break;
      case ControlKind::kSpinEdit:
        window_class = "EDIT";
        style |= ES_AUTOHSCROLL | ES_LEFT;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::kPanel:
        return;
    }
    HWND window = CreateWindowExA(
        ex_style, window_class, "", style, r.left, r.top, r.width, height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(control))), module, nullptr);
    controls_[Index(control)] = window;
    const HFONT font = control == C::AdvancedButton ? small_font_
                       : control == C::WWWLabel     ? link_font_
                                                    : font_;
    SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (place.kind == ControlKind::kComboEdit || place.kind == ControlKind::kComboList) {
      for (const char* item : place.kind == ControlKind::kComboEdit
                                  ? std::vector<const char*>(std::begin(kPorts), std::end(kPorts))
                                  : std::vector<const char*>(std::begin(kPins), std::end(kPins))) {
        SendMessageA(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
      }
      // The closed box is as high as the layout says, whatever the font makes of it.
      RECT closed;
      GetWindowRect(window, &closed);
      const auto item_height =
          static_cast<int>(SendMessageA(window, CB_GETITEMHEIGHT, WPARAM(-1), 0));
      const int excess = static_cast<int>(closed.bottom - closed.top) - r.height;
      if (excess != 0 && item_height - excess > 0) {
        SendMessageA(window, CB_SETITEMHEIGHT, WPARAM(-1), item_height - excess);
      }
    }
    if (place.kind == ControlKind::kSpinEdit) {
      SendMessageA(window, EM_LIMITTEXT, static_cast<WPARAM>(RuleOf(control).max_chars), 0);
      SetWindowSubclass(window, SpinEditProc, kSpinSubclassId, reinterpret_cast<DWORD_PTR>(this));
      HWND arrows = CreateWindowExA(
          0, UPDOWN_CLASSA, "",
          WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0, 0, 0, 0,
          dialog_,
          reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(control) + kArrowIdOffset)),
          module, nullptr);
      SendMessageA(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(window), 0);
      // The arrows overlap the field's border; together they take the layout's width.
      RECT field;
      RECT buttons;
      GetWindowRect(window, &field);
      GetWindowRect(arrows, &buttons);
      const int short_by = r.width - static_cast<int>(buttons.right - field.left);
      if (short_by != 0) {
        SetWindowPos(window, nullptr, 0, 0, field.right - field.left + short_by, r.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&buttons), 2);
        SetWindowPos(arrows, nullptr, buttons.left + short_by, buttons.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      SendMessageA(arrows, UDM_SETRANGE32, static_cast<WPARAM>(RuleOf(control).min_value),
                   RuleOf(control).max_value);
      arrows_[Index(control)] = arrows;
    }
  };
  for (C control : kPanelOrder) create(control);
  for (C control : kDialogOrder) create(control);
  SendMessageA(Window(C::COMComboBox), CB_LIMITTEXT, 6, 0);

  const ConfigBoxTexts& texts = logic_.Texts();
  for (const ControlPlacement& place : ConfigBoxPlacements()) {
    const std::string& caption = texts.Caption(place.control);
    if (!caption.empty() && place.control != C::AdvancedButton) {
      SetWindowTextA(Window(place.control), caption.c_str());
    }
  }
  SetWindowTextA(Window(C::WWWLabel), "www");
  SetValues(initial_values_);
  Refresh();  // the basic layout's size, the toggle's caption, the timer
  RECT outer;
  GetWindowRect(dialog_, &outer);
  SetWindowPos(dialog_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetFocus(Window(C::COMComboBox));
}

void TConfigBox::FormActivate() {
  logic_.FormActivate(TextOf(Window(C::COMComboBox)));
  Refresh();
}

void TConfigBox::FormCanResize(WINDOWPOS& position) {
  RECT outer;
  RECT client;
  GetWindowRect(dialog_, &outer);
  GetClientRect(dialog_, &client);
  const Size size = logic_.FormCanResize({outer.right - outer.left, outer.bottom - outer.top},
                                         {client.right, client.bottom});
  position.cx = size.width;
  position.cy = size.height;
}

void TConfigBox::FormDestroy() {
  logic_.FormDestroy();
  hover_hint_.Remove();
  help_hint_.Remove();
  help_form_.reset();
  KillTimer(dialog_, kHintTimerId);
}

void TConfigBox::FormMouseDown() {
  logic_.FormMouseDown();
  Refresh();
}

void TConfigBox::Panel1MouseDown() {
  logic_.Panel1MouseDown();
  Refresh();
}

void TConfigBox::FormMouseMove(POINT client) {
  POINT screen = client;
  ClientToScreen(dialog_, &screen);
  logic_.FormMouseMove({client.x, client.y}, HintPositionAt(screen), Now());
  Refresh();
}

void TConfigBox::COMComboBoxChange(bool chosen) {
  HWND combo = Window(C::COMComboBox);
  std::string text = TextOf(combo);
  // A choice from the list arrives before the box shows it.
  const auto chosen_item = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (chosen && chosen_item != CB_ERR) {
    const auto length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(chosen_item), 0);
    if (length != CB_ERR) {
      text.assign(static_cast<size_t>(length) + 1, '\0');
      SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(chosen_item),
                   reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<size_t>(length));
    }
  }
  logic_.COMComboBoxChange(text);
  Refresh();
}

void TConfigBox::AdvancedButtonClick() {
  logic_.AdvancedButtonClick();
  Refresh();
}

void TConfigBox::LoadDefaultButtonClick() {
  SetValues(logic_.LoadDefaultButtonClick());
  Refresh();
}

void TConfigBox::InfoButtonClick() {
  if (!help_form_) help_form_ = std::make_unique<THelpForm>(dialog_);
  help_form_->Show();
}

void TConfigBox::WWWLabelClick() {
  // Whether a browser opens is not reported.
  (void)shell_open_(dialog_, "open", kHomePageAddress, nullptr, ".", SW_HIDE);
}

void TConfigBox::HintTimerTimer() {
  KillTimer(dialog_, kHintTimerId);
  POINT cursor{};
  GetCursorPos(&cursor);
  HWND under = WindowFromPoint(cursor);
  if (under != dialog_ && !IsChild(dialog_, under)) logic_.PointerLeft();
  logic_.Advance(Now(), HintPositionAt(cursor));
  Refresh();
}

void TConfigBox::Help(const HELPINFO& request) {
  // The standard handling has nothing to do: the dialog assigns no help contexts.
  std::optional<ConfigControl> item;
  if (request.iContextType == HELPINFO_WINDOW) {
    item = ControlOf(static_cast<HWND>(request.hItemHandle), true);
  }
  logic_.HelpRequest(item, {request.MousePos.x, request.MousePos.y});
  Refresh();
}

// --- Messages and state ------------------------------------------------------------------

int TConfigBox::ShowModal() {
  if (dialog_ == nullptr) return kModalResultNone;
  // The thread's other windows (the host's) wait for the dialog, as under any modal one.
  DisabledWindows disabled{dialog_, {}};
  EnumThreadWindows(GetCurrentThreadId(), DisableThreadWindow, reinterpret_cast<LPARAM>(&disabled));
  ShowWindow(dialog_, SW_SHOW);
  SetForegroundWindow(dialog_);
  bool quit = false;
  WPARAM quit_code = 0;
  while (!done_ && dialog_ != nullptr) {
    MSG message;
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // The thread is asked to end: the dialog ends as cancelled and the request stays.
      quit = got == 0;
      quit_code = message.wParam;
      break;
    }
    Process(message);
  }
  for (auto it = disabled.windows.rbegin(); it != disabled.windows.rend(); ++it) {
    EnableWindow(*it, TRUE);
  }
  if (dialog_ != nullptr) ShowWindow(dialog_, SW_HIDE);
  if (quit) PostQuitMessage(static_cast<int>(quit_code));
  return done_ ? result_ : kModalResultCancel;
}

void TConfigBox::Process(MSG& message) {
  RouteMouse(message);
  if (dialog_ != nullptr && IsDialogMessageA(dialog_, &message)) return;
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

void TConfigBox::ProcessPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Process(message);
  }
}

// The hint machinery and the presses on the dialog's background and labels: what the
// pointer does anywhere in the dialog passes here before it is dispatched.
void TConfigBox::RouteMouse(const MSG& message) {
  if (dialog_ == nullptr || message.hwnd == nullptr) return;
  const POINT at{GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
  if (message.message == WM_MOUSEMOVE) {
    if (message.hwnd == dialog_) {
      FormMouseMove(at);
    } else if (auto control = ControlOf(message.hwnd, false)) {
      POINT screen = at;
      ClientToScreen(message.hwnd, &screen);
      logic_.MouseMoveOver(*control, HintPositionAt(screen), Now());
      Refresh();
    }
    return;
  }
  switch (message.message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      break;
    default:
      return;
  }
  if (message.hwnd == dialog_) {
    FormMouseDown();
  } else if (message.hwnd == Window(C::Panel1)) {
    Panel1MouseDown();
  } else if (auto control = ControlOf(message.hwnd, false); control && LabelledControl(*control)) {
    POINT cursor{};
    GetCursorPos(&cursor);
    logic_.LabelMouseDown(*control, {cursor.x, cursor.y});
    Refresh();
  }
}

void TConfigBox::Refresh() {
  if (dialog_ == nullptr) return;
  for (C control : kRuledByPort) {
    const bool shown = logic_.Shown(control);
    if (Visible(Window(control)) != shown) ShowWindow(Window(control), shown ? SW_SHOWNA : SW_HIDE);
  }
  if (shown_layout_ != logic_.LayoutTag()) {
    shown_layout_ = logic_.LayoutTag();
    SetClientWidth(logic_.ClientWidth());
    // Controls beyond the basic layout's width cannot be seen there, so the keyboard
    // does not reach them either.
    const bool advanced = shown_layout_ == kAdvancedLayout;
    for (const ControlPlacement& place : ConfigBoxPlacements()) {
      if (place.on_panel || place.tab < 0 || place.rect.left < kBasicClientWidth) continue;
      HWND window = Window(place.control);
      const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
      SetWindowLongPtrA(window, GWL_STYLE, advanced ? style | WS_TABSTOP : style & ~WS_TABSTOP);
      if (!advanced && GetFocus() == window) SetFocus(Window(C::AdvancedButton));
    }
  }
  if (TextOf(Window(C::AdvancedButton)) != logic_.AdvancedCaption()) {
    SetWindowTextA(Window(C::AdvancedButton), logic_.AdvancedCaption().c_str());
  }
  hover_hint_.Show(logic_.HoverHintWindow(), dialog_, font_);
  help_hint_.Show(logic_.HelpHintWindow(), dialog_, font_);
  if (const std::optional<Millis> due = logic_.NextDeadline()) {
    const Millis wait = *due - Now();
    SetTimer(dialog_, kHintTimerId,
             static_cast<UINT>(wait < 1            ? 1
                               : wait > 0x7FFFFFFF ? 0x7FFFFFFF
                                                   : wait),
             nullptr);
  } else {
    KillTimer(dialog_, kHintTimerId);
  }
}

void TConfigBox::SetClientWidth(int width) {
  RECT outer;
  RECT client;
  GetWindowRect(dialog_, &outer);
  GetClientRect(dialog_, &client);
  // The size rule (FormCanResize) settles the exact size on the way.
  SetWindowPos(dialog_, nullptr, 0, 0, outer.right - outer.left - client.right + width,
               outer.bottom - outer.top - client.bottom + kClientHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TConfigBox::SetValues(const ConfigBoxValues& given) {
  const ConfigBoxValues values = ShownValues(given);
  SetWindowTextA(Window(C::COMComboBox), values.port.c_str());
  SendMessageA(Window(C::InputSignalComboBox), CB_SETCURSEL,
               static_cast<WPARAM>(values.input_signal), 0);
  SendMessageA(Window(C::ServiceCheckBox), BM_SETCHECK,
               values.service ? BST_CHECKED : BST_UNCHECKED, 0);
  SetWindowTextA(Window(C::CommandOrderSpinEdit), SpinEditRule::Text(values.command_order).c_str());
  SetWindowTextA(Window(C::BitMaskSpinEdit), SpinEditRule::Text(values.bit_mask).c_str());
  SetWindowTextA(Window(C::PrioritySpinEdit), SpinEditRule::Text(values.priority).c_str());
  EnableWindow(Window(C::AllowRing0CheckBox), values.ring0_enabled ? TRUE : FALSE);
  SendMessageA(Window(C::AllowRing0CheckBox), BM_SETCHECK,
               values.ring0_checked ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageA(Window(C::StableCodesCheckBox), BM_SETCHECK,
               values.stable_checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

ConfigBoxValues TConfigBox::Values() const {
  ConfigBoxValues values;
  values.port = TextOf(Window(C::COMComboBox));
  values.input_signal =
      static_cast<int32_t>(SendMessageA(Window(C::InputSignalComboBox), CB_GETCURSEL, 0, 0));
  values.service = SendMessageA(Window(C::ServiceCheckBox), BM_GETCHECK, 0, 0) == BST_CHECKED;
  values.command_order = kCommandOrderSpin.Read(TextOf(Window(C::CommandOrderSpinEdit)));
  values.bit_mask = kBitMaskSpin.Read(TextOf(Window(C::BitMaskSpinEdit)));
  values.priority = kPrioritySpin.Read(TextOf(Window(C::PrioritySpinEdit)));
  values.ring0_enabled = IsWindowEnabled(Window(C::AllowRing0CheckBox)) != FALSE;
  values.ring0_checked =
      SendMessageA(Window(C::AllowRing0CheckBox), BM_GETCHECK, 0, 0) == BST_CHECKED;
  values.stable_checked =
      SendMessageA(Window(C::StableCodesCheckBox), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return values;
}

void TConfigBox::SpinStep(C spin, int delta) {
  HWND edit = Window(spin);
  SetWindowTextA(edit, SpinEditRule::Text(RuleOf(spin).Step(TextOf(edit), delta)).c_str());
}

void TConfigBox::SpinLeft(C spin) {
  // What the field reads as is what it shows once the user leaves it.
  HWND edit = Window(spin);
  const std::string text = TextOf(edit);
  const std::string value = SpinEditRule::Text(RuleOf(spin).Read(text));
  if (text != value) SetWindowTextA(edit, value.c_str());
}

bool TConfigBox::SetCursorFor(HWND window) {
  HCURSOR cursor = nullptr;
  if (window == Window(C::WWWLabel)) cursor = LoadCursor(nullptr, IDC_HAND);
  if (window == Window(C::InfoButton)) cursor = LoadCursor(nullptr, IDC_HELP);
  if (window == Window(C::ServiceCheckBox)) cursor = multi_drag_cursor_;
  if (cursor == nullptr) return false;
  SetCursor(cursor);
  return true;
}

std::optional<ConfigControl> TConfigBox::ControlOf(HWND window, bool for_help) const {
  if (window == nullptr) return std::nullopt;
  for (size_t i = 0; i < kConfigControlCount; ++i) {
    if (controls_[i] == window) return static_cast<C>(i);
    // A spin edit's arrows are part of it for hints, but not a control of their own that
    // help could explain.
    if (arrows_[i] == window) return for_help ? std::nullopt : std::optional(static_cast<C>(i));
  }
  // The edit field inside the port box is the port box.
  HWND parent = GetParent(window);
  if (parent != nullptr && parent == Window(C::COMComboBox)) return C::COMComboBox;
  return std::nullopt;
}

Millis TConfigBox::Now() {
  const DWORD tick = GetTickCount();
  clock_ms_ += static_cast<DWORD>(tick - last_tick_);  // wraps after 49 days; the sum does not
  last_tick_ = tick;
  return clock_ms_;
}

Point TConfigBox::HintPositionAt(POINT screen) const {
  return {screen.x, screen.y + kHintBelowPointer};
}

}  // namespace sfh56::win32
