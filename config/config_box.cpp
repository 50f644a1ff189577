#include "config/config_box.h"

#include "config/spin_edit_rule.h"

namespace sfh56 {

std::string ShortHint(const std::string& hint) {
  return hint.substr(0, hint.find('|'));
}

std::string LongHint(const std::string& hint) {
  const size_t bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

ConfigBoxValues ShownValues(ConfigBoxValues values) {
  if (values.input_signal < 0 || values.input_signal > 2) values.input_signal = -1;
  values.command_order = kCommandOrderSpin.Clamp(values.command_order);
  values.bit_mask = kBitMaskSpin.Clamp(values.bit_mask);
  values.priority = kPrioritySpin.Clamp(values.priority);
  return values;
}

}  // namespace sfh56
