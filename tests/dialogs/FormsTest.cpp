// The six dialogs through their real forms under the offscreen platform,
// shown by the frame's seam over a document held in memory: one showing of
// each driven from inside its modal loop, the grid's key filter with pasted
// text, and the windows that are not these dialogs passed on.

#include "DialogTest.h"
#include "TestUtil.h"

#include "EditorDialogs.h"
#include "ImageDialogs.h"
#include "PauseTimer.h"
#include "QtTestApp.h"
#include "UpDown.h"
#include "photo.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QClipboard>
#include <QComboBox>
#include <QRadioButton>
#include <QSlider>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWheelEvent>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

using namespace dlgtest;
using testutil::TempDir;

namespace {

// A control of a form by its name; the test stops when it is missing.
template <class T>
T* Find(QWidget* form, const char* name)
{
    T* widget = form->findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        throw std::runtime_error(std::string("no control ") + name);
    return widget;
}

// Records what reaches the windows after the dialogs.
class TLaterWindows : public TNoEditorWindows {
public:
    bool Has(TEditorWindow window) const override { return window == TEditorWindow::AboutBox; }
    void ShowModal(TEditorWindow window) override { Shown.push_back(window); }
    std::vector<TEditorWindow> Shown;
};

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        Boxes().Calls.clear();
        Boxes().Answers.clear();
        StartDir = Dir.Path() + "/";
        std::filesystem::create_directory(StartDir + "filtres");
        std::ofstream(StartDir + "filtres/croix.fpw", std::ios::binary)
            << "Croix\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n1\r\n0\r\n0\r\n0\r\n1\r\n4\r\n1\r\n0\r\n"
               "0\r\n0\r\n1\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";
        std::ofstream(StartDir + "filtres/uni.fpw", std::ios::binary) << "Uni\r\n7\r\n";
        Doc = std::make_unique<TTestDocument>(Original);
        Frame = std::make_unique<QWidget>();
        Dialogs = std::make_unique<TEditorDialogs>(&Later);
        Dialogs->Create(Frame.get(), [this] { return Doc ? Doc->Document.get() : nullptr; }, StartDir, &Boxes(), &Clock);
    }

    void TearDown() override
    {
        Dialogs.reset();
        Frame.reset();
        TApplication::ProcessMessages();
    }

    // Shows a dialog through the seam; inside its modal loop, script runs
    // once (a dialog left open afterwards is closed without applying).
    void Show(TEditorWindow window, QDialog* dialog, const std::function<void()>& script)
    {
        bool ran = false;
        QTimer::singleShot(0, dialog, [&] {
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_TRUE(dialog->isModal());
            script();
            ran = true;
            if (dialog->isVisible())
                dialog->reject();
        });
        Dialogs->ShowModal(window);
        EXPECT_TRUE(ran);
        EXPECT_FALSE(dialog->isVisible());
    }

    TDocument& D() { return **Doc; }

    TempDir Dir;
    std::string StartDir;
    std::unique_ptr<QWidget> Frame;
    TManualClock Clock;
    TLaterWindows Later;
    const TBitmap Original = Pattern(40, 30);
    std::unique_ptr<TTestDocument> Doc;
    std::unique_ptr<TEditorDialogs> Dialogs;
};

TEST_F(FormsTest, ContrastThroughItsForm)
{
    TFcontraste* dialog = Dialogs->Fcontraste();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), "Contraste Automatique");
    auto* naturel = Find<QRadioButton>(dialog, "Naturel");
    auto* slider = Find<QSlider>(dialog, "TTval");
    auto* apply = Find<QToolButton>(dialog, "Appliquercontraste");
    EXPECT_EQ(Find<QRadioButton>(dialog, "Atone")->text(), "Atone");
    EXPECT_EQ(Find<QRadioButton>(dialog, "Soutenu")->text(), "Soutenu");
    EXPECT_EQ(apply->text(), "APPLIQUER");
    EXPECT_EQ(slider->value(), 1);
    EXPECT_EQ(slider->maximum(), 100);

    Show(TEditorWindow::Contrast, dialog, [&] {
        EXPECT_EQ(D().UndoCount(), 1);
        naturel->click();
        slider->setValue(50);
        Clock.Advance(499);
        TBitmap expected = Copy(Original);
        AutoContrast(expected, 2, 1, 0.01f);
        EXPECT_TRUE(SamePixels(D().Picture(), expected)) << "the slider waits";
        Clock.Advance(1);
        expected = Copy(Original);
        AutoContrast(expected, 2, 1, 0.5f);
        EXPECT_TRUE(SamePixels(D().Picture(), expected));

        // A modal window over the dialog and back: no second start of work.
        QDialog box(dialog);
        QTimer::singleShot(0, &box, [&] { box.accept(); });
        box.exec();
        EXPECT_EQ(D().UndoCount(), 1);
        apply->click();
    });
    TBitmap applied = Copy(Original);
    AutoContrast(applied, 2, 1, 0.5f);
    EXPECT_TRUE(SamePixels(D().Picture(), applied));
    EXPECT_EQ(D().UndoCount(), 1);

    // The next showing keeps the controls and previews with them; a close
    // without applying drops a pending preview and restores.
    Show(TEditorWindow::Contrast, dialog, [&] {
        EXPECT_TRUE(naturel->isChecked());
        EXPECT_EQ(slider->value(), 50);
        TBitmap again = Copy(applied);
        AutoContrast(again, 2, 1, 0.5f);
        EXPECT_TRUE(SamePixels(D().Picture(), again));
        slider->setValue(80);
        EXPECT_EQ(Clock.Pending(), 1u);
    });
    EXPECT_EQ(Clock.Pending(), 0u);
    EXPECT_TRUE(SamePixels(D().Picture(), applied));
    EXPECT_EQ(D().UndoCount(), 1);
}

