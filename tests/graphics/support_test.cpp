#include "AtomicFile.h"
#include "Bitmap.h"
#include "Exceptions.h"
#include "Numeric.h"
#include "Picture.h"
#include "Streams.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Numeric, RoundsHalvesToEven)
{
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(3.5L), 4);
    EXPECT_EQ(Round(-2.5L), -2);
    EXPECT_EQ(Round(-3.5L), -4);
    EXPECT_EQ(Round(2.5000001L), 3);
    EXPECT_EQ(Round(0.49999999L), 0);
    EXPECT_EQ(Trunc(-1.7L), -1);
    EXPECT_EQ(Trunc(1.99L), 1);
    EXPECT_EQ(Trunc(std::numeric_limits<long double>::quiet_NaN()), 0);
}

TEST(Numeric, RoundAndTruncAtTheEndsOf64Bits)
{
    constexpr std::int64_t lo = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int64_t>::max();
    // Every 64-bit integer is exact in extended precision and comes back as itself.
    for (std::int64_t v : {lo, lo + 1, lo + 2, hi - 1, hi, std::int64_t{-1}, std::int64_t{0}}) {
        EXPECT_EQ(Round(static_cast<Extended>(v)), v) << v;
        EXPECT_EQ(Trunc(static_cast<Extended>(v)), v) << v;
    }
    EXPECT_EQ(Round(-9223372036854775807.5L), lo);
    EXPECT_EQ(Trunc(-9223372036854775807.5L), lo + 1);
    EXPECT_EQ(Round(9223372036854775806.5L), hi - 1);
    EXPECT_EQ(Round(-0.5L), 0);
    EXPECT_EQ(Round(0.5L), 0);
    EXPECT_EQ(Round(-1.5L), -2);
    EXPECT_EQ(Round(4611686018427387904.5L), 4611686018427387904); // 2^62 + 1/2: even stays
    EXPECT_EQ(Round(1e30L), hi);
    EXPECT_EQ(Round(-1e30L), lo);
    EXPECT_EQ(Trunc(std::numeric_limits<Extended>::infinity()), hi);
    EXPECT_EQ(Trunc(-std::numeric_limits<Extended>::infinity()), lo);
}

TEST(Numeric, MulDivRoundsHalfAwayFromZeroAndGuardsZero)
{
    EXPECT_EQ(MulDiv(10, 3, 4), 8);  // 7.5
    EXPECT_EQ(MulDiv(-10, 3, 4), -8);
    EXPECT_EQ(MulDiv(10, 3, -4), -8);
    EXPECT_EQ(MulDiv(7, 1, 3), 2);   // 2.33
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(0x40000000, 8, 1), -1); // beyond 32 bits
    EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000); // 64-bit product
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);                    // -0.5
    EXPECT_EQ(MulDiv(5, 1, -2), -3);                    // -2.5
    EXPECT_EQ(MulDiv(-5, -1, 3), 2);                    // 1.67
    EXPECT_EQ(MulDiv(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);
    EXPECT_EQ(MulDiv(INT32_MIN, 1, -1), -1);            // 2^31 does not fit
    EXPECT_EQ(MulDiv(0, 5, -3), 0);
}

TEST(Streams, ShortReadsRaiseAndPositionsAre64Bit)
{
    TMemoryStream m(std::vector<std::uint8_t>{1, 2, 3});
    std::uint8_t buf[4];
    EXPECT_THROW(m.ReadBuffer(buf, 4), EReadError);
    m.SetPosition(1);
    EXPECT_EQ(m.ReadU16LE(), 0x0302);
    EXPECT_THROW(m.ReadU8(), EReadError);

    testutil::TempDir dir;
    TFileStream f(dir.File("big"), fmCreate);
    const std::int64_t far = (std::int64_t{5} << 30) + 7; // beyond 4 GiB, sparse
    f.SetSize(far + 1);
    EXPECT_EQ(f.Seek(far, soBeginning), far);
    f.WriteU8(9);
    EXPECT_EQ(f.Position(), far + 1);
    EXPECT_EQ(f.Size(), far + 1);
}

