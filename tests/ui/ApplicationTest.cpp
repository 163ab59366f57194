// The application object's error box, the message-box interface and the
// guard that keeps exceptions from crossing Qt's event loop.

#include "UiTest.h"
#include "TestUtil.h"

#include "Beep.h"
#include "Exceptions.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

using namespace uitest;

namespace {

DECLARE_EXCEPTION(EQuietAbort, EAbort);

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ResetScripts();
    }
};

// A receiver whose handler throws for one event type and counts the others.
const QEvent::Type ThrowEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type CountEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TThrowingReceiver : public QObject {
public:
    int Counted = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == ThrowEvent)
            throw EInvalidGraphic("Image illisible");
        if (e->type() == CountEvent) {
            ++Counted;
            return true;
        }
        return QObject::event(e);
    }
};

// Clicks a button the way a person does: press and release over it.
void Click(QPushButton& button)
{
    const QPointF at(button.width() / 2.0, button.height() / 2.0);
    const QPointF global = button.mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &press);
    QApplication::sendEvent(&button, &release);
}

} // namespace

TEST_F(ApplicationTest, ErrorBoxShowsTitleErrorIconOneOkAndAFullStop)
{
    App().ShowException(EInvalidGraphic("Extension de fichier graphique inconnue (.xyz)"));
    App().ShowException(EReadError("Fin de flux."));
    App().ShowException(std::runtime_error("plain library error"));

    ASSERT_EQ(Boxes().Calls.size(), 3u);
    for (const auto& call : Boxes().Calls) {
        EXPECT_EQ(call.Kind, TScriptedMessageBoxes::TKind::MessageBox);
        EXPECT_EQ(call.Caption, "Corvinel");
        EXPECT_EQ(call.Flags, MB_OK | MB_ICONSTOP);
        EXPECT_EQ(MessageBoxButtons(call.Flags), std::vector<int>{IDOK});
    }
    EXPECT_EQ(Boxes().Calls[0].Text, "Extension de fichier graphique inconnue (.xyz).");
    EXPECT_EQ(Boxes().Calls[1].Text, "Fin de flux.");
    EXPECT_EQ(Boxes().Calls[2].Text, "plain library error.");
}

TEST_F(ApplicationTest, TheTitleFollowsTheApplication)
{
    App().SetTitle("Kavrel");
    App().ShowException(Exception("x"));
    App().SetTitle("Corvinel");
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Caption, "Kavrel");
    EXPECT_EQ(Boxes().Calls[0].Text, "x.");
}

TEST_F(ApplicationTest, AbortAndItsDescendantsShowNothing)
{
    App().ShowException(EAbort("stop"));
    App().ShowException(EQuietAbort("stop too"));
    App().Protect([] { throw EAbort(""); });
    EXPECT_TRUE(Boxes().Calls.empty());
}

TEST_F(ApplicationTest, ExceptionsOfEveryKindStopAtProtect)
{
    App().Protect([] { throw std::bad_alloc(); });
    App().Protect([] { throw 42; });
    App().Protect([] { throw EConvertError("Conversion impossible"); });
    ASSERT_EQ(Boxes().Calls.size(), 3u);
    EXPECT_EQ(Boxes().Calls[0].Text, "Mémoire insuffisante.");
    EXPECT_FALSE(Boxes().Calls[1].Text.empty());
    EXPECT_EQ(Boxes().Calls[2].Text, "Conversion impossible.");
}

TEST_F(ApplicationTest, AnEventHandlerThatThrowsIsShownAndTheLoopGoesOn)
{
    TThrowingReceiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(ThrowEvent));
    QCoreApplication::postEvent(&receiver, new QEvent(CountEvent));
    QCoreApplication::postEvent(&receiver, new QEvent(ThrowEvent));
    QCoreApplication::postEvent(&receiver, new QEvent(CountEvent));
    QTimer::singleShot(0, &App(), [] { QCoreApplication::exit(7); });
    EXPECT_EQ(App().exec(), 7);

    EXPECT_EQ(receiver.Counted, 2);
    ASSERT_EQ(Boxes().Calls.size(), 2u);
    EXPECT_EQ(Boxes().Calls[0].Text, "Image illisible.");
    EXPECT_EQ(Boxes().Calls[0].Caption, "Corvinel");
}

