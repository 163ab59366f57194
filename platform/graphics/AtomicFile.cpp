#include "AtomicFile.h"

#include "Exceptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string FolderOf(const std::string& fileName)
{
    auto slash = fileName.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return fileName.substr(0, slash);
}

// The file a save really replaces: a symbolic link is followed to the file
// it names (which may not exist yet), so that the link itself survives.
std::string FollowLinks(const std::string& fileName)
{
    std::string path = fileName;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size())
            return path;
        std::string next(target.data(), static_cast<std::size_t>(n));
        if (next.empty())
            return path;
        if (next[0] != '/') {
            auto slash = path.find_last_of('/');
            if (slash != std::string::npos)
                next = path.substr(0, slash + 1) + next;
        }
        path = next;
    }
    throw EFCreateError("Impossible de créer le fichier " + fileName + " (" + std::strerror(ELOOP) + ")");
}

// No temporary file can be made beside the target (a folder the user may
// not write to), while the target itself may be written.
bool OnlyWritableInPlace(const std::string& target)
{
    struct stat st{};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)
        return false;
    return ::access(FolderOf(target).c_str(), W_OK | X_OK) != 0;
}

// Replaces the content of an existing file by data, in place: the space is
// taken before the first byte changes, so that a full disk leaves the old
// content whole; only a failure of the write itself can damage it.
void WriteInPlace(const std::string& fileName, const std::string& target, const std::vector<std::uint8_t>& data)
{
    auto fail = [&fileName](const char* what, int error) {
        throw EWriteError(std::string(what) + fileName + " (" + std::strerror(error) + ")");
    };
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFCreateError("Impossible de créer le fichier " + fileName + " (" + std::strerror(errno) + ")");
    struct TCloser {
        int& Fd;
        ~TCloser()
        {
            if (Fd >= 0)
                ::close(Fd);
        }
    } closer{fd};
    if (!data.empty()) {
        const int reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(data.size()));
        if (reserved == ENOSPC || reserved == EFBIG || reserved == EDQUOT)
            fail("Erreur d'écriture du fichier ", reserved);
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("Erreur d'écriture du fichier ", n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    if (::ftruncate(fd, static_cast<off_t>(data.size())) != 0)
        fail("Erreur d'écriture du fichier ", errno);
    if (::fsync(fd) != 0)
        fail("Erreur d'écriture du fichier ", errno);
    const int result = ::close(fd);
    fd = -1;
    if (result != 0)
        fail("Erreur d'écriture du fichier ", errno);
}

} // namespace

TAtomicFileStream::TAtomicFileStream(const std::string& fileName) : THandleStream(fileName)
{
    FTarget = FollowLinks(fileName);
    // A file that may not be written is not replaced behind its back: the
    // user cannot write it, or nobody may.
    struct stat st{};
    bool exists = ::stat(FTarget.c_str(), &st) == 0;
    if (exists && S_ISREG(st.st_mode) &&
        (::access(FTarget.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0))
        throw EFCreateError("Impossible de créer le fichier " + fileName + " (" + std::strerror(EACCES) + ")");

    auto slash = FTarget.find_last_of('/');
    std::string base = slash == std::string::npos ? FTarget : FTarget.substr(slash + 1);
    std::string dir = slash == std::string::npos ? std::string() : FTarget.substr(0, slash + 1);
    // The temporary name must stay within the folder's name length limit.
    constexpr std::size_t maxBase = 200;
    if (base.size() > maxBase)
        base.resize(maxBase);
    std::string pattern = dir + "." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FHandle = ::mkostemp(name.data(), O_CLOEXEC);
    if (FHandle < 0)
        throw EFCreateError("Impossible de créer le fichier " + fileName + " (" + std::strerror(errno) + ")");
    FTempName = name.data();
    // Keep the owner and permissions of the file being replaced (the owner
    // only where the system allows it); a new file gets the usual
    // permissions of the user's umask.
    if (exists) {
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(FHandle, st.st_uid, st.st_gid) != 0) {
            // Not permitted: the new file belongs to the user who saves it.
        }
        ::fchmod(FHandle, st.st_mode & 07777);
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(FHandle, 0666 & ~mask);
    }
}

TAtomicFileStream::~TAtomicFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
    FHandle = -1;
    if (!FCommitted && !FTempName.empty())
        ::unlink(FTempName.c_str());
}

void TAtomicFileStream::Commit()
{
    if (FCommitted)
        return;
    if (::fsync(FHandle) != 0)
        throw EWriteError("Erreur d'écriture du fichier " + FFileName + " (" + std::strerror(errno) + ")");
    if (::close(FHandle) != 0) {
        FHandle = -1;
        throw EWriteError("Erreur d'écriture du fichier " + FFileName + " (" + std::strerror(errno) + ")");
    }
    FHandle = -1;
    if (::rename(FTempName.c_str(), FTarget.c_str()) != 0)
        throw EWriteError("Impossible d'enregistrer le fichier " + FFileName + " (" + std::strerror(errno) + ")");
    FCommitted = true;
    // Make the rename itself durable.
    int dir = ::open(FolderOf(FTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void AtomicWriteFile(const std::string& fileName, const std::function<void(TStream&)>& writer)
{
    const std::string target = FollowLinks(fileName);
    if (OnlyWritableInPlace(target)) {
        // The whole file is made in memory first: a failing writer leaves
        // the old file as it was.
        TMemoryStream memory;
        writer(memory);
        WriteInPlace(fileName, target, memory.Data());
        return;
    }
    TAtomicFileStream stream(fileName);
    writer(stream);
    stream.Commit();
}
