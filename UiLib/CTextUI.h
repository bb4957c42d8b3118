// Multi-line text: wrapped at word boundaries and set from the top.
#pragma once

#include "UiLib/CLabelUI.h"

namespace UiLib {

class CTextUI : public CLabelUI {
  public:
    CTextUI();
    std::string GetClass() const override { return "TextUI"; }
};

}  // namespace UiLib