TEST_F(FormsTest, GreyAndHalftoneThroughTheirForms)
{
    TFgris* grey = Dialogs->Fgris();
    EXPECT_EQ(grey->windowTitle(), "Niveaux de gris");
    EXPECT_EQ(Find<QRadioButton>(grey, "NBmode1")->text(), "Pondérée");
    Show(TEditorWindow::Grey, grey, [&] {
        Find<QRadioButton>(grey, "NBmode3")->click();
        TBitmap expected = Copy(Original);
        ConvertToGrey(expected, 3);
        EXPECT_TRUE(SamePixels(D().Picture(), expected));
    });
    EXPECT_TRUE(SamePixels(D().Picture(), Original)) << "closed without applying";
    EXPECT_EQ(D().UndoCount(), 0);

    TFtrame* halftone = Dialogs->Ftrame();
    EXPECT_EQ(halftone->windowTitle(), "Tramage en N&B");
    EXPECT_EQ(Find<QRadioButton>(halftone, "NBmode2")->text(), "Floyd Steinberg");
    Show(TEditorWindow::Halftone, halftone, [&] {
        Find<QRadioButton>(halftone, "NBmode2")->click();
        Find<QToolButton>(halftone, "AppliquerNB")->click();
    });
    TBitmap expected = Copy(Original);
    DitherFloydSteinberg(expected);
    EXPECT_TRUE(SamePixels(D().Picture(), expected));
    EXPECT_EQ(D().UndoCount(), 1);
}

TEST_F(FormsTest, FiltersThroughItsForm)
{
    TFfiltres* dialog = Dialogs->Ffiltres();
    EXPECT_EQ(dialog->windowTitle(), "Filtre personnalisé");
    auto* combo = Find<QComboBox>(dialog, "CB");
    auto* tester = Find<QToolButton>(dialog, "SpeedButton2");
    auto* effacer = Find<QToolButton>(dialog, "SpeedButton4");
    auto* appliquer = Find<QToolButton>(dialog, "SpeedButton1");
    EXPECT_EQ(tester->text(), "TESTER");
    EXPECT_EQ(effacer->text(), "EFFACER");
    EXPECT_EQ(Find<QToolButton>(dialog, "SpeedButton3")->text(), "SAUVER");
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), "Croix");
    EXPECT_EQ(combo->itemText(1), "Uni");
    EXPECT_EQ(dialog->Cell(2, 2)->text(), "0");

    Show(TEditorWindow::Filters, dialog, [&] {
        EXPECT_EQ(D().UndoCount(), 1);
        EXPECT_TRUE(SamePixels(D().Picture(), Original)) << "no preview at activation";
        combo->setCurrentIndex(0);
        emit combo->activated(0);
        EXPECT_EQ(dialog->Cell(2, 2)->text(), "4");
        EXPECT_EQ(dialog->Cell(2, 1)->text(), "1");

        // Typing: only digits, signs and the point get through.
        QLineEdit* cell = dialog->Cell(4, 4);
        cell->setFocus();
        cell->selectAll();
        for (const char* key : {"a", "-", ",", "3", " ", "e", ".", "5"}) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(key));
            QGuiApplication::sendEvent(cell, &press);
        }
        EXPECT_EQ(cell->text(), "-3.5");
        // Pasting: text with any other character is refused whole.
        QGuiApplication::clipboard()->setText("1,5");
        cell->selectAll();
        cell->paste();
        EXPECT_EQ(cell->text(), "-3.5");
        QGuiApplication::clipboard()->setText("+2");
        cell->selectAll();
        cell->paste();
        EXPECT_EQ(cell->text(), "+2");
        cell->selectAll();
        cell->del();
        EXPECT_EQ(cell->text(), "");

        tester->click();
        TKernel5x5 cross;
        cross.At(0, 0) = 4;
        cross.At(0, -1) = cross.At(0, 1) = cross.At(-1, 0) = cross.At(1, 0) = 1;
        TBitmap expected = Copy(Original);
        Convolve5x5(expected, cross);
        EXPECT_TRUE(SamePixels(D().Picture(), expected));
        effacer->click();
        EXPECT_TRUE(SamePixels(D().Picture(), Original));
        appliquer->click();
        EXPECT_TRUE(SamePixels(D().Picture(), expected));
    });
    EXPECT_EQ(D().UndoCount(), 1);
    EXPECT_EQ(combo->currentText(), "Croix") << "the controls stay for the next showing";
}

