#include "app/Fonts.h"

namespace yubin::app {

void InstallFontSubstitutions() {}

}  // namespace yubin::app
