// The fonts the windows name ("ＭＳ ゴシック", "ＭＳ Ｐゴシック", "HG創英ﾌﾟﾚｾﾞﾝｽEB") mapped onto
// the Japanese fonts installed on this machine, so that no text is drawn as boxes.
#pragma once

namespace yubin::app {

// Registers the substitutions; call once after the application object exists.
void InstallFontSubstitutions();

}  // namespace yubin::app
