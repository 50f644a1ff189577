#pragma once
// A configuration dialog for native tests: it records what it was given and answers with
// a scripted result and scripted edits, as a user at the real dialog would.

#include <functional>
#include <utility>

#include "config/config_box.h"

namespace sfh56::testing {

class ScriptedConfigBox : public ConfigBox {
 public:
  // What the user does with the controls (as ShownValues left them) before closing.
  using Edit = std::function<void(ConfigBoxValues&)>;

  ScriptedConfigBox(int result, Edit edit = {}) : result_(result), edit_(std::move(edit)) {}

  int ShowModal(const ConfigBoxTexts& texts, ConfigBoxValues& values) override {
    ++shows;
    shown_texts = texts;
    shown_values = ShownValues(values);
    ConfigBoxValues controls = shown_values;
    if (edit_) edit_(controls);
    if (result_ == kModalResultOk) values = controls;
    return result_;
  }

  int shows = 0;
  ConfigBoxTexts shown_texts;
  ConfigBoxValues shown_values;  // what the controls showed when the dialog opened

 private:
  int result_;
  Edit edit_;
};

}  // namespace sfh56::testing
