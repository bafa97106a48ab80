/// @file
/// Seekable byte streams of the class library: TStream and its memory and file
/// descendants. Reads and writes move the position; ReadBuffer and WriteBuffer
/// demand the whole count and raise otherwise.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ferro {

/// Where a Seek counts from.
enum class TSeekOrigin {
    soBeginning, ///< the stream's start
    soCurrent,   ///< the current position
    soEnd        ///< the stream's end
};

/// A seekable byte stream with a size and a position.
class TStream {
public:
    virtual ~TStream() = default;

    /// Reads up to `count` bytes at the position into `buffer` and moves the
    /// position past them; returns how many moved (0 at the end).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    /// Writes `count` bytes at the position and moves the position past
    /// them; returns how many moved.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    /// Moves the position to `offset` from `origin`; returns the new position.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    /// The position, in bytes from the start.
    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    /// Moves the position to `position` bytes from the start.
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    /// The size in bytes; the position is left where it was.
    virtual std::int64_t Size();

    /// Reads exactly `count` bytes; raises EReadError when fewer are there.
    void ReadBuffer(void* buffer, std::int64_t count);
    /// Writes exactly `count` bytes; raises EWriteError when fewer are taken.
    void WriteBuffer(const void* buffer, std::int64_t count);

    /// Copies `count` bytes from `source`'s position into this stream; 0 copies
    /// the whole of `source` from its start. Returns the bytes copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

/// A stream held in memory; it grows as it is written past its end.
class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }

    /// The bytes, Size() of them; valid until the next write or Clear.
    const std::uint8_t* Memory() const { return FData.data(); }
    /// Empties the stream; the position goes to 0.
    void Clear();
    /// Makes room for `bytes` bytes in all, so that writing up to that size
    /// moves nothing; the content, size and position stay as they are.
    void Reserve(std::int64_t bytes) { FData.reserve(static_cast<std::size_t>(std::max<std::int64_t>(bytes, 0))); }

private:
    std::vector<std::uint8_t> FData;
    std::int64_t FPosition = 0;
};

/// How a TFileStream opens its file.
enum TFileMode : unsigned {
    fmOpenRead = 0,      ///< an existing file, for reading
    fmOpenWrite = 1,     ///< an existing file, for reading and writing
    fmOpenReadWrite = 2, ///< an existing file, for reading and writing
    fmCreate = 0xFF00    ///< a new file, or an existing one emptied
};

/// A file opened for the stream's lifetime.
class TFileStream : public TStream {
public:
    /// Opens `fileName` as `mode` says (a TFileMode).
    /// @throws EFOpenError "Cannot open file <name>" when it cannot be opened.
    /// @throws EFCreateError "Cannot create file <name>" when fmCreate fails.
    TFileStream(const std::string& fileName, unsigned mode);
    /// Closes the file; a failure then goes unreported: call Close() first
    /// where it matters.
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    /// Flushes and closes the file; a failure raises EWriteError, so a file
    /// that could not be written completely never passes as written.
    void Close();

private:
    std::FILE* FFile = nullptr;
};

/// Writes `count` bytes of `source`, from its position, into a new file
/// beside `fileName`, then renames it over `fileName`: a link of that name
/// is replaced, never followed, and no reader ever sees a half-written file.
/// With `durable`, the file and its folder are flushed to the disk before
/// this returns. On failure nothing is left behind and `fileName` is as it was.
/// @throws EFCreateError "Cannot create file <fileName>" when the new file
///   cannot be made or renamed; EWriteError when it cannot be written whole
///   (a full disk); EReadError when `source` holds fewer than `count` bytes.
///   SystemError() tells the cause.
void WriteFileReplacing(const std::string& fileName, TStream& source, std::int64_t count, bool durable = false);

} // namespace ferro
