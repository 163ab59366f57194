// The resize dialog's logic: the up-down and its field, the proportion
// coupling in single precision with halves to even, and the resize itself
// with its undo step.

#include "DialogTest.h"

#include "MessageBoxes.h"
#include "Numeric.h"
#include "ResizeDialog.h"
#include "photo.h"

#include <gtest/gtest.h>

#include <limits>

using namespace dlgtest;

namespace {

TEST(UpDownBuddy, TypedTextStepsAndRange)
{
    int v = 0;
    EXPECT_TRUE(ValInteger("640", v));
    EXPECT_EQ(v, 640);
    EXPECT_TRUE(ValInteger("  -12", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(ValInteger("+7", v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(ValInteger("-2147483648", v));
    EXPECT_EQ(v, std::numeric_limits<int>::min());
    for (const char* bad : {"", " ", "-", "12a", "1.5", "64 ", "2147483648", "99999999999999999999", "x"})
        EXPECT_FALSE(ValInteger(bad, v)) << bad;

    TUpDownBuddy ud(0, 10240);
    EXPECT_EQ(ud.Text(), "0");
    ud.TextChanged("0640");
    EXPECT_EQ(ud.Position(), 640);
    EXPECT_EQ(ud.Text(), "640") << "written back as the number";
    ud.TextChanged("abc");
    EXPECT_EQ(ud.Position(), 0);
    EXPECT_EQ(ud.Text(), "0");
    // Beyond the range: the field shows the value that is used.
    ud.TextChanged("20000");
    EXPECT_EQ(ud.Position(), 10240);
    EXPECT_EQ(ud.Text(), "10240");
    ud.TextChanged("99999999999");
    EXPECT_EQ(ud.Position(), 0);
    ud.TextChanged("-5");
    EXPECT_EQ(ud.Position(), 0);
    EXPECT_EQ(ud.Text(), "0");
    EXPECT_FALSE(ud.Step(-1));
    EXPECT_TRUE(ud.Step(1));
    EXPECT_EQ(ud.Text(), "1");
    ud.SetPosition(10240);
    EXPECT_FALSE(ud.Step(1));
    EXPECT_EQ(ud.Position(), 10240);
}

TEST(ResizeCoupling, SinglePrecisionHalvesToEven)
{
    int side = -1;
    EXPECT_TRUE(TFkavrelLogic::HeightOfWidth(401, 0.75f, side));
    EXPECT_EQ(side, 301); // 300.75
    EXPECT_TRUE(TFkavrelLogic::WidthOfHeight(301, 0.75f, side));
    EXPECT_EQ(side, 401); // 401.33
    EXPECT_TRUE(TFkavrelLogic::HeightOfWidth(401, 0.5f, side));
    EXPECT_EQ(side, 200); // 200.5
    EXPECT_TRUE(TFkavrelLogic::HeightOfWidth(403, 0.5f, side));
    EXPECT_EQ(side, 202); // 201.5
    EXPECT_TRUE(TFkavrelLogic::WidthOfHeight(5, 2.0f, side));
    EXPECT_EQ(side, 2); // 2.5
    EXPECT_TRUE(TFkavrelLogic::WidthOfHeight(7, 2.0f, side));
    EXPECT_EQ(side, 4); // 3.5
    // The product is rounded to single precision before the whole number:
    // 3 x 0.16666667f is 0.5000000149 exactly, but 0.5 as a Single.
    const float sixth = StoreSingle(1.0L / 6);
    EXPECT_TRUE(TFkavrelLogic::HeightOfWidth(3, sixth, side));
    EXPECT_EQ(side, 0);
    // Out of the range: the range's end.
    EXPECT_TRUE(TFkavrelLogic::HeightOfWidth(10000, 3.0f, side));
    EXPECT_EQ(side, 10240);
    EXPECT_TRUE(TFkavrelLogic::WidthOfHeight(10240, 1e-30f, side));
    EXPECT_EQ(side, 10240);
    // No proportion to keep.
    side = 77;
    for (float aspect : {0.0f, -1.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(TFkavrelLogic::HeightOfWidth(400, aspect, side));
        EXPECT_FALSE(TFkavrelLogic::WidthOfHeight(300, aspect, side));
    }
    EXPECT_EQ(side, 77);
}

class ResizeLogicTest : public ::testing::Test {
protected:
    TScriptedMessageBoxes Boxes;
};

TEST_F(ResizeLogicTest, ArrowsCoupleTypingDoesNot)
{
    TTestDocument doc(Pattern(400, 300));
    ASSERT_EQ(doc->Aspect, 0.75f);
    TFkavrelLogic logic(Boxes);
    logic.FormActivate(*doc);
    logic.choixLChange("400");
    logic.ChoixHChange("300");
    logic.UDWStep(1);
    EXPECT_EQ(logic.UDW.Position(), 401);
    EXPECT_EQ(logic.UDH.Position(), 301);
    EXPECT_EQ(logic.UDH.Text(), "301");
    logic.ChoixHChange("300");
    logic.UDWStep(-1); // 400 gives 300 again
    EXPECT_EQ(logic.UDH.Position(), 300);
    logic.UDHStep(1);
    EXPECT_EQ(logic.UDW.Position(), 401);
    EXPECT_EQ(logic.UDH.Position(), 301);

    // Choosing 640 leaves the height; "Proportion" off and on sets it.
    logic.choixLChange("640");
    EXPECT_EQ(logic.UDH.Position(), 301);
    logic.PropClick(false);
    EXPECT_EQ(logic.UDH.Position(), 301);
    logic.UDWStep(1);
    EXPECT_EQ(logic.UDH.Position(), 301) << "arrows without proportion change one side";
    logic.choixLChange("640");
    logic.PropClick(true);
    EXPECT_EQ(logic.UDH.Position(), 480);
    EXPECT_TRUE(logic.SyncEnabled);

    logic.choixLChange("douze");
    EXPECT_EQ(logic.UDW.Text(), "0");
    logic.FormClose();
    EXPECT_EQ(doc->UndoCount(), 0);
}

TEST_F(ResizeLogicTest, ZeroAspectDoesNotCouple)
{
    TTestDocument doc(Pattern(40, 30));
    doc->Aspect = 0;
    TFkavrelLogic logic(Boxes);
    logic.FormActivate(*doc);
    logic.choixLChange("40");
    logic.ChoixHChange("30");
    logic.UDHStep(1);
    EXPECT_EQ(logic.UDW.Position(), 40);
    EXPECT_EQ(logic.UDH.Position(), 31);
    logic.UDWStep(1);
    logic.PropClick(true);
    EXPECT_EQ(logic.UDH.Position(), 31);
    logic.FormClose();
}

TEST_F(ResizeLogicTest, ApplyResizesOnceWithOneUndoStepAndNewProportions)
{
    const TBitmap original = Pattern(40, 30);
    TTestDocument doc(original);
    TFkavrelLogic logic(Boxes);
    logic.FormActivate(*doc);
    logic.choixLChange("25");
    logic.ChoixHChange("50");
    EXPECT_TRUE(SamePixels(doc->Picture(), original)) << "nothing happens before APPLIQUER";
    const int redisplays = doc.View.Redisplays;
    EXPECT_TRUE(logic.Apply());
    logic.FormClose();

    TBitmap expected = Copy(original);
    ResizeBitmap(expected, 25, 50);
    EXPECT_TRUE(SamePixels(doc->Picture(), expected));
    EXPECT_EQ(doc->Aspect, 2.0f);
    EXPECT_GT(doc.View.Redisplays, redisplays);
    EXPECT_EQ(doc->UndoCount(), 1);
    EXPECT_TRUE(Boxes.Calls.empty());

    // The next showing couples with the new proportions; the fields kept
    // their values.
    logic.FormActivate(*doc);
    EXPECT_EQ(logic.UDW.Position(), 25);
    logic.UDWStep(1);
    EXPECT_EQ(logic.UDH.Position(), 52);
    logic.FormClose();
    EXPECT_EQ(doc->UndoCount(), 1);
    doc->restitue();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
}

TEST_F(ResizeLogicTest, ZeroSideKeepsTheDialogOpenWithNoEmptyUndoStep)
{
    const TBitmap original = Pattern(40, 30);
    TTestDocument doc(original);
    TFkavrelLogic logic(Boxes);
    logic.FormActivate(*doc);
    logic.choixLChange("0");
    logic.ChoixHChange("50");
    EXPECT_FALSE(logic.Apply()) << "not closed as applied";
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Type, mtWarning);
    EXPECT_TRUE(logic.Session.RestoreOnClose());
    EXPECT_TRUE(SamePixels(doc->Picture(), original));

    // Typed beyond the range: the value shown is the value used.
    logic.choixLChange("50000");
    EXPECT_EQ(logic.UDW.Text(), "10240");
    logic.ChoixHChange("0");
    EXPECT_FALSE(logic.Apply());
    logic.FormClose();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(doc->UndoCount(), 0) << "no empty undo step";
    EXPECT_FALSE(doc->Modified);
}

} // namespace
