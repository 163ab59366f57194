#pragma once
// Atomic file writing: the new content goes to a temporary file in the same
// folder, is flushed to disk and then renamed over the target, so a failed
// save never destroys the file it replaces. A target that is a symbolic link
// is written through to the file the link names; the link stays. A file
// without write permission is not replaced (EFCreateError).

#include "Streams.h"

#include <functional>
#include <string>

class TAtomicFileStream : public THandleStream {
public:
    explicit TAtomicFileStream(const std::string& fileName);
    // Without Commit the temporary file is removed and the target untouched.
    ~TAtomicFileStream() override;

    // Flushes and renames the temporary file over the target.
    void Commit();

private:
    std::string FTarget; // FFileName with symbolic links followed
    std::string FTempName;
    bool FCommitted = false;
};

// Writes a whole file through writer; the target changes only when writer
// returns normally and the data reached the disk. Where no temporary file
// can be made beside a target that may be written (a writable file in a
// folder the user may not write to), the whole file is made in memory and
// then written over the target in place.
void AtomicWriteFile(const std::string& fileName, const std::function<void(TStream&)>& writer);
