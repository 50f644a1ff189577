#pragma once
// The dialog's texts in English, the plugin's home page, and the order in which the
// configuration cycle translates them and gives them to the controls.

#include <array>
#include <cstddef>
#include <functional>
#include <string>

#include "config/config_box.h"

namespace sfh56 {

// The plugin's home page: the WWW label opens it and the service hint names it as the
// contact. A macro, so that the texts below can be joined with it at compile time.
#define SFH56_HOME_PAGE_ADDRESS "https://sfh56.github.io/"
inline constexpr char kHomePageAddress[] = SFH56_HOME_PAGE_ADDRESS;

enum class TextRole : uint8_t {
  kCaption,    // the control's caption (the advanced toggle's gains " >>")
  kShortHint,  // the hint := this text
  kLongHint,   // the hint := the hint, "|" and this text
};

struct ConfigBoxSourceText {
  ConfigControl control;
  TextRole role;
  const char* text;
};

inline constexpr size_t kConfigBoxTextCount = 38;

// Every text the dialog shows that the host may translate, in the order of translation.
// A label's hint is a copy of its edit control's finished hint, made right after the
// label's caption.
const std::array<ConfigBoxSourceText, kConfigBoxTextCount>& ConfigBoxSourceTexts();

// Translates the 38 texts one after the other, in the order above, each result copied
// before the next text is translated (a host's translation may reuse one buffer).
ConfigBoxTexts TranslateConfigBoxTexts(
    const std::function<std::string(const std::string&)>& translate);

// The English texts, as a host without translation shows them.
ConfigBoxTexts EnglishConfigBoxTexts();

}  // namespace sfh56
