/// @file
/// Durable files: a file is on the disk whole under its name, or not there
/// at all. It is written under a temporary name in its folder, flushed, and
/// only then given its name; the folder is flushed last. (On Windows the
/// rename is written through to the disk before it returns, which is what
/// flushing the folder does elsewhere; files there have no POSIX
/// permissions, so a mode is not used.) Folders are given by their numbers
/// from OpenFolder (folders.h).
#pragma once

#include <ferrolink/exceptions.h>
#include <ferrolink/streams.h>

#include <string>

namespace ferro {

/// A new file in a folder, written under a temporary name and given its own
/// name by Commit. Destroyed before Commit, it leaves nothing behind.
class TDurableFile {
public:
    /// Creates the temporary file: `prefix`, a suffix no other file has, and
    /// ".part", in the folder open as `folderFd` (kCurrentFolder: names
    /// relative to the current folder), with the permissions `mode` leaves after the
    /// process's umask; never through a link, never an existing file.
    /// @throws EFCreateError "Cannot create file <shownAs>" with the cause.
    TDurableFile(int folderFd, const std::string& prefix, const std::string& shownAs, unsigned mode = 0666);
    /// Removes the temporary file unless it was committed.
    ~TDurableFile();
    TDurableFile(const TDurableFile&) = delete;
    TDurableFile& operator=(const TDurableFile&) = delete;

    /// Writes `count` bytes of `source`, from its position, retrying
    /// interrupted writes.
    /// @throws EWriteError with the cause (a full disk: ENOSPC); EReadError
    ///   when `source` holds fewer bytes.
    void Write(TStream& source, std::int64_t count);
    /// Flushes the file to the disk (with `durable`) and closes it.
    /// @throws EWriteError with the cause.
    void Finish(bool durable);
    /// Gives the finished file `name` in its folder, replacing a file of
    /// that name, or with `replace` false only when there is none.
    /// @return false, nothing changed, when `replace` is false and `name`
    ///   exists.
    /// @throws EFCreateError "Cannot create file <name>" with the cause.
    bool Commit(const std::string& name, bool replace);
    /// The temporary file's name in its folder.
    const std::string& TemporaryName() const { return FPart; }

private:
    int FFolder;
    int FFd = -1;
    std::string FPart;
    bool FCommitted = false;
};

/// The durable write, whole or not at all: `count` bytes of `source` into
/// a new file beside `fileName`, flushed to the disk (with `durable`), then
/// named `fileName`, replacing a file of that name (with `replace`; else
/// only when there is none), and the folder flushed (with `durable`). The
/// new file has the permissions `mode` leaves after the umask.
/// @return false, nothing changed, when `replace` is false and `fileName`
///   exists.
/// @throws as TDurableFile's constructor, Write, Finish and Commit, and
///   SyncFolder; on failure nothing is left behind and `fileName` is as it
///   was.
bool WriteDurably(const std::string& fileName, TStream& source, std::int64_t count, bool replace, bool durable,
                  unsigned mode = 0666);

/// Flushes the entries of the folder open as `folderFd` to the disk.
/// @throws EWriteError with the cause.
void SyncFolder(int folderFd);
/// As above, for the folder at `path`.
void SyncFolder(const std::string& path);

} // namespace ferro
