// BMP pictures: the check of a file's headers before Qt decodes it (the
// fuzz target's subject), and loading from files.
#include <ferrolink/forms.h>

#include <ferrolink/streams.h>

#include <QFileInfo>
#include <QImageReader>

#include <algorithm>

#include <cstdint>
#include <cstring>

namespace ferro {

namespace {

std::uint32_t U32(const std::string& d, std::size_t at)
{
    std::uint32_t v = 0;
    std::memcpy(&v, d.data() + at, 4);
    return v; // BMP fields are little-endian, as this machine is
}

std::int32_t I32(const std::string& d, std::size_t at) { return static_cast<std::int32_t>(U32(d, at)); }

std::uint16_t U16(const std::string& d, std::size_t at)
{
    std::uint16_t v = 0;
    std::memcpy(&v, d.data() + at, 2);
    return v;
}

constexpr std::size_t kFileHeaderSize = 14;

[[noreturn]] void NotValid() { throw EInvalidGraphic("Bitmap image is not valid"); }

// The bytes of pixel data the headers announce, or -1 when they make no sense.
std::int64_t AnnouncedPixelBytes(const std::string& d, std::uint32_t infoSize)
{
    std::int64_t width, height, bitCount, compression = 0, sizeImage = 0;
    if (infoSize == 12) {
        width = U16(d, 18);
        height = U16(d, 20);
        bitCount = U16(d, 24);
    } else if (infoSize >= 40) {
        width = I32(d, 18);
        height = I32(d, 22);
        bitCount = U16(d, 28);
        compression = U32(d, 30);
        sizeImage = U32(d, 34);
    } else {
        return -1;
    }
    if (width <= 0 || height == 0 || bitCount == 0 || bitCount > 32)
        return -1;
    if (compression == 1 || compression == 2) // run-length encoded: as announced
        return sizeImage;
    // Hostile headers announce absurd sizes: anything past a terabyte is as
    // good as infinite here, and keeps the arithmetic from overflowing.
    constexpr std::int64_t kAbsurd = std::int64_t(1) << 40;
    const std::int64_t rowBytes = (width * bitCount + 31) / 32 * 4;
    const std::int64_t rows = height < 0 ? -height : height;
    return rows > kAbsurd / rowBytes ? kAbsurd : rowBytes * rows;
}

// The picture's width and height as its checked headers give them.
std::int64_t Width(const std::string& d)
{
    return U32(d, kFileHeaderSize) == 12 ? U16(d, 18) : I32(d, 18);
}

std::int64_t Height(const std::string& d)
{
    const std::int64_t height = U32(d, kFileHeaderSize) == 12 ? U16(d, 20) : I32(d, 22);
    return height < 0 ? -height : height;
}

// The bytes Qt reckons a picture takes decoded: 4 a pixel.
std::int64_t DecodedBytes(const std::string& d)
{
    constexpr std::int64_t kAbsurd = std::int64_t(1) << 50;
    const std::int64_t width = Width(d), height = Height(d);
    return height > kAbsurd / 4 / width ? kAbsurd : width * height * 4;
}

} // namespace

namespace {

// The longest header a BMP file has (file header and a version 5 info header).
constexpr std::size_t kLongestHeaders = kFileHeaderSize + 124;

// Checks the headers at the start of a BMP file of `size` bytes (`head` holds
// its first bytes, at least as far as the headers reach or the whole file)
// before any decoder trusts them.
void CheckHeaders(const std::string& head, std::int64_t size)
{
    if (head.size() < 2 || head[0] != 'B' || head[1] != 'M')
        NotValid();
    if (size < static_cast<std::int64_t>(kFileHeaderSize) + 4)
        throw EReadError();
    const std::uint32_t infoSize = U32(head, kFileHeaderSize);
    if (size < static_cast<std::int64_t>(kFileHeaderSize + infoSize) || infoSize < 12)
        throw EReadError();
    const std::int64_t pixels = AnnouncedPixelBytes(head, infoSize);
    if (pixels < 0)
        NotValid();
    if (size < static_cast<std::int64_t>(U32(head, 10)) + pixels)
        throw EReadError();
}

} // namespace

QImage DecodeBitmap(const std::string& data)
{
    CheckHeaders(data, static_cast<std::int64_t>(data.size()));
    QImage image = QImage::fromData(reinterpret_cast<const uchar*>(data.data()), static_cast<int>(data.size()), "BMP");
    if (image.isNull())
        NotValid();
    return image;
}

QImage LoadBitmapFile(const std::string& fileName, std::int64_t decodedLimit)
{
    TFileStream file(fileName, fmOpenRead);
    const std::int64_t size = file.Size();
    if (size == 0)
        return {};
    // Only the headers are read here: the decoder reads the pixels from the
    // file itself, so a large picture is in memory once, decoded.
    std::string head(static_cast<std::size_t>(std::min<std::int64_t>(size, kLongestHeaders)), '\0');
    file.ReadBuffer(head.data(), static_cast<std::int64_t>(head.size()));
    CheckHeaders(head, size);
    // Qt reckons a picture at 32 bits a pixel, whatever its own depth, and
    // refuses more than 256 MB by default: a 1-bit picture of 32 MB is 1 GB
    // to it. The caller's limit is Qt's, and a picture over it is told so.
    const std::int64_t decoded = DecodedBytes(head);
    if (decoded > decodedLimit)
        throw EInvalidGraphic("Picture too large to show (" + std::to_string(Width(head)) + " x " + std::to_string(Height(head)) +
                              " pixels, " + std::to_string(decoded >> 20) + " MiB decoded, at most " + std::to_string(decodedLimit >> 20) + " MiB)");
    const int defaultLimit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(static_cast<int>(std::min<std::int64_t>(decodedLimit / (1 << 20) + 1, INT32_MAX)));
    QImageReader reader(QString::fromLocal8Bit(fileName.c_str()), "BMP");
    QImage image;
    const bool read = reader.read(&image);
    QImageReader::setAllocationLimit(defaultLimit);
    if (!read)
        NotValid();
    return image;
}

QImage LoadPictureFile(const std::string& fileName, std::int64_t decodedLimit)
{
    const QString suffix = QFileInfo(QString::fromLocal8Bit(fileName.c_str())).suffix();
    if (suffix.compare("bmp", Qt::CaseInsensitive) != 0)
        throw EInvalidGraphic("Unknown picture file extension (." + suffix.toStdString() + ")");
    return LoadBitmapFile(fileName, decodedLimit);
}

} // namespace ferro