TEST_F(ApplicationTest, AGuardedSlotThatThrowsIsShownAndTheButtonStillWorks)
{
    QPushButton button("Ouvrir");
    button.resize(80, 24);
    button.show();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, &button, Guarded([&clicks] {
                         if (++clicks == 1)
                             throw EFOpenError("Impossible d'ouvrir le fichier photo.jpg");
                     }));
    QTimer::singleShot(0, &button, [&button] {
        Click(button);
        Click(button);
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(App().exec(), 0);

    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Text, "Impossible d'ouvrir le fichier photo.jpg.");
}

TEST_F(ApplicationTest, MessageDialogsTakeTheFrenchCaptionOfTheirType)
{
    Boxes().Answers = {mrNo};
    EXPECT_EQ(App().MessageDlg("Voulez-vous continuer ?", mtConfirmation, mbYes | mbNo), mrNo);
    EXPECT_EQ(App().MessageDlg("Pas d'image dans le Presse-papiers", mtInformation, Btn(mbOK)), mrOk);
    App().MessageDlg("a", mtWarning, Btn(mbOK));
    App().MessageDlg("b", mtError, Btn(mbOK));
    App().MessageDlg("c", mtCustom, Btn(mbOK));

    ASSERT_EQ(Boxes().Calls.size(), 5u);
    EXPECT_EQ(Boxes().Calls[0].Kind, TScriptedMessageBoxes::TKind::MessageDlg);
    EXPECT_EQ(Boxes().Calls[0].Caption, "Confirmation");
    EXPECT_EQ(Boxes().Calls[0].Buttons, mbYes | mbNo);
    EXPECT_EQ(Boxes().Calls[1].Caption, "Information");
    EXPECT_EQ(Boxes().Calls[2].Caption, "Avertissement");
    EXPECT_EQ(Boxes().Calls[3].Caption, "Erreur");
    EXPECT_EQ(Boxes().Calls[4].Caption, "Corvinel");
}

