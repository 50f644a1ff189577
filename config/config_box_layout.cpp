#include "config/config_box_layout.h"

namespace sfh56 {

namespace {

using C = ConfigControl;
using K = ControlKind;

// Tab order counts within each parent: Panel1 and the dialog's own controls, then the
// controls on Panel1.
//
// The advanced part's bottom row is the buttons' row: "stable codes" at the left, its
// caption given the room of the labels above (79 pixels beside the box), then the gap
// between OK and About HW (15), then Defaults, 2 pixels from the edge. That makes the part
// wider than its upper rows need; 130 pixels high, it has no room for the check box in a
// row of its own.
constexpr std::array<ControlPlacement, kConfigControlCount> kPlacements{{
    {C::Panel1, K::kPanel, false, {0, 0, 160, 97}, 0},
    {C::COMLabel, K::kLabel, true, {10, 11, 71, 13}, -1},
    {C::COMComboBox, K::kComboEdit, true, {80, 8, 73, 21}, 0},
    {C::InputSignalLabel, K::kLabel, true, {10, 35, 71, 13}, -1},
    {C::InputSignalComboBox, K::kComboList, true, {80, 32, 73, 21}, 1},
    {C::AdvancedButton, K::kButton, true, {80, 56, 73, 17}, 2},
    {C::WWWLabel, K::kLabel, true, {10, 77, 31, 13}, -1},
    {C::ServiceCheckBox, K::kCheckBox, true, {80, 76, 73, 17}, 3},
    {C::OKButton, K::kButton, false, {7, 100, 66, 25}, 1},
    {C::InfoButton, K::kButton, false, {88, 100, 66, 25}, 2},
    {C::CountLabel, K::kLabel, false, {170, 11, 79, 13}, -1},
    {C::CommandOrderSpinEdit, K::kSpinEdit, false, {248, 7, 35, 22}, 3},
    {C::BitMaskLabel, K::kLabel, false, {170, 35, 79, 13}, -1},
    {C::BitMaskSpinEdit, K::kSpinEdit, false, {248, 31, 35, 22}, 7},
    {C::AllowRing0CheckBox, K::kCheckBox, false, {170, 53, 111, 17}, 4},
    {C::PriorityLabel, K::kLabel, false, {170, 75, 79, 13}, -1},
    {C::PrioritySpinEdit, K::kSpinEdit, false, {248, 71, 35, 22}, 5},
    {C::LoadDefaultButton, K::kButton, false, {282, 100, 51, 25}, 6},
    {C::StableCodesCheckBox, K::kCheckBox, false, {170, 104, 97, 17}, 8},
}};

}  // namespace

const std::array<ControlPlacement, kConfigControlCount>& ConfigBoxPlacements() {
  return kPlacements;
}

const ControlPlacement& Placement(ConfigControl control) {
  return kPlacements[Index(control)];
}

std::optional<ConfigControl> LabelledControl(ConfigControl label) {
  switch (label) {
    case C::COMLabel:
      return C::COMComboBox;
    case C::InputSignalLabel:
      return C::InputSignalComboBox;
    case C::CountLabel:
      return C::CommandOrderSpinEdit;
    case C::BitMaskLabel:
      return C::BitMaskSpinEdit;
    case C::PriorityLabel:
      return C::PrioritySpinEdit;
    default:
      return std::nullopt;
  }
}

Size FixedOuterSize(Size current_outer, Size current_client, int layout_tag) {
  return {current_outer.width - current_client.width + ClientWidthFor(layout_tag),
          current_outer.height - current_client.height + kClientHeight};
}

}  // namespace sfh56
