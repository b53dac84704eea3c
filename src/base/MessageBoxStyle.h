// Message box styles and answers, shared by the core (which asks through its views) and the
// windows (which show the boxes). Styles are sums of flags:
//   buttons  0 OK only, 4 Yes and No
//   icon     16 critical, 32 question, 48 exclamation, 64 information, 0 none
//   default  256 makes the second button the default one (No in a Yes/No box)
// so 16 is "critical, OK", 292 "Yes/No, question, No default", 260 "Yes/No, No default".
#pragma once

namespace yubin::msgbox {

inline constexpr int kOkOnly = 0;
inline constexpr int kYesNo = 4;
inline constexpr int kCritical = 16;
inline constexpr int kQuestion = 32;
inline constexpr int kExclamation = 48;
inline constexpr int kInformation = 64;
inline constexpr int kDefaultButton2 = 256;

// The answers a view reports.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

}  // namespace yubin::msgbox
