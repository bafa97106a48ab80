// Seekable byte streams of the class library: TStream and its memory and file
// descendants. Reads and writes move the position; ReadBuffer and WriteBuffer
// demand the whole count and raise otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ferro {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Moves up to `count` bytes; returns how many moved.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    virtual std::int64_t Size();

    void ReadBuffer(void* buffer, std::int64_t count);   // EReadError when short
    void WriteBuffer(const void* buffer, std::int64_t count); // EWriteError when short

    // Copies `count` bytes from `source`'s position into this stream; 0 copies
    // the whole of `source` from its start. Returns the bytes copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }

    const std::uint8_t* Memory() const { return FData.data(); }
    void Clear();

private:
    std::vector<std::uint8_t> FData;
    std::int64_t FPosition = 0;
};

enum TFileMode : unsigned { fmOpenRead = 0, fmOpenWrite = 1, fmOpenReadWrite = 2, fmCreate = 0xFF00 };

// A file opened for the stream's lifetime. Raises EFOpenError "Cannot open
// file <name>" or EFCreateError "Cannot create file <name>".
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, unsigned mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    // Flushes and closes the file; a failure raises EWriteError, so a file
    // that could not be written completely never passes as written.
    void Close();

private:
    std::FILE* FFile = nullptr;
};

} // namespace ferro
