// What the durable write is on every platform, over each one's own file
// calls (posix/durablefile.cpp, windows/durablefile.cpp).
#include <ferrolink/durablefile.h>

#include <ferrolink/folders.h>

#include "write_all.h"

#include <algorithm>

namespace ferro {

void TDurableFile::Write(TStream& source, std::int64_t count)
{
    char chunk[8192];
    while (count > 0) {
        const auto n = std::min<std::int64_t>(count, sizeof chunk);
        source.ReadBuffer(chunk, n);
        detail::WriteAll(FFd, chunk, n);
        count -= n;
    }
}

namespace {

// The folder part of a file name, "." for a bare name. (Only POSIX flushes
// a folder by its path: Windows' rename is written through already.)
std::string FolderOf(const std::string& fileName)
{
    const std::size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
}

} // namespace

bool WriteDurably(const std::string& fileName, TStream& source, std::int64_t count, bool replace, bool durable, unsigned mode)
{
    TDurableFile file(kCurrentFolder, fileName + ".", fileName, mode);
    file.Write(source, count);
    file.Finish(durable);
    if (!file.Commit(fileName, replace))
        return false;
    if (durable)
        SyncFolder(FolderOf(fileName));
    return true;
}

void WriteFileReplacing(const std::string& fileName, TStream& source, std::int64_t count, bool durable)
{
    WriteDurably(fileName, source, count, true, durable);
}

} // namespace ferro
