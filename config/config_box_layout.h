#pragma once
// Where the dialog's controls sit, what kind each is, and the dialog's fixed sizes.
// Positions are pixels in the parent's client coordinates.

#include <array>
#include <optional>

#include "config/config_box.h"

namespace sfh56 {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  // Strictly inside: a point on the edge is outside.
  bool StrictlyContains(Point p) const {
    return left < p.x && p.x < left + width && top < p.y && p.y < top + height;
  }
};

enum class ControlKind : uint8_t {
  kPanel,
  kLabel,
  kComboEdit,  // a combo box whose edit field takes typing
  kComboList,  // a drop-down list to choose from
  kButton,
  kCheckBox,
  kSpinEdit,
};

struct ControlPlacement {
  ConfigControl control;
  ControlKind kind;
  bool on_panel;  // a child of Panel1; otherwise of the dialog
  Rect rect;
  int tab;  // order within the parent; -1: never focused
};

// In the dialog's component order (ConfigControl order).
const std::array<ControlPlacement, kConfigControlCount>& ConfigBoxPlacements();
const ControlPlacement& Placement(ConfigControl control);

// The edit control a label names, or nothing for other controls.
std::optional<ConfigControl> LabelledControl(ConfigControl label);

inline constexpr int kClientHeight = 130;
inline constexpr int kBasicClientWidth = 160;
inline constexpr int kAdvancedClientWidth = 335;
inline constexpr int kBasicLayout = 0;  // AdvancedButton's tag
inline constexpr int kAdvancedLayout = 1;

inline constexpr int ClientWidthFor(int layout_tag) {
  return layout_tag == kAdvancedLayout ? kAdvancedClientWidth : kBasicClientWidth;
}

// The size rule: whatever outer size is asked for, the dialog keeps the client size of
// its layout. Takes the current outer and client sizes; returns the outer size to use.
Size FixedOuterSize(Size current_outer, Size current_client, int layout_tag);

}  // namespace sfh56