TEST(Streams, MemoryStreamPositionsAtTheLimitsRaiseStreamErrors)
{
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    TMemoryStream m(std::vector<std::uint8_t>{1, 2, 3, 4});
    m.Seek(max, soBeginning);
    EXPECT_THROW(m.Seek(10, soCurrent), EStreamError);
    EXPECT_THROW(m.Seek(-5, soBeginning), EStreamError);
    m.Seek(max, soBeginning);
    EXPECT_THROW(m.WriteU8(1), EOutOfMemory) << "no memory holds a byte at the last position";
    EXPECT_EQ(m.Size(), 4);
    m.SetPosition(4);
    std::uint8_t b;
    EXPECT_EQ(m.Read(&b, 0), 0u);
    EXPECT_EQ(m.Read(&b, 1), 0u);
}

TEST(Streams, MemoryStreamCopiesFromItsOwnMemory)
{
    // Appending a stream's own bytes grows, and so moves, the memory they
    // are read from.
    std::vector<std::uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    TMemoryStream m(data);
    m.Seek(0, soEnd);
    m.WriteBuffer(m.Memory(), 1000);
    ASSERT_EQ(m.Size(), 2000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), m.Data().begin() + 1000));
    // Overlapping ranges within the stream.
    m.SetPosition(1);
    m.WriteBuffer(m.Memory(), 10);
    EXPECT_EQ(m.Data()[1], data[0]);
    EXPECT_EQ(m.Data()[10], data[9]);

    TMemoryStream empty, copy;
    EXPECT_EQ(copy.CopyFrom(empty, 0), 0);
    EXPECT_EQ(copy.Size(), 0);
    TMemoryStream source(data);
    source.SetPosition(500);
    EXPECT_EQ(copy.CopyFrom(source, 0), 1000) << "a count of 0 copies all of the source from its start";
    EXPECT_EQ(copy.Data(), data);
    source.SetPosition(990);
    EXPECT_THROW(copy.CopyFrom(source, 20), EReadError);
}

TEST(Streams, OpeningAMissingFileSaysWhich)
{
    try {
        TFileStream f("/nonexistent/folder/x.bmp", fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/folder/x.bmp"), std::string::npos);
    }
}

TEST(AtomicWriting, AFailedSaveKeepsTheOldFile)
{
    testutil::TempDir dir;
    std::string target = dir.File("photo.bmp");
    testutil::WriteFile(target, {1, 2, 3});
    chmod(target.c_str(), 0640);
    EXPECT_THROW(AtomicWriteFile(target,
                                 [](TStream& s) {
                                     s.WriteU32LE(0xDEADBEEF);
                                     throw EWriteError("disk full");
                                 }),
                 EWriteError);
    EXPECT_EQ(testutil::ReadFile(target), (std::vector<std::uint8_t>{1, 2, 3}));
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 1) << "the temporary file was left behind";

    AtomicWriteFile(target, [](TStream& s) { s.WriteU8(42); });
    EXPECT_EQ(testutil::ReadFile(target), (std::vector<std::uint8_t>{42}));
    struct stat st{};
    stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "permissions of the replaced file are kept";
}

TEST(AtomicWriting, ASymbolicLinkIsWrittenThroughAndKept)
{
    testutil::TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    std::string target = dir.File("real/photo.bmp");
    testutil::WriteFile(target, {1, 2, 3});
    std::filesystem::create_symlink("real/photo.bmp", dir.File("link.bmp"));
    std::filesystem::create_symlink(dir.File("link.bmp"), dir.File("link2.bmp")); // a chain of links

    AtomicWriteFile(dir.File("link2.bmp"), [](TStream& s) { s.WriteU8(42); });
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.bmp")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link2.bmp")));
    EXPECT_EQ(testutil::ReadFile(target), (std::vector<std::uint8_t>{42}));
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.File("real")))
        ++entries;
    EXPECT_EQ(entries, 1) << "the temporary file belongs beside the link's target";

    // A link to a file that does not exist yet creates that file.
    std::filesystem::create_symlink("real/new.bmp", dir.File("dangling.bmp"));
    AtomicWriteFile(dir.File("dangling.bmp"), [](TStream& s) { s.WriteU8(7); });
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("dangling.bmp")));
    EXPECT_EQ(testutil::ReadFile(dir.File("real/new.bmp")), (std::vector<std::uint8_t>{7}));

    std::filesystem::create_symlink("loop.bmp", dir.File("loop.bmp"));
    EXPECT_THROW(AtomicWriteFile(dir.File("loop.bmp"), [](TStream&) {}), EFCreateError);
}

