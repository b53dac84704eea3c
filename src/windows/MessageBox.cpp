#include "windows/MessageBox.h"

#include <stdexcept>
#include <string>

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPushButton>

#include "windows/WindowCommon.h"

namespace yubin::app {

namespace {

constexpr int kButtonBits = 0x0F;
constexpr int kIconBits = 0x70;
constexpr int kDefaultBits = 0x300;

MessageBoxResponder*& CurrentResponder() {
    static MessageBoxResponder* responder = nullptr;
    return responder;
}

std::invalid_argument BadStyle(int style) {
    return std::invalid_argument("message box style " + std::to_string(style) +
                                 " is not one this program uses");
}

bool IsYesNo(int style) { return (style & kButtonBits) == MsgStyle::YesNo; }

// Checks the style and tells whether the second button is the default one.
bool CheckStyle(int style) {
    if (style < 0 || (style & ~(kButtonBits | kIconBits | kDefaultBits)) != 0) {
        throw BadStyle(style);
    }
    const int buttons = style & kButtonBits;
    if (buttons != MsgStyle::OkOnly && buttons != MsgStyle::YesNo) throw BadStyle(style);
    if ((style & kIconBits) > MsgStyle::Information) throw BadStyle(style);
    const int defaultButton = style & kDefaultBits;
    if (defaultButton == 0) return false;
    if (defaultButton == MsgStyle::DefaultButton2 && IsYesNo(style)) return true;
    throw BadStyle(style);
}

QMessageBox::Icon IconOf(int style) {
    switch (style & kIconBits) {
        case 0:
            return QMessageBox::NoIcon;
        case MsgStyle::Critical:
            return QMessageBox::Critical;
        case MsgStyle::Question:
            return QMessageBox::Question;
        case MsgStyle::Exclamation:
            return QMessageBox::Warning;
        case MsgStyle::Information:
            return QMessageBox::Information;
        default:
            throw BadStyle(style);
    }
}

std::string AnswerName(Answer answer) {
    switch (answer) {
        case Answer::Ok:
            return "OK";
        case Answer::Yes:
            return "Yes";
        case Answer::No:
            return "No";
    }
    return "?";
}

}  // namespace

Answer DefaultAnswer(int style) {
    const bool second = CheckStyle(style);
    if (!IsYesNo(style)) return Answer::Ok;
    return second ? Answer::No : Answer::Yes;
}

bool AnswerFits(int style, Answer answer) {
    CheckStyle(style);
    return IsYesNo(style) ? answer != Answer::Ok : answer == Answer::Ok;
}

std::unique_ptr<QMessageBox> BuildMessageBox(const QString& text, int style, const QString& title,
                                             QWidget* parent) {
    const bool secondIsDefault = CheckStyle(style);
    auto box = std::make_unique<QMessageBox>(parent);
    // The window system puts the program's name on a window with no title at all; a single
    // space is the nearest to an empty title that it shows as such.
    box->setWindowTitle(title.isEmpty() ? QStringLiteral(" ") : title);
    box->setText(text);
    box->setTextFormat(Qt::PlainText);
    box->setIcon(IconOf(style));
    if (IsYesNo(style)) {
        QPushButton* yes = box->addButton(QMessageBox::Yes);
        QPushButton* no = box->addButton(QMessageBox::No);
        yes->setText(QStringLiteral("はい(&Y)"));
        no->setText(QStringLiteral("いいえ(&N)"));
        box->setDefaultButton(secondIsDefault ? no : yes);
        box->setEscapeButton(no);
    } else {
        QPushButton* ok = box->addButton(QMessageBox::Ok);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
    }
    return box;
}

Answer MsgBox(const QString& text, int style) { return MsgBox(text, style, ProgramName()); }

Answer MsgBox(const QString& text, int style, const QString& title) {
    if (MessageBoxResponder* responder = MessageBoxResponder::current()) {
        return responder->respond(text, style, title);
    }
    std::unique_ptr<QMessageBox> box =
        BuildMessageBox(text, style, title, QApplication::activeWindow());
    // A box asked while the busy pointer shows (the abort question of an import) is answered
    // with the normal pointer; the busy one returns with the answer.
    const bool busy = !IsDefaultPointer();
    if (busy) QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    box->exec();
    if (busy) QGuiApplication::restoreOverrideCursor();
    switch (box->standardButton(box->clickedButton())) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Ok:
            return Answer::Ok;
        default:
            // Closed without a button (the escape button is set, so only by the window system).
            return IsYesNo(style) ? Answer::No : Answer::Ok;
    }
}

void CloseOpenMessageBoxes() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            box->reject();
        }
    }
}

MessageBoxResponder::MessageBoxResponder() : previous_(CurrentResponder()) {
    CurrentResponder() = this;
}

MessageBoxResponder::~MessageBoxResponder() {
    if (CurrentResponder() == this) {
        CurrentResponder() = previous_;
        return;
    }
    // Ended out of order: take it out of the chain of nested responders.
    for (MessageBoxResponder* r = CurrentResponder(); r != nullptr; r = r->previous_) {
        if (r->previous_ == this) {
            r->previous_ = previous_;
            return;
        }
    }
}

MessageBoxResponder* MessageBoxResponder::current() { return CurrentResponder(); }

Answer MessageBoxResponder::respond(const QString& text, int style, const QString& title) {
    Answer answer = DefaultAnswer(style);
    if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
    }
    asked_.push_back(AskedMessage{text, style, title, answer});
    if (!AnswerFits(style, answer)) {
        throw std::logic_error("scripted answer " + AnswerName(answer) +
                               " is no button of a box of style " + std::to_string(style));
    }
    return answer;
}

}  // namespace yubin::app
