/// @file
/// TTempFileStream: a stream in a file that has no name until it is kept,
/// for data too large to hold in memory (a received message's body).
#pragma once

#include <ferrolink/streams.h>

#include <string>

namespace ferro {

/// A read-write stream in a new file of a folder. The file has no name (it
/// is gone with the stream, even when the program is killed) until Keep
/// gives it one, so a body can be kept under its final name without being
/// copied. Where the folder's file system cannot make nameless files, the
/// file is made with a name and removed at once; Keep then cannot be used
/// (CanKeep is false) and a caller copies instead. A file that is kept has
/// the mode a new file gets (0666 less the umask).
///
/// On Windows no file is nameless: the file has a hidden name of its own
/// (".body-PID.N.part") and is pending deletion, so that the system removes
/// it when the stream goes, even when the program is killed; Keep takes the
/// deletion back and renames it. Every such file can be kept, and others may
/// read, rename or remove it while it is open, as on other systems.
class TTempFileStream : public TStream {
public:
    /// Makes the file in `folder` (the system's temporary folder when empty:
    /// TMPDIR or /tmp; on Windows, GetTempPath's).
    /// @throws EFCreateError "Cannot create a file in folder <folder>" with
    ///   the cause (SystemError()).
    explicit TTempFileStream(const std::string& folder);
    /// Makes the file in the folder open as `folderFd` (a number from
    /// OpenFolder, folders.h, which must stay open while the stream lives),
    /// shown in failures as `shownAs`: so that it
    /// is made where the folder is now, whatever its path names later. With
    /// `named`, the file has a hidden name of its own (".body-PID.N.part")
    /// from the start, removed with the stream unless kept: for a system
    /// where a nameless file cannot be given a name (see NamelessCanBeKept).
    /// @throws EFCreateError as above.
    TTempFileStream(int folderFd, const std::string& shownAs, bool named);
    /// Whether a nameless file made in the folder open as `folderFd` can be
    /// given a name there; tried with a file that is gone after.
    static bool NamelessCanBeKept(int folderFd);
    ~TTempFileStream() override;
    TTempFileStream(const TTempFileStream&) = delete;
    TTempFileStream& operator=(const TTempFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    /// Writes all `count` bytes, retrying interrupted writes.
    /// @throws EWriteError with the cause (a full disk: ENOSPC).
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    /// Whether Keep can give the file a name.
    bool CanKeep() const { return FNameless || !FPart.empty(); }
    /// Flushes the file to the disk, then gives it `name` in the folder open
    /// as `folderFd`, which must be on the same file system as the folder it
    /// was made in. Never replaces a file.
    /// @return false, nothing changed, when `name` exists.
    /// @throws EFCreateError "Cannot create file <name>" with the cause;
    ///   EWriteError when the flush fails.
    bool Keep(int folderFd, const std::string& name);

private:
    /// Links the nameless file as `name`; false with errno when it could not.
    bool LinkNameless(int folderFd, const std::string& name) const;

    int FFd = -1;
    bool FNameless = false;
    int FFolder = -1;  ///< the folder of a named file (not owned)
    std::string FPart; ///< a named file's name until it is kept
};

} // namespace ferro
