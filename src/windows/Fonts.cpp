#include "windows/Fonts.h"

namespace yubin::app {

namespace {

const QString kGothic = QStringLiteral("ＭＳ ゴシック");
const QString kProportionalGothic = QStringLiteral("ＭＳ Ｐゴシック");
const QString kPresence = QStringLiteral("HG創英ﾌﾟﾚｾﾞﾝｽEB");

}  // namespace

// The families come from Debian's packages fonts-ipafont-gothic, fonts-ipafont-mincho (which
// the install script installs) and fonts-noto-cjk (taken when it is there instead).
QStringList SubstituteFamilies(const QString& family) {
    if (family == kGothic) {
        return {QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                QStringLiteral("Noto Sans CJK JP")};
    }
    if (family == kProportionalGothic) {
        return {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")};
    }
    if (family == kPresence) {
        return {QStringLiteral("IPAPMincho"), QStringLiteral("Noto Serif CJK JP")};
    }
    return {};
}

void InstallFontSubstitutions() {
    for (const QString& family : {kGothic, kProportionalGothic, kPresence}) {
        QFont::insertSubstitutions(family, SubstituteFamilies(family));
    }
}

namespace {
// The substitute families hold every letter the windows show: no other font is merged in, so
// the toolkit need not ask the font configuration for a list of fallback families (a sort of
// every installed font, about a third of the start-up's work).
QFont NamedFont(const QString& family, qreal pointSize, bool bold) {
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoFontMerging);
    return font;
}
}  // namespace

QFont GothicFont(qreal pointSize, bool bold) { return NamedFont(kGothic, pointSize, bold); }

QFont ProportionalGothicFont(qreal pointSize, bool bold) {
    return NamedFont(kProportionalGothic, pointSize, bold);
}

QFont PresenceFont(qreal pointSize) {
    QFont font(kPresence);
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Bold);
    font.setStyleStrategy(QFont::NoFontMerging);
    return font;
}

}  // namespace yubin::app
