#include "UiLib/CTextUI.h"

namespace UiLib {

CTextUI::CTextUI() {
    textStyle_ = DT_WORDBREAK;
}

}  // namespace UiLib
