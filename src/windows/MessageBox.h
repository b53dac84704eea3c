// Message boxes of yubinbox: a style number chooses the buttons, the icon and the default
// button; the answer says which button closed the box.
//
// Styles are sums of flags (base/MessageBoxStyle.h).
//
// While a MessageBoxResponder exists, boxes are answered by it and never shown.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include <QString>

#include "base/MessageBoxStyle.h"

class QMessageBox;
class QWidget;

namespace yubin::app {

namespace MsgStyle {
inline constexpr int OkOnly = msgbox::kOkOnly;
inline constexpr int YesNo = msgbox::kYesNo;
inline constexpr int Critical = msgbox::kCritical;
inline constexpr int Question = msgbox::kQuestion;
inline constexpr int Exclamation = msgbox::kExclamation;
inline constexpr int Information = msgbox::kInformation;
inline constexpr int DefaultButton2 = msgbox::kDefaultButton2;
}  // namespace MsgStyle

enum class Answer { Ok, Yes, No };

// Shows a message box with the program's default title (ProgramName()) and waits for it.
Answer MsgBox(const QString& text, int style = MsgStyle::OkOnly);
// Shows a message box with the title given; the empty text gives a box with a blank title.
Answer MsgBox(const QString& text, int style, const QString& title);

// Closes every message box that waits for an answer, as its close box would (the session
// ends while no window is loaded: only the refusal of a second start or an error report).
void CloseOpenMessageBoxes();

// The box for the text, style and title, ready to be shown and not shown. A style this
// system does not use (other buttons, a third default button) raises std::invalid_argument.
std::unique_ptr<QMessageBox> BuildMessageBox(const QString& text, int style, const QString& title,
                                             QWidget* parent = nullptr);

// The answer given by pressing Enter: the default button's.
Answer DefaultAnswer(int style);
// Whether the answer is one of the box's buttons.
bool AnswerFits(int style, Answer answer);

// One box asked while a responder was in place.
struct AskedMessage {
    QString text;
    int style = 0;
    QString title;
    Answer answer = Answer::Ok;
};

// Answers message boxes instead of the user while it exists (responders nest; the newest
// answers). Each box takes the next scripted answer, or the default button's when the script
// is used up; every box is recorded. A scripted answer that is not a button of its box raises
// std::logic_error from MsgBox.
class MessageBoxResponder {
  public:
    MessageBoxResponder();
    ~MessageBoxResponder();
    MessageBoxResponder(const MessageBoxResponder&) = delete;
    MessageBoxResponder& operator=(const MessageBoxResponder&) = delete;

    void setNextAnswer(Answer answer) { script_.push_back(answer); }
    const std::vector<AskedMessage>& asked() const { return asked_; }
    // Scripted answers not used yet.
    std::size_t pendingAnswers() const { return script_.size(); }
    void clear() {
        asked_.clear();
        script_.clear();
    }

    // The responder in place, or nullptr when boxes are shown.
    static MessageBoxResponder* current();

    // Records the box and gives its answer.
    Answer respond(const QString& text, int style, const QString& title);

  private:
    std::deque<Answer> script_;
    std::vector<AskedMessage> asked_;
    MessageBoxResponder* previous_ = nullptr;
};

}  // namespace yubin::app