TEST(AtomicWriting, AReadOnlyFileIsNotReplaced)
{
    testutil::TempDir dir;
    std::string target = dir.File("locked.bmp");
    testutil::WriteFile(target, {1, 2, 3});
    chmod(target.c_str(), 0444);
    EXPECT_THROW(AtomicWriteFile(target, [](TStream& s) { s.WriteU8(42); }), EFCreateError);
    EXPECT_EQ(testutil::ReadFile(target), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(AtomicWriting, LongFileNamesCanBeSaved)
{
    testutil::TempDir dir;
    std::string target = dir.File(std::string(250, 'a') + ".bmp"); // 254 characters, the temporary name must fit too
    AtomicWriteFile(target, [](TStream& s) { s.WriteU8(1); });
    EXPECT_EQ(testutil::ReadFile(target), (std::vector<std::uint8_t>{1}));
    AtomicWriteFile(target, [](TStream& s) { s.WriteU8(2); });
    EXPECT_EQ(testutil::ReadFile(target), (std::vector<std::uint8_t>{2}));
}

TEST(AtomicWriting, AFailedRenameRaisesAndCleansUp)
{
    testutil::TempDir dir;
    std::string target = dir.File("folder.bmp"); // a folder cannot be replaced by a file
    std::filesystem::create_directory(target);
    testutil::WriteFile(dir.File("folder.bmp/inside"), {5});
    EXPECT_THROW(AtomicWriteFile(target, [](TStream& s) { s.WriteU8(1); }), EWriteError);
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(testutil::ReadFile(dir.File("folder.bmp/inside")), (std::vector<std::uint8_t>{5}));
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 1) << "the temporary file was left behind";

    // A new file gets the permissions the umask allows.
    mode_t old = umask(027);
    AtomicWriteFile(dir.File("new.bmp"), [](TStream& s) { s.WriteU8(1); });
    umask(old);
    struct stat st{};
    stat(dir.File("new.bmp").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Runs fn as a user who may not write to the folder but may write the file
// (root hands both to the unprivileged user "nobody" for it, in a child
// process); answers fn's result, or -1 when that could not be arranged.
int AsUserOfTheFileOnly(const std::string& folder, const std::string& file, const std::function<int()>& fn)
{
    if (::geteuid() != 0) {
        ::chmod(folder.c_str(), 0555);
        const int result = fn();
        ::chmod(folder.c_str(), 0755);
        return result;
    }
    constexpr uid_t nobody = 65534;
    if (::chmod(folder.c_str(), 0755) != 0 || ::chown(file.c_str(), nobody, nobody) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(100);
        // Nothing may leave the child but its exit status.
        int code = 101;
        try {
            code = fn();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(AtomicWriting, AWritableFileInAFolderThatIsNotIsWrittenInPlace)
{
    testutil::TempDir dir;
    const std::string target = dir.File("photo.bmp");
    testutil::WriteFile(target, {1, 2, 3, 4, 5, 6});
    ::chmod(target.c_str(), 0644);

    const int result = AsUserOfTheFileOnly(dir.Path(), target, [&target] {
        // The folder really refuses a new file to this user.
        if (std::ofstream(target + ".new"))
            return 10;
        // A writer that fails leaves the old content whole.
        try {
            AtomicWriteFile(target, [](TStream& s) {
                s.WriteU8(9);
                throw EWriteError("disk full");
            });
            return 11;
        } catch (const EWriteError&) {
        }
        if (testutil::ReadFile(target) != std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6})
            return 12;
        // A shorter and then a longer content replace it whole.
        try {
            AtomicWriteFile(target, [](TStream& s) { s.WriteU8(42); });
            if (testutil::ReadFile(target) != std::vector<std::uint8_t>{42})
                return 13;
            AtomicWriteFile(target, [](TStream& s) {
                for (int i = 0; i < 100000; ++i)
                    s.WriteU8(static_cast<std::uint8_t>(i));
            });
        } catch (...) {
            return 14;
        }
        return 0;
    });
    ASSERT_EQ(result, 0);
    const std::vector<std::uint8_t> written = testutil::ReadFile(target);
    ASSERT_EQ(written.size(), 100000u);
    for (std::size_t i = 0; i < written.size(); ++i)
        ASSERT_EQ(written[i], static_cast<std::uint8_t>(i)) << i;
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(AtomicWriting, AnUnwritableFolderRaises)
{
    EXPECT_THROW(AtomicWriteFile("/nonexistent/folder/out.bmp", [](TStream&) {}), EFCreateError);
}

struct FakeGraphic : TGraphic {
    explicit FakeGraphic(std::string name) : Name(std::move(name)) {}
    const char* ClassName() const override { return Name.c_str(); }
    void Draw(TCanvas&, const TRect&) override {}
    bool GetEmpty() const override { return true; }
    int GetHeight() const override { return 0; }
    int GetWidth() const override { return 0; }
    void SetHeight(int) override {}
    void SetWidth(int) override {}
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) const override {}
    std::string Name;
};

TEST(PictureRegistry, NewestRegistrationWinsAndUnknownExtensionsAreNamed)
{
    static const TGraphicClassInfo older{"TOlder", [] { return std::unique_ptr<TGraphic>(new FakeGraphic("TOlder")); }};
    static const TGraphicClassInfo newer{"TNewer", [] { return std::unique_ptr<TGraphic>(new FakeGraphic("TNewer")); }};
    TPicture::RegisterFileFormat("zzq", "Older", &older);
    TPicture::RegisterFileFormat(".ZZQ", "Newer", &newer);
    EXPECT_EQ(TPicture::FindGraphicClass("zzq"), &newer);
    EXPECT_EQ(TPicture::FindGraphicClass(".Zzq"), &newer);
    std::string filter = GraphicFilter();
    EXPECT_NE(filter.find("Newer (*.zzq)|*.zzq"), std::string::npos) << filter;
    EXPECT_EQ(filter.find("Older (*.zzq)"), std::string::npos) << filter;
    EXPECT_EQ(filter.rfind("Tous (", 0), 0u) << filter;

    testutil::TempDir dir;
    std::string file = dir.File("a.ZZQ");
    testutil::WriteFile(file, {0});
    TPicture picture;
    picture.LoadFromFile(file);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TNewer");

    TPicture::UnregisterGraphicClass(&newer);
    EXPECT_EQ(TPicture::FindGraphicClass("zzq"), &older);
    TPicture::UnregisterGraphicClass(&older);
    try {
        picture.LoadFromFile(file);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Extension de fichier graphique inconnue (.zzq)");
    }
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TNewer") << "a failed load keeps the old graphic";
}

TEST(PictureRegistry, PictureBitmapAndAssign)
{
    TPicture p;
    p.Bitmap().SetSize(3, 2);
    EXPECT_EQ(p.Width(), 3);
    TPicture q;
    q.Assign(p);
    ASSERT_NE(q.Graphic(), p.Graphic());
    EXPECT_EQ(q.Height(), 2);
    TBitmap b;
    b.Assign(p);
    EXPECT_EQ(b.Width(), 3);
    TPicture empty;
    EXPECT_THROW(b.Assign(empty), EConvertError);
}

TEST(Clipboard, FormatsAreRegisteredOncePerName)
{
    TClipboardFormat a = RegisterClipboardFormat("GIF Image");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterClipboardFormat("GIF Image"), a);
    EXPECT_NE(RegisterClipboardFormat("Other"), a);
    EXPECT_EQ(ClipboardFormatName(a), "GIF Image");
}

} // namespace
