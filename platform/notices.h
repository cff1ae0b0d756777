// The operator's notices: the message box and the busy indicator. The program shows real modal
// dialogs; flow tests hand in a scripted operator. Whatever must happen after a box has been
// closed is passed as a continuation and runs when the box closes (at once when a box was
// already open and only its text changed).
#pragma once

#include <functional>
#include <string>

namespace corvane {

enum : int { IDOK = 1, IDCANCEL = 2 };

// What the operator is told when the link to the switcher, serial or TCP, is lost.
inline constexpr const char* kLinkLostText = "Connection to Matrix lost!";

class INotices {
public:
    virtual ~INotices() = default;
    virtual void ShowMessage(const std::string& text, std::function<void()> then = {}) = 0;
    // "Time out!": an exchange went unanswered. A front end without windows tells it from any
    // other message by this call, never by its text.
    virtual void ShowTimeOut(std::function<void()> then = {}) { ShowMessage("Time out!", std::move(then)); }
    // The question form: "Ok", "Cancel" and "No longer remind"; then receives IDOK or IDCANCEL.
    virtual void AskMessage(const std::string& text, std::function<void(int)> then) = 0;
    // An open question whose cause has gone is closed as if "Cancel" were pressed.
    virtual void WithdrawQuestion() {}
    virtual void OpenStatus(const std::string& text) = 0;
    virtual void FinishStatus(const std::string& text) = 0;
    virtual void CloseStatus() = 0;
    // The operator's last answer in the message box's "No longer remind" check box.
    virtual bool NoLongerRemind() const { return false; }
};

}  // namespace corvane