TEST_F(FormsTest, AnUnreadableFilterFileIsToldAndTheFiltersBeforeItStay)
{
    // Between "croix" and "uni" in name order, a link that leads nowhere.
    const std::string broken = StartDir + "filtres/lien.fpw";
    std::filesystem::create_symlink(StartDir + "filtres/parti.fpw", broken);
    TEditorDialogs dialogs(&Later);
    dialogs.Create(Frame.get(), [this] { return Doc->Document.get(); }, StartDir, &Boxes(), &Clock);
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_NE(Boxes().Calls[0].Text.find("Impossible d'ouvrir le fichier " + broken), std::string::npos)
        << Boxes().Calls[0].Text;
    auto* combo = Find<QComboBox>(dialogs.Ffiltres(), "CB");
    ASSERT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->itemText(0), "Croix");
}

TEST_F(FormsTest, WheelOverTheFilterListLoadsTheFilterItMovesTo)
{
    TFfiltres* dialog = Dialogs->Ffiltres();
    auto* combo = Find<QComboBox>(dialog, "CB");
    Show(TEditorWindow::Filters, dialog, [&] {
        combo->setFocus();
        combo->setCurrentIndex(0);
        emit combo->activated(0);
        EXPECT_EQ(dialog->Cell(2, 2)->text(), "4");
        const QPointF inside(5, 5);
        QWheelEvent wheel(inside, combo->mapToGlobal(inside), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QGuiApplication::sendEvent(combo, &wheel);
        EXPECT_EQ(combo->currentIndex(), 1);
        EXPECT_EQ(dialog->Cell(0, 0)->text(), "7");
        EXPECT_EQ(dialog->Cell(2, 2)->text(), "0");
        // Typing in the combo loads nothing.
        combo->lineEdit()->selectAll();
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("Z"));
        QGuiApplication::sendEvent(combo->lineEdit(), &key);
        EXPECT_EQ(combo->currentText(), "Z");
        EXPECT_EQ(dialog->Cell(0, 0)->text(), "7");
        EXPECT_EQ(dialog->Logic().ItemIndex, -1);
    });
    EXPECT_EQ(D().UndoCount(), 0);
}

// Keys typed into a widget, one event each.
void TypeText(QWidget* widget, const char* text)
{
    for (const char* c = text; *c; ++c) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QLatin1Char(*c)));
        QGuiApplication::sendEvent(widget, &press);
    }
}

TEST_F(FormsTest, TypingAListedNameInTheFilterListLoadsNothing)
{
    TFfiltres* dialog = Dialogs->Ffiltres();
    auto* combo = Find<QComboBox>(dialog, "CB");
    Show(TEditorWindow::Filters, dialog, [&] {
        QLineEdit* cell = dialog->Cell(0, 0);
        cell->selectAll();
        TypeText(cell, "9");
        ASSERT_EQ(cell->text(), "9");

        // A listed name typed, then the field left: the typed weights stay.
        combo->setFocus();
        combo->lineEdit()->selectAll();
        TypeText(combo->lineEdit(), "uni");
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QGuiApplication::sendEvent(combo->lineEdit(), &out);
        EXPECT_EQ(cell->text(), "9");
        EXPECT_EQ(dialog->Logic().Cells[0][0], "9");
        EXPECT_EQ(dialog->Logic().ItemIndex, -1) << "a typed name is a new filter's";

        // An arrow key moves through the list and loads again.
        QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
        QGuiApplication::sendEvent(combo, &up);
        EXPECT_EQ(combo->currentIndex(), 0);
        EXPECT_EQ(dialog->Cell(2, 2)->text(), "4");
        EXPECT_EQ(cell->text(), "0");

        // A listed name typed and Enter pressed.
        cell->selectAll();
        TypeText(cell, "9");
        combo->lineEdit()->selectAll();
        TypeText(combo->lineEdit(), "uni");
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QGuiApplication::sendEvent(combo->lineEdit(), &enter);
        EXPECT_EQ(cell->text(), "9");
        EXPECT_EQ(dialog->Cell(2, 2)->text(), "4");
        EXPECT_EQ(dialog->Logic().ItemIndex, -1);
        EXPECT_TRUE(dialog->isVisible());
    });
    EXPECT_EQ(D().UndoCount(), 0);
}

