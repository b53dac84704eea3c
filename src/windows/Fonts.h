// The fonts the windows name ("ＭＳ ゴシック", "ＭＳ Ｐゴシック", "HG創英ﾌﾟﾚｾﾞﾝｽEB") mapped onto
// the Japanese fonts installed on this machine, so that no text is drawn as boxes.
#pragma once

#include <QFont>
#include <QStringList>

namespace yubin::app {

// Registers the substitutions; call once after the application object exists.
void InstallFontSubstitutions();

// The families that stand in for a named font, best first (empty for a name not mapped).
QStringList SubstituteFamilies(const QString& family);

// "ＭＳ ゴシック" and "ＭＳ Ｐゴシック" at the size.
QFont GothicFont(qreal pointSize, bool bold = false);
QFont ProportionalGothicFont(qreal pointSize, bool bold = false);

// "HG創英ﾌﾟﾚｾﾞﾝｽEB" at the size: an extra-bold face, so its stand-in, a mincho, is drawn bold.
QFont PresenceFont(qreal pointSize);

}  // namespace yubin::app
