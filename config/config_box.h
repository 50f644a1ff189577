#pragma once
// The configuration dialog as the configuration cycle sees it: the texts it shows, the
// values its controls hold, and one modal call. The Win32 dialog (config/win32/) and any
// scripted stand-in implement ConfigBox; nothing here needs a window system.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sfh56 {

// The dialog's components, in the dialog's own order (the order in which a help request
// looks for the control it is about).
enum class ConfigControl : uint8_t {
  Panel1,
  COMLabel,
  COMComboBox,
  InputSignalLabel,
  InputSignalComboBox,
  AdvancedButton,
  WWWLabel,
  ServiceCheckBox,
  OKButton,
  InfoButton,
  CountLabel,
  CommandOrderSpinEdit,
  BitMaskLabel,
  BitMaskSpinEdit,
  AllowRing0CheckBox,
  PriorityLabel,
  PrioritySpinEdit,
  LoadDefaultButton,
  StableCodesCheckBox,
};
inline constexpr size_t kConfigControlCount = 19;

inline constexpr size_t Index(ConfigControl control) {
  return static_cast<size_t>(control);
}

// Captions and hints of the controls. A hint is "short|long": hover hints show the short
// text, context help the long one. An empty caption leaves the control's own caption
// (the WWW label's "www", the pin list's items).
struct ConfigBoxTexts {
  std::array<std::string, kConfigControlCount> captions;
  std::array<std::string, kConfigControlCount> hints;

  std::string& Caption(ConfigControl c) { return captions[Index(c)]; }
  const std::string& Caption(ConfigControl c) const { return captions[Index(c)]; }
  std::string& Hint(ConfigControl c) { return hints[Index(c)]; }
  const std::string& Hint(ConfigControl c) const { return hints[Index(c)]; }
};

// The short part of a hint (all of it when it has no "|") and the long part (after the
// first "|"; all of it when there is none).
std::string ShortHint(const std::string& hint);
std::string LongHint(const std::string& hint);

// What the controls hold. The spin edits keep their values within their ranges and the
// pin list shows no item for an index outside 0..2: ShownValues says what the controls
// hold after being given any values.
struct ConfigBoxValues {
  std::string port = "COM1";    // COMComboBox text
  int32_t input_signal = 1;     // InputSignalComboBox index; -1: no item selected
  bool service = false;         // ServiceCheckBox ticked
  int32_t command_order = 0;    // CommandOrderSpinEdit, 0..9
  int32_t bit_mask = 16;        // BitMaskSpinEdit, 0..99
  int32_t priority = 7;         // PrioritySpinEdit, 0..8
  bool ring0_enabled = false;   // AllowRing0CheckBox enabled: ring-0 capture is possible
  bool ring0_checked = false;   // AllowRing0CheckBox ticked
  bool stable_checked = false;  // StableCodesCheckBox ticked: the stable decoding

  bool operator==(const ConfigBoxValues&) const = default;
};

ConfigBoxValues ShownValues(ConfigBoxValues values);

inline constexpr int kModalResultNone = 0;    // the dialog could not be shown
inline constexpr int kModalResultOk = 1;      // OKButton (or Enter)
inline constexpr int kModalResultCancel = 2;  // the close button (or Escape)

class ConfigBox {
 public:
  virtual ~ConfigBox() = default;

  // Creates the dialog in its basic layout, gives the controls these texts and values
  // (ShownValues of them), shows it modally and destroys it with every window it opened.
  // Returns kModalResultOk only when the user pressed OK, and then values holds what the
  // controls held, hidden ones included; after any other result values is unchanged.
  virtual int ShowModal(const ConfigBoxTexts& texts, ConfigBoxValues& values) = 0;
};

}  // namespace sfh56
