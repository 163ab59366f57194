#include "MessageBoxes.h"

#include "Application.h"
#include "Desktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace {

constexpr TMsgDlgBtn AllButtons[] = {mbYes, mbNo,  mbOK,  mbCancel,  mbAbort,
                                     mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll};

bool Has(TMsgDlgButtons set, TMsgDlgBtn b) { return (set & Btn(b)) != 0; }

const char* BoxButtonText(int id)
{
    switch (id) {
    case IDOK:
        return MsgDlgButtonText(mbOK);
    case IDCANCEL:
        return MsgDlgButtonText(mbCancel);
    case IDABORT:
        return MsgDlgButtonText(mbAbort);
    case IDRETRY:
        return MsgDlgButtonText(mbRetry);
    case IDIGNORE:
        return MsgDlgButtonText(mbIgnore);
    case IDYES:
        return MsgDlgButtonText(mbYes);
    case IDNO:
        return MsgDlgButtonText(mbNo);
    }
    return "";
}

QString ToQt(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Shows a box with the given buttons (text and answer), left to right in
// that order, and answers the one pressed. Escape presses the button of
// escapeAnswer; without one the box cannot be closed but by a button.
// closedAnswer is for a box closed some other way all the same.
int RunBox(const std::string& text, const std::string& caption, QMessageBox::Icon icon,
           const std::vector<std::pair<const char*, int>>& buttons, int defaultAnswer, int escapeAnswer,
           int closedAnswer)
{
    QMessageBox box(icon, ToQt(caption), ToQt(text), QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    std::vector<std::pair<QAbstractButton*, int>> made;
    for (const auto& [label, answer] : buttons) {
        // One role for all keeps the buttons in the order given whatever the
        // desktop's button layout; default and escape are set here.
        QPushButton* button = box.addButton(QString::fromUtf8(label), QMessageBox::ActionRole);
        made.emplace_back(button, answer);
        if (answer == defaultAnswer)
            box.setDefaultButton(button);
        if (answer == escapeAnswer)
            box.setEscapeButton(button);
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const auto& [button, answer] : made)
        if (button == clicked)
            return answer;
    return closedAnswer;
}

bool Contains(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

} // namespace

const char* MsgDlgCaption(TMsgDlgType type)
{
    switch (type) {
    case mtWarning:
        return "Avertissement";
    case mtError:
        return "Erreur";
    case mtInformation:
        return "Information";
    case mtConfirmation:
        return "Confirmation";
    case mtCustom:
        break;
    }
    return "";
}

const char* MsgDlgButtonText(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes:
        return "&Oui";
    case mbNo:
        return "&Non";
    case mbOK:
        return "OK";
    case mbCancel:
        return "Annuler";
    case mbAbort:
        return "&Abandonner";
    case mbRetry:
        return "&Réessayer";
    case mbIgnore:
        return "&Ignorer";
    case mbAll:
        return "&Tous";
    case mbNoToAll:
        return "N&on à tout";
    case mbYesToAll:
        return "Oui à &tout";
    }
    return "";
}

std::string ListMessage(const std::string& heading, const std::vector<std::string>& names, std::size_t shown)
{
    std::string text = heading;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i)
        text += "\n" + names[i];
    if (names.size() > shown)
        text += "\net " + std::to_string(names.size() - shown) + " autres.";
    return text;
}

int MsgDlgButtonResult(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes:
        return mrYes;
    case mbNo:
        return mrNo;
    case mbOK:
        return mrOk;
    case mbCancel:
        return mrCancel;
    case mbAbort:
        return mrAbort;
    case mbRetry:
        return mrRetry;
    case mbIgnore:
        return mrIgnore;
    case mbAll:
        return mrAll;
    case mbNoToAll:
        return mrNoToAll;
    case mbYesToAll:
        return mrYesToAll;
    }
    return mrNone;
}

std::vector<int> MessageBoxButtons(unsigned flags)
{
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

int MessageBoxDefault(unsigned flags)
{
    const std::vector<int> buttons = MessageBoxButtons(flags);
    const std::size_t index = (flags & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

int MessageDlgDefault(TMsgDlgButtons buttons)
{
    if (Has(buttons, mbOK))
        return mrOk;
    if (Has(buttons, mbYes))
        return mrYes;
    for (TMsgDlgBtn b : AllButtons)
        if (Has(buttons, b))
            return MsgDlgButtonResult(b);
    return mrOk;
}

int TQtMessageBoxes::MessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & MB_ICONMASK) {
    case MB_ICONHAND:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case MB_ICONEXCLAMATION:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONASTERISK:
        icon = QMessageBox::Information;
        break;
    }
    const std::vector<int> ids = MessageBoxButtons(flags);
    std::vector<std::pair<const char*, int>> buttons;
    for (int id : ids)
        buttons.emplace_back(BoxButtonText(id), id);
    // Escape answers Cancel, or OK in a box with OK alone.
    const int escape = Contains(ids, IDCANCEL) ? IDCANCEL : ids == std::vector<int>{IDOK} ? IDOK : 0;
    return RunBox(text, caption, icon, buttons, MessageBoxDefault(flags), escape, IDCANCEL);
}

int TQtMessageBoxes::MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type) {
    case mtWarning:
        icon = QMessageBox::Warning;
        break;
    case mtError:
        icon = QMessageBox::Critical;
        break;
    case mtInformation:
        icon = QMessageBox::Information;
        break;
    case mtConfirmation:
        icon = QMessageBox::Question;
        break;
    case mtCustom:
        break;
    }
    if ((buttons & ((TMsgDlgButtons{1} << std::size(AllButtons)) - 1)) == 0)
        buttons = Btn(mbOK);
    std::vector<std::pair<const char*, int>> list;
    for (TMsgDlgBtn b : AllButtons)
        if (Has(buttons, b))
            list.emplace_back(MsgDlgButtonText(b), MsgDlgButtonResult(b));
    // Escape answers Cancel, else No, else OK.
    const int escape = Has(buttons, mbCancel) ? mrCancel : Has(buttons, mbNo) ? mrNo : Has(buttons, mbOK) ? mrOk : 0;
    const std::string caption = type == mtCustom ? ApplicationTitle() : MsgDlgCaption(type);
    return RunBox(text, caption, icon, list, MessageDlgDefault(buttons), escape, mrCancel);
}

int TScriptedMessageBoxes::MessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    TCall call;
    call.Kind = TKind::MessageBox;
    call.Text = text;
    call.Caption = caption;
    call.Flags = flags;
    call.Answer = MessageBoxDefault(flags);
    call.InputDropped = InputPaused();
    if (!Answers.empty()) {
        call.Answer = Answers.front();
        Answers.pop_front();
    }
    Calls.push_back(call);
    return call.Answer;
}

int TScriptedMessageBoxes::MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons)
{
    TCall call;
    call.Kind = TKind::MessageDlg;
    call.Text = text;
    call.Caption = type == mtCustom ? ApplicationTitle() : MsgDlgCaption(type);
    call.Type = type;
    call.Buttons = buttons;
    call.Answer = MessageDlgDefault(buttons);
    call.InputDropped = InputPaused();
    if (!Answers.empty()) {
        call.Answer = Answers.front();
        Answers.pop_front();
    }
    Calls.push_back(call);
    return call.Answer;
}