TEST_F(FormsTest, ResizeThroughItsForm)
{
    Doc = std::make_unique<TTestDocument>(Pattern(400, 300));
    TFkavrel* dialog = Dialogs->Fkavrel();
    EXPECT_EQ(dialog->windowTitle(), "Redimensionner");
    auto* width = Find<QComboBox>(dialog, "choixL");
    auto* height = Find<QComboBox>(dialog, "ChoixH");
    auto* prop = Find<QCheckBox>(dialog, "Prop");
    auto* udh = Find<TUpDown>(dialog, "UDH");
    auto* apply = Find<QToolButton>(dialog, "SpeedButton2");
    ASSERT_TRUE(Find<TUpDown>(dialog, "UDW"));
    EXPECT_EQ(width->currentText(), "0");
    EXPECT_EQ(height->currentText(), "0");
    EXPECT_TRUE(prop->isChecked());

    const TBitmap before = Copy(D().Picture());
    Show(TEditorWindow::Resize, dialog, [&] {
        width->setEditText("400");
        height->setEditText("300");
        // An arrow key in the width field steps it; the height follows.
        QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
        QGuiApplication::sendEvent(width->lineEdit(), &up);
        EXPECT_EQ(width->currentText(), "401");
        EXPECT_EQ(height->currentText(), "301");
        // The height's arrow button: the width follows.
        udh->UpButton()->click();
        EXPECT_EQ(height->currentText(), "302");
        EXPECT_EQ(width->currentText(), "403"); // 402.67

        // Choosing from the list sets one side only.
        width->setCurrentIndex(5);
        EXPECT_EQ(width->currentText(), "640");
        EXPECT_EQ(height->currentText(), "302");
        prop->click();
        prop->click();
        EXPECT_EQ(height->currentText(), "480");

        height->setEditText("abc");
        EXPECT_EQ(height->currentText(), "0");
        apply->click();
        EXPECT_TRUE(dialog->isVisible()) << "a side of 0 keeps the dialog open";
        EXPECT_EQ(Boxes().Calls.size(), 1u);
        width->setEditText("99999");
        EXPECT_EQ(width->currentText(), "10240");
        width->setEditText("20");
        height->setEditText("10");
        EXPECT_TRUE(SamePixels(D().Picture(), before)) << "nothing before APPLIQUER";
        apply->click();
    });
    EXPECT_EQ(D().Picture().Width(), 20);
    EXPECT_EQ(D().Picture().Height(), 10);
    EXPECT_EQ(D().Aspect, 0.5f);
    EXPECT_EQ(D().UndoCount(), 1);
    EXPECT_EQ(width->currentText(), "20");
}

