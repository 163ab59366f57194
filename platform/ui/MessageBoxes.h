#pragma once
// Message boxes behind a small interface, so that the programs ask their
// questions the same way whether a person or a test answers them.
//
// Two kinds exist, as in the programs' code: the plain message box (text,
// caption, flags; answers an ID* value) and the standard message dialog
// (text, a dialog type that gives the caption and icon, a set of buttons;
// answers an mr* value).

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class QWidget;

// Flags of the plain message box: one button set, one icon, one default button.
constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_OKCANCEL = 0x0001;
constexpr unsigned MB_ABORTRETRYIGNORE = 0x0002;
constexpr unsigned MB_YESNOCANCEL = 0x0003;
constexpr unsigned MB_YESNO = 0x0004;
constexpr unsigned MB_RETRYCANCEL = 0x0005;
constexpr unsigned MB_TYPEMASK = 0x000F;
constexpr unsigned MB_ICONHAND = 0x0010;
constexpr unsigned MB_ICONSTOP = MB_ICONHAND;
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONQUESTION = 0x0020;
constexpr unsigned MB_ICONEXCLAMATION = 0x0030;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONASTERISK = 0x0040;
constexpr unsigned MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr unsigned MB_ICONMASK = 0x00F0;
constexpr unsigned MB_DEFBUTTON1 = 0x0000;
constexpr unsigned MB_DEFBUTTON2 = 0x0100;
constexpr unsigned MB_DEFBUTTON3 = 0x0200;
constexpr unsigned MB_DEFMASK = 0x0F00;

// Answers of the plain message box.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The standard message dialog: its type gives the caption and the icon.
enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
using enum TMsgDlgType;

// Its buttons, as a set of bits, shown in this order.
enum class TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll };
using enum TMsgDlgBtn;
using TMsgDlgButtons = std::uint32_t;
constexpr TMsgDlgButtons Btn(TMsgDlgBtn b) { return TMsgDlgButtons{1} << static_cast<unsigned>(b); }
constexpr TMsgDlgButtons operator|(TMsgDlgBtn a, TMsgDlgBtn b) { return Btn(a) | Btn(b); }
constexpr TMsgDlgButtons operator|(TMsgDlgButtons a, TMsgDlgBtn b) { return a | Btn(b); }
constexpr TMsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel;
constexpr TMsgDlgButtons mbOKCancel = mbOK | mbCancel;

// Answers of the standard message dialog (modal results).
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;

// The French captions of the dialog types ("" for mtCustom, which takes the
// application's title) and the texts of the buttons.
const char* MsgDlgCaption(TMsgDlgType type);
const char* MsgDlgButtonText(TMsgDlgBtn button);
// The modal result of a button.
int MsgDlgButtonResult(TMsgDlgBtn button);

// The buttons of a message box's flags, in their order, as their ID* answers.
std::vector<int> MessageBoxButtons(unsigned flags);
// The answer of the default button: the one MB_DEFBUTTONn names when the
// set has it, else the first.
int MessageBoxDefault(unsigned flags);
// The answer of a message dialog's default button: OK, else Yes, else the
// first button of the set (mrOk when the set is empty, which shows OK).
int MessageDlgDefault(TMsgDlgButtons buttons);

// A message that lists names one a line under its heading; past `shown`
// names the rest are counted as "et N autres.".
std::string ListMessage(const std::string& heading, const std::vector<std::string>& names, std::size_t shown = 15);

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // The plain message box; answers IDOK, IDYES... (IDCANCEL when closed).
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    // The standard message dialog; answers mrOk, mrYes... (mrCancel when closed).
    virtual int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) = 0;
};

// The real boxes, modal over the active window.
class TQtMessageBoxes : public IMessageBoxes {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override;
};

// For tests: records every call and answers from a list set in advance,
// then with the default button. Nothing is shown.
class TScriptedMessageBoxes : public IMessageBoxes {
public:
    enum class TKind { MessageBox, MessageDlg };
    struct TCall {
        TKind Kind = TKind::MessageBox;
        std::string Text;
        std::string Caption; // the caption a person would see
        unsigned Flags = 0;  // MessageBox
        TMsgDlgType Type = mtCustom;  // MessageDlg
        TMsgDlgButtons Buttons = 0;   // MessageDlg
        int Answer = 0;
        // Whether the user's input was being dropped when it was asked: a
        // person could not have answered it.
        bool InputDropped = false;
    };

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override;

    std::deque<int> Answers;
    std::vector<TCall> Calls;
};
