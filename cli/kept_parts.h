// What qbmsg receive keeps of a named file whose send was cut off, so that
// the same file sent again goes on from there: one file per sender, path
// and size in a hidden folder of the receiver's folder, bounded in age and
// in total size.
#pragma once

#include <ferrolink/folders.h>
#include <ferrolink/qbstrmserv.h>
#include <ferrolink/streams.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qbmsgcli {

// A kept part, open for the rest of its body to be written at its end. Its
// file is removed with the stream unless it was kept again (the send was
// cut off once more) or moved to its stored name: a part that was not
// resumed, or whose body failed its check, is never offered again.
class TKeptPart : public ferro::TStream {
public:
    TKeptPart(std::unique_ptr<ferro::TFolderFile> file, int folderFd, std::string name);
    ~TKeptPart() override;
    TKeptPart(const TKeptPart&) = delete;
    TKeptPart& operator=(const TKeptPart&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    // Writes all `count` bytes; raises ferro::EWriteError with the cause.
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, ferro::TSeekOrigin origin) override;
    std::int64_t Size() override;

    // Flushes it to the disk and leaves it where it is.
    void Retain();
    // Flushes it and gives it `name` in the folder open as `folderFd`,
    // never replacing a file; false when `name` exists. Raises
    // ferro::EFCreateError with the cause.
    bool MoveTo(int folderFd, const std::string& name);

private:
    std::unique_ptr<ferro::TFolderFile> FFile;
    int FFolder; // the kept parts' folder (not owned)
    std::string FName;
    bool FRemoved = true; // gone with the stream
};

class TKeptParts {
public:
    using TLabel = ferro::TQBStrmServ::TFileLabel;

    // Opens the hidden folder in the folder open as `folderFd` (making it,
    // mode 0700, when missing) and drops the parts older than a day and,
    // oldest first, those beyond `totalLimit` bytes in all. Raises
    // ferro::EFCreateError with the cause when the folder cannot be used.
    TKeptParts(int folderFd, std::int64_t totalLimit);
    ~TKeptParts();
    TKeptParts(const TKeptParts&) = delete;
    TKeptParts& operator=(const TKeptParts&) = delete;

    // The part kept for this sender's file of this size, or null.
    std::unique_ptr<ferro::TStream> Find(const TLabel& label) const;
    // Keeps what arrived of the file (a body of the folder: a part found
    // here or a nameless file), in place of any part kept before; the bytes
    // kept, 0 when nothing was (nothing arrived, or nothing can be kept).
    std::int64_t Keep(const TLabel& label, std::unique_ptr<ferro::TStream> arrived);

private:
    // Drops the parts past their age or beyond the total.
    void Prune() const;

    int FFd = -1;
    std::int64_t FTotalLimit;
};

} // namespace qbmsgcli
