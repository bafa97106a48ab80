#include <ferrolink/streams.h>

#include <ferrolink/exceptions.h>

#include "open_file.h"

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstring>

namespace ferro {

std::int64_t TStream::Size()
{
    const std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
    const std::int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    char chunk[4096];
    std::int64_t copied = 0;
    while (copied < count) {
        const std::int64_t n = std::min<std::int64_t>(sizeof chunk, count - copied);
        source.ReadBuffer(chunk, n);
        WriteBuffer(chunk, n);
        copied += n;
    }
    return copied;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count)
{
    const std::int64_t n = std::clamp<std::int64_t>(Size() - FPosition, 0, std::max<std::int64_t>(count, 0));
    if (n > 0)
        std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const auto position = static_cast<std::size_t>(FPosition);
    const auto length = static_cast<std::size_t>(count);
    if (position > FData.size())
        FData.resize(position); // a write beyond the end leaves zeros between
    // What overwrites is copied, what extends is appended (not zeroed first).
    const std::size_t over = std::min(length, FData.size() - position);
    if (over > 0)
        std::memcpy(FData.data() + position, bytes, over);
    FData.insert(FData.end(), bytes + over, bytes + length);
    FPosition += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
        : origin == TSeekOrigin::soCurrent                      ? FPosition
                                                                : Size();
    FPosition = std::max<std::int64_t>(base + offset, 0);
    return FPosition;
}

void TMemoryStream::Clear()
{
    FData.clear();
    FPosition = 0;
}

TFileStream::TFileStream(const std::string& fileName, unsigned mode)
{
    if (mode == fmCreate) {
        FFile = detail::OpenFile(fileName, "w+b");
        if (!FFile)
            throw EFCreateError("Cannot create file " + fileName, errno);
        return;
    }
    const char* how = (mode & 3) == fmOpenRead ? "rb" : "r+b";
    FFile = detail::OpenFile(fileName, how);
    if (!FFile)
        throw EFOpenError("Cannot open file " + fileName, errno);
}

TFileStream::~TFileStream()
{
    if (FFile)
        std::fclose(FFile);
}

void TFileStream::Close()
{
    if (!FFile)
        return;
    const bool ok = std::fflush(FFile) == 0 && !std::ferror(FFile);
    const int error = errno;
    const bool closed = std::fclose(FFile) == 0;
    FFile = nullptr;
    if (!ok || !closed)
        throw EWriteError(ok ? errno : error);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count)
{
    if (!FFile || count <= 0)
        return 0;
    return static_cast<std::int64_t>(std::fread(buffer, 1, static_cast<std::size_t>(count), FFile));
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count)
{
    if (!FFile || count <= 0)
        return 0;
    return static_cast<std::int64_t>(std::fwrite(buffer, 1, static_cast<std::size_t>(count), FFile));
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    if (!FFile)
        return 0;
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
        : origin == TSeekOrigin::soCurrent                ? SEEK_CUR
                                                          : SEEK_END;
    // 64-bit positions on both platforms: a long is 32 bits on Windows.
#ifdef _WIN32
    ::_fseeki64(FFile, offset, whence);
    return ::_ftelli64(FFile);
#else
    ::fseeko(FFile, static_cast<off_t>(offset), whence);
    return static_cast<std::int64_t>(::ftello(FFile));
#endif
}

} // namespace ferro