TEST_F(FormsTest, SaveAssistantThroughTheSeam)
{
    TFsauve* dialog = Dialogs->Fsauve();
    ASSERT_TRUE(dialog);
    D().memorise();
    const int depth = D().UndoCount();
    std::string folder;
    Show(TEditorWindow::SaveAssistant, dialog, [&] {
        folder = dialog->Logic().TempFolder();
        EXPECT_TRUE(std::filesystem::is_directory(folder));
        // The first preview is encoded off the user-interface thread.
        ASSERT_TRUE(testqt::WaitFor([&] { return !dialog->Logic().Busy(); }, 20000));
        EXPECT_EQ(Find<QLabel>(dialog, "Label19")->text(), "3 654"); // 54 + 30 rows of 120
        EXPECT_EQ(Find<QLabel>(dialog, "Label21")->text(), "0.7");
        Find<QTabWidget>(dialog, "PC")->setCurrentIndex(2);
        ASSERT_TRUE(testqt::WaitFor([&] { return !dialog->Logic().Busy(); }, 20000));
        EXPECT_FALSE(Find<QLabel>(dialog, "LTailleJPG")->text().isEmpty());
        EXPECT_FALSE(SamePixels(D().Picture(), Original)) << "the decoded JPEG is shown";
    });
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
    EXPECT_EQ(D().UndoCount(), depth);
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(FormsTest, SaveAssistantIs195By255AndEveryControlFits)
{
    TFsauve* dialog = Dialogs->Fsauve();
    ASSERT_TRUE(dialog);
    auto* pc = Find<QTabWidget>(dialog, "PC");
    Show(TEditorWindow::SaveAssistant, dialog, [&] {
        ASSERT_TRUE(testqt::WaitFor([&] { return !dialog->Logic().Busy(); }, 20000));
        EXPECT_EQ(dialog->width(), 195);
        EXPECT_EQ(dialog->height(), 255);
        for (int tab = 0; tab < pc->count(); ++tab) {
            pc->setCurrentIndex(tab);
            ASSERT_TRUE(testqt::WaitFor([&] { return !dialog->Logic().Busy(); }, 20000));
            testqt::Pump(10);
            EXPECT_EQ(dialog->size(), QSize(195, 255)) << "tab " << tab;
            // Every control shown lies inside the dialog, at no less than
            // the room its text needs.
            for (QWidget* control : pc->currentWidget()->findChildren<QWidget*>()) {
                if (!control->isVisible())
                    continue;
                const QRect placed(control->mapTo(dialog, QPoint(0, 0)), control->size());
                EXPECT_TRUE(dialog->rect().contains(placed))
                    << control->objectName().toStdString() << " on tab " << tab;
                if (qobject_cast<QLabel*>(control) || qobject_cast<QRadioButton*>(control)) {
                    EXPECT_GE(control->width(), control->minimumSizeHint().width())
                        << control->objectName().toStdString() << " on tab " << tab;
                }
                EXPECT_GE(control->height(), control->minimumSizeHint().height())
                    << control->objectName().toStdString() << " on tab " << tab;
            }
            // The memo's four lines, each on one line of its box.
            auto* memo = Find<QPlainTextEdit>(dialog, ("Memo" + std::to_string(tab + 1)).c_str());
            const QStringList lines = memo->toPlainText().split('\n');
            EXPECT_EQ(lines.size(), 4);
            const int room = memo->viewport()->width() - 2 * static_cast<int>(memo->document()->documentMargin());
            for (const QString& line : lines)
                EXPECT_LE(memo->fontMetrics().horizontalAdvance(line), room) << line.toStdString();
            EXPECT_LE(4 * memo->fontMetrics().lineSpacing(), memo->viewport()->height()) << "tab " << tab;
        }
        // The four tabs side by side, none behind a scroll arrow.
        const QTabBar* bar = pc->tabBar();
        for (int tab = 0; tab < pc->count(); ++tab)
            EXPECT_TRUE(bar->rect().contains(bar->tabRect(tab))) << "tab " << tab;
        auto* save = Find<QToolButton>(dialog, "enregistrer");
        EXPECT_TRUE(dialog->rect().contains(QRect(save->mapTo(dialog, QPoint(0, 0)), save->size())));
        EXPECT_GE(save->height(), save->minimumSizeHint().height());
        pc->setCurrentIndex(0);
        ASSERT_TRUE(testqt::WaitFor([&] { return !dialog->Logic().Busy(); }, 20000));
    });
}

TEST_F(FormsTest, OtherWindowsGoToTheNextImplementation)
{
    EXPECT_TRUE(Dialogs->Has(TEditorWindow::Contrast));
    EXPECT_TRUE(Dialogs->Has(TEditorWindow::Resize));
    EXPECT_TRUE(Dialogs->Has(TEditorWindow::AboutBox));
    EXPECT_FALSE(Dialogs->Has(TEditorWindow::Print));
    EXPECT_TRUE(Dialogs->Has(TEditorWindow::SaveAssistant));
    Dialogs->ShowModal(TEditorWindow::Print);
    ASSERT_EQ(Later.Shown.size(), 1u);
    EXPECT_EQ(Later.Shown[0], TEditorWindow::Print);

    // Without a document the image dialogs show nothing.
    Doc.reset();
    Dialogs->ShowModal(TEditorWindow::Grey);
    EXPECT_FALSE(Dialogs->Fgris()->isVisible());
    Dialogs->ShowModal(TEditorWindow::SaveAssistant);
    EXPECT_FALSE(Dialogs->Fsauve()->isVisible());
    EXPECT_TRUE(Dialogs->Fsauve()->Logic().TempFolder().empty());

    TEditorDialogs none;
    EXPECT_FALSE(none.Has(TEditorWindow::Contrast));
    EXPECT_FALSE(none.Has(TEditorWindow::AboutBox));
    EXPECT_FALSE(none.HasBrowser());
}

} // namespace
