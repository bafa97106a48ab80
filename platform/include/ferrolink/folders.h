/// @file
/// Folders held open by a number, and the files in them, so that what a
/// program makes in a folder is made where that folder is now, whatever its
/// path names later, and never through a link. The durable files
/// (durablefile.h) and temporary files (tempfilestream.h) take folders this
/// way. Names are UTF-8. Failures leave errno set to the system's cause in
/// errno's names on every platform (ENOENT, EEXIST, EXDEV, ...).
#pragma once

#include <ferrolink/streams.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ferro {

/// The current folder, as a folder number: names relative to it.
constexpr int kCurrentFolder = -100;

/// Opens the folder at `path`.
/// @return its number, or -1 with errno set (ENOENT, for none there;
///   ENOTDIR, for a file that is not a folder).
int OpenFolder(const std::string& path);
/// Opens the folder `name` of `folder`, never through a link.
/// @return its number, or -1 with errno set (ENOENT for none; ENOTDIR for a
///   file; ELOOP for a link).
int OpenFolderIn(int folder, const std::string& name);
/// Closes a folder opened here; -1 and kCurrentFolder are let be.
void CloseFolder(int folder);
/// Makes the folder `name` in `folder`, with the permissions `mode` leaves
/// after the umask (Windows: those the folder inherits).
/// @return false with errno set (EEXIST when the name is taken).
bool MakeFolderIn(int folder, const std::string& name, unsigned mode);
/// Removes the file `name` of `folder`.
/// @return false with errno set.
bool RemoveFileIn(int folder, const std::string& name);
/// Gives the file `from` of `fromFolder` the name `to` in `toFolder`, never
/// over a file.
/// @return false with errno set: EEXIST when `to` is taken, EXDEV when the
///   folders are on different file systems.
bool RenameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to);

/// One entry of a folder.
struct TFolderEntry {
    std::string Name;               ///< its name in the folder
    bool IsFile = false;            ///< a regular file (not a folder, a link or a device)
    std::int64_t Size = 0;          ///< bytes, for a file
    std::int64_t ModifiedAt = 0;    ///< seconds since 1970-01-01 UTC
};
/// What `folder` holds, but "." and ".."; empty when it cannot be read.
std::vector<TFolderEntry> FolderEntries(int folder);

/// A regular file of a folder, open for reading and writing.
class TFolderFile : public TStream {
public:
    /// Opens the regular file `name` of `folder`, never through a link.
    /// @return null, errno set, when there is no such file.
    static std::unique_ptr<TFolderFile> Open(int folder, const std::string& name);
    ~TFolderFile() override;
    TFolderFile(const TFolderFile&) = delete;
    TFolderFile& operator=(const TFolderFile&) = delete;

    /// @throws EReadError when the system fails the read.
    std::int64_t Read(void* buffer, std::int64_t count) override;
    /// Writes all `count` bytes.
    /// @throws EWriteError with the cause (a full disk: ENOSPC).
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    /// Flushes the file to the disk.
    /// @throws EWriteError with the cause.
    void Flush();

private:
    explicit TFolderFile(int fd) : FFd(fd) {}
    int FFd;
};

} // namespace ferro
