// The size rule: the fields' text, the output size of a picture and the
// preview's fit, with their rounding.

#include "Kavrel.h"

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const TSize& size, std::ostream* out)
{
    *out << size.Width << " x " << size.Height;
}

TEST(SizeRule, TableOfTheSizeModes)
{
    struct Case {
        TSizeMode Mode;
        int N, W, H;
        TSize Expected;
    };
    const Case cases[] = {
        {smWidth, 200, 400, 300, {200, 150}},
        {smHeight, 200, 400, 300, {267, 200}}, // 200 / 0.75 = 266.67
        {smMaximum, 200, 400, 300, {200, 150}},
        {smMaximum, 200, 300, 400, {150, 200}},
        {smMaximum, 200, 500, 500, {200, 200}}, // square: as wide
        {smWidth, 1024, 4000, 3000, {1024, 768}},
        {smMaximum, 1024, 3000, 4000, {768, 1024}},
        {smOriginal, 0, 640, 480, {640, 480}},
        // Halves go to even: 5 x 0.5 = 2.5 -> 2, 7 x 0.5 = 3.5 -> 4.
        {smWidth, 5, 4, 2, {5, 2}},
        {smWidth, 7, 4, 2, {7, 4}},
        // By height: 3 / 2 = 1.5 -> 2, 5 / 2 = 2.5 -> 2.
        {smHeight, 3, 2, 4, {2, 3}},
        {smHeight, 5, 2, 4, {2, 5}},
        // The ratio is a Single: 1/3 stored as 0.3333333432..., 300 x ratio
        // = 100.0000029..., 100.
        {smWidth, 300, 3, 1, {300, 100}},
        // A side that would round to 0 is 1.
        {smWidth, 10, 4000, 100, {10, 1}},
        {smHeight, 1, 2, 1000, {1, 1}},
    };
    for (const Case& c : cases) {
        const TSize got = OutputSize({c.Mode, c.N}, c.W, c.H);
        EXPECT_EQ(got.Width, c.Expected.Width) << static_cast<int>(c.Mode) << " " << c.N << " " << c.W << "x" << c.H;
        EXPECT_EQ(got.Height, c.Expected.Height) << static_cast<int>(c.Mode) << " " << c.N << " " << c.W << "x" << c.H;
    }
}

TEST(SizeRule, ProductsAreSinglePrecision)
{
    // A 3:2 photo: the ratio 4000 / 6000 is the Single 0.666666686..., so
    // 1001 / ratio = 1501.49995..., which a Single holds as 1501.5: even, 1502.
    EXPECT_EQ(OutputSize({smHeight, 1001}, 6000, 4000), (TSize{1502, 1001}));
    EXPECT_EQ(OutputSize({smHeight, 1}, 3, 2), (TSize{2, 1}));      // 1.49999996 -> 1.5 -> 2
    EXPECT_EQ(OutputSize({smHeight, 5}, 7, 2), (TSize{18, 5}));      // 17.4999992 -> 17.5 -> 18
    EXPECT_EQ(OutputSize({smWidth, 15}, 10, 3), (TSize{15, 4}));     // 4.50000018 -> 4.5 -> 4
    EXPECT_EQ(OutputSize({smWidth, 18}, 12, 11), (TSize{18, 16}));   // 16.5000004 -> 16.5 -> 16
    EXPECT_EQ(OutputSize({smMaximum, 1001}, 6000, 4000), (TSize{1001, 667}));
    // The preview: 0.8333333 x 153 = 127.499997, a Single 127.5, even: 128.
    EXPECT_EQ(PreviewSize(1200, 1000), (TSize{153, 128}));
    EXPECT_EQ(PreviewSize(7, 306), (TSize{4, 153}));                 // 3.49999991 -> 3.5 -> 4
}

TEST(SizeRule, ReadsTheFieldLikeTheProgram)
{
    std::string message;
    // The original size ignores the field, whatever it holds.
    auto rule = ReadSizeRule(smOriginal, "abc", message);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->Mode, smOriginal);
    EXPECT_EQ(message, "");

    for (TSizeMode mode : {smWidth, smHeight, smMaximum}) {
        for (const char* bad : {"", "abc", "12a", "1.5", " ", "-", "$"}) {
            EXPECT_FALSE(ReadSizeRule(mode, bad, message)) << bad;
            EXPECT_EQ(message, "Dimension incorrecte !") << bad;
        }
        for (const char* notPositive : {"0", "-5", "-0", "$0"}) {
            EXPECT_FALSE(ReadSizeRule(mode, notPositive, message)) << notPositive;
            EXPECT_EQ(message, "La dimension doit être d'au moins 1 pixel !") << notPositive;
        }
        rule = ReadSizeRule(mode, "800", message);
        ASSERT_TRUE(rule);
        EXPECT_EQ(rule->Pixels, 800);
        EXPECT_EQ(rule->Mode, mode);
    }
    EXPECT_EQ(ParseInteger(" 42"), 42);
    EXPECT_EQ(ParseInteger("+7"), 7);
    EXPECT_EQ(ParseInteger("$1F"), 31);
    EXPECT_EQ(ParseInteger("0x10"), 16);
    EXPECT_EQ(ParseInteger("42 "), std::nullopt);
    EXPECT_EQ(ParseInteger("99999999999"), std::nullopt);
    EXPECT_EQ(ParseInteger("-2147483648"), INT_MIN);
}

TEST(SizeRule, PreviewFitsTheLongerSide)
{
    EXPECT_EQ(PreviewSize(400, 300), (TSize{153, 115}));  // 114.75
    EXPECT_EQ(PreviewSize(300, 400), (TSize{115, 153}));  // 153 / 1.3333334 = 114.74999
    EXPECT_EQ(PreviewSize(100, 100), (TSize{153, 153}));
    EXPECT_EQ(PreviewSize(1000, 1), (TSize{153, 1}));      // 0.153 -> 0, kept at 1
    EXPECT_EQ(PreviewSize(0, 10), (TSize{0, 0}));
    EXPECT_EQ(FailureText(0), "");
    EXPECT_EQ(FailureText(1), "1 photo n'a pas pu être convertie.");
    EXPECT_EQ(FailureText(3), "3 photos n'ont pas pu être converties.");
    EXPECT_EQ(OutputFolder("/photos"), "/photos/kavrel/");
    EXPECT_EQ(OutputFolder("/photos/"), "/photos/kavrel/");
}