TEST_F(ApplicationTest, UnscriptedAnswersAreTheDefaultButton)
{
    EXPECT_EQ(App().MessageBox("q", "t", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(App().MessageBox("q", "t", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(App().MessageBox("q", "t", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    // A default past the last button falls back to the first.
    EXPECT_EQ(App().MessageBox("q", "t", MB_YESNO | MB_DEFBUTTON3), IDYES);
    EXPECT_EQ(App().MessageDlg("q", mtConfirmation, mbYesNoCancel), mrYes);
    EXPECT_EQ(App().MessageDlg("q", mtConfirmation, mbNo | mbCancel), mrNo);
    EXPECT_EQ(App().MessageDlg("q", mtConfirmation, mbOKCancel | mbYes), mrOk);
}

// The Qt boxes themselves: shown for real, looked at and answered from a
// timer while their own loop runs.
namespace {

struct TSeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons;
    QString Default;
    bool OpenAfterEscape = false;
};

// Answers the next modal message box and records what it showed. With
// escapeFirst, Escape is pressed first; the button with `label` is pressed
// when the box is still open then.
void AnswerNextBox(TSeenBox& seen, const QString& label, bool escapeFirst = false)
{
    QTimer::singleShot(0, [&seen, label, escapeFirst] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            AnswerNextBox(seen, label, escapeFirst);
            return;
        }
        seen.Title = box->windowTitle();
        seen.Text = box->text();
        seen.Icon = box->icon();
        QAbstractButton* press = nullptr;
        for (QAbstractButton* b : box->buttons()) {
            seen.Buttons << b->text();
            if (b->text() == label)
                press = b;
        }
        if (box->defaultButton())
            seen.Default = box->defaultButton()->text();
        if (escapeFirst) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(box, &escape);
            seen.OpenAfterEscape = box->isVisible();
            if (!seen.OpenAfterEscape)
                return;
        }
        if (press)
            press->click();
        else
            box->reject();
    });
}

} // namespace

TEST_F(ApplicationTest, QtBoxesShowFrenchButtonsAndAnswerThePressedOne)
{
    TQtMessageBoxes qt;

    TSeenBox a;
    AnswerNextBox(a, "&Non");
    EXPECT_EQ(qt.MessageBox("Vider le presse-papier avant de quitter ?", "Le presse-papier contient une image",
                            MB_YESNO | MB_ICONQUESTION),
              IDNO);
    EXPECT_EQ(a.Title, "Le presse-papier contient une image");
    EXPECT_EQ(a.Text, "Vider le presse-papier avant de quitter ?");
    EXPECT_EQ(a.Icon, QMessageBox::Question);
    EXPECT_EQ(a.Buttons, (QStringList{"&Oui", "&Non"}));
    EXPECT_EQ(a.Default, "&Oui");

    TSeenBox b;
    AnswerNextBox(b, "Annuler");
    EXPECT_EQ(qt.MessageBox("Voulez-vous enregistrer les changemements ?", "photo.jpg",
                            MB_YESNOCANCEL | MB_ICONEXCLAMATION),
              IDCANCEL);
    EXPECT_EQ(b.Icon, QMessageBox::Warning);
    EXPECT_EQ(b.Buttons, (QStringList{"&Oui", "&Non", "Annuler"}));

    TSeenBox c;
    AnswerNextBox(c, "OK");
    EXPECT_EQ(qt.MessageDlg("Pas d'image dans le Presse-papiers", mtInformation, Btn(mbOK)), mrOk);
    EXPECT_EQ(c.Title, "Information");
    EXPECT_EQ(c.Icon, QMessageBox::Information);
    EXPECT_EQ(c.Buttons, QStringList{"OK"});

    TSeenBox d;
    AnswerNextBox(d, QString());
    EXPECT_EQ(qt.MessageDlg("<b>pas du HTML</b>", mtError, mbOK | mbCancel), mrCancel);
    EXPECT_EQ(d.Title, "Erreur");
    EXPECT_EQ(d.Text, "<b>pas du HTML</b>");
    EXPECT_EQ(d.Icon, QMessageBox::Critical);
    EXPECT_EQ(d.Default, "OK");
}

TEST_F(ApplicationTest, EscapeAnswersCancelOrNoAndCannotLeaveAYesNoBox)
{
    TQtMessageBoxes qt;

    TSeenBox a;
    AnswerNextBox(a, QString(), true);
    EXPECT_EQ(qt.MessageBox("q", "t", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_FALSE(a.OpenAfterEscape);

    TSeenBox b;
    AnswerNextBox(b, QString(), true);
    EXPECT_EQ(qt.MessageBox("q", "t", MB_OK), IDOK);
    EXPECT_FALSE(b.OpenAfterEscape);

    // A yes/no box wants an answer.
    TSeenBox c;
    AnswerNextBox(c, "&Oui", true);
    EXPECT_EQ(qt.MessageBox("q", "t", MB_YESNO), IDYES);
    EXPECT_TRUE(c.OpenAfterEscape);

    TSeenBox d;
    AnswerNextBox(d, QString(), true);
    EXPECT_EQ(qt.MessageDlg("q", mtConfirmation, mbYes | mbNo), mrNo);
    EXPECT_FALSE(d.OpenAfterEscape);
    EXPECT_EQ(d.Title, "Confirmation");
    EXPECT_EQ(d.Icon, QMessageBox::Question);
}

TEST_F(ApplicationTest, TheRealErrorBoxIsTheQtOne)
{
    App().SetMessageBoxes(nullptr);
    TSeenBox seen;
    AnswerNextBox(seen, "OK");
    App().ShowException(EInvalidGraphic("Image illisible"));
    App().SetMessageBoxes(&Boxes());

    EXPECT_EQ(seen.Title, "Corvinel");
    EXPECT_EQ(seen.Text, "Image illisible.");
    EXPECT_EQ(seen.Icon, QMessageBox::Critical);
    EXPECT_EQ(seen.Buttons, QStringList{"OK"});
}

TEST_F(ApplicationTest, ThePicturesBeepSoundsThroughTheApplicationFromAnyThread)
{
    // The readers beep through the graphics layer's hook; the application
    // object sounds it, on the thread of the windows.
    std::vector<std::thread::id> sounded;
    const testutil::HookGuard sound([](auto hook) { return App().SetBeepSound(std::move(hook)); },
                                    [&sounded] { sounded.push_back(std::this_thread::get_id()); });
    Beep();
    EXPECT_EQ(sounded.size(), 1u);
    std::thread other([] { Beep(); });
    other.join();
    // Beeped on another thread, it sounds when the windows' thread handles
    // its events.
    EXPECT_EQ(sounded.size(), 1u);
    TApplication::ProcessMessages();
    ASSERT_EQ(sounded.size(), 2u);
    EXPECT_EQ(sounded[0], std::this_thread::get_id());
    EXPECT_EQ(sounded[1], std::this_thread::get_id());
}
