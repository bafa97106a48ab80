#include "kept_parts.h"

#include "file_names.h"

#include <ferrolink/exceptions.h>
#include <ferrolink/folders.h>
#include <ferrolink/largeform.h>
#include <ferrolink/tempfilestream.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <tuple>
#include <vector>

namespace qbmsgcli {

namespace {

constexpr std::int64_t kMaxAgeSeconds = 24 * 60 * 60; // a send resumed the same day; older parts are litter

// The part's file name: the check of what tells the file apart, in hex, so
// that no byte of a sender's text names anything on the disk.
std::string KeyOf(const TKeptParts::TLabel& label)
{
    ferro::qbmsg::TBodyCheck key;
    const std::string text = label.From + '\0' + label.Path + '\0' + std::to_string(label.Size);
    key.Add(text.data(), text.size());
    std::string hex;
    for (const char byte : key.Value()) {
        static const char kDigits[] = "0123456789abcdef";
        hex += kDigits[(static_cast<unsigned char>(byte) >> 4) & 0xF];
        hex += kDigits[static_cast<unsigned char>(byte) & 0xF];
    }
    return hex + ".part";
}

} // namespace

TKeptPart::TKeptPart(std::unique_ptr<ferro::TFolderFile> file, int folderFd, std::string name)
    : FFile(std::move(file)), FFolder(folderFd), FName(std::move(name))
{
}

TKeptPart::~TKeptPart()
{
    FFile.reset();
    if (FRemoved)
        ferro::RemoveFileIn(FFolder, FName);
}

std::int64_t TKeptPart::Read(void* buffer, std::int64_t count)
{
    return FFile->Read(buffer, count);
}

std::int64_t TKeptPart::Write(const void* buffer, std::int64_t count)
{
    return FFile->Write(buffer, count);
}

std::int64_t TKeptPart::Seek(std::int64_t offset, ferro::TSeekOrigin origin)
{
    return FFile->Seek(offset, origin);
}

std::int64_t TKeptPart::Size()
{
    return FFile->Size();
}

void TKeptPart::Retain()
{
    try {
        FFile->Flush();
    } catch (const ferro::EWriteError&) {
        // a part that is not on the disk is offered again all the same: its check tells
    }
    FRemoved = false;
}

bool TKeptPart::MoveTo(int folderFd, const std::string& name)
{
    FFile->Flush();
    // Only where no file has the name: nothing is replaced.
    if (!ferro::RenameNoReplace(FFolder, FName, folderFd, name)) {
        if (errno == EEXIST)
            return false;
        throw ferro::EFCreateError("Cannot create file " + name, errno);
    }
    FRemoved = false;
    return true;
}

TKeptParts::TKeptParts(int folderFd, std::int64_t totalLimit) : FTotalLimit(totalLimit)
{
    if (!ferro::MakeFolderIn(folderFd, kKeptPartsFolder, 0700) && errno != EEXIST)
        throw ferro::EFCreateError("Cannot create folder " + kKeptPartsFolder, errno);
    FFd = ferro::OpenFolderIn(folderFd, kKeptPartsFolder);
    if (FFd < 0)
        throw ferro::EFCreateError("Cannot use folder " + kKeptPartsFolder, errno);
    Prune();
}

TKeptParts::~TKeptParts()
{
    ferro::CloseFolder(FFd);
}

std::unique_ptr<ferro::TStream> TKeptParts::Find(const TLabel& label) const
{
    Prune(); // a part past its day is never offered, however long the receiver has run
    const std::string name = KeyOf(label);
    auto file = ferro::TFolderFile::Open(FFd, name);
    if (!file)
        return nullptr;
    return std::make_unique<TKeptPart>(std::move(file), FFd, name);
}

std::int64_t TKeptParts::Keep(const TLabel& label, std::unique_ptr<ferro::TStream> arrived)
{
    if (auto* part = dynamic_cast<TKeptPart*>(arrived.get())) {
        part->Retain(); // already in its place, longer now
        return part->Size();
    }
    auto* body = dynamic_cast<ferro::TTempFileStream*>(arrived.get());
    if (!body || !body->CanKeep() || body->Size() == 0)
        return 0;
    const std::string name = KeyOf(label);
    ferro::RemoveFileIn(FFd, name); // an older part of the same file
    if (!body->Keep(FFd, name))
        return 0;
    Prune();
    for (const ferro::TFolderEntry& entry : ferro::FolderEntries(FFd)) {
        if (entry.Name == name && entry.IsFile)
            return entry.Size;
    }
    return 0; // gone: beyond the total
}

void TKeptParts::Prune() const
{
    std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> parts; // newest first, once sorted
    const std::int64_t now = std::time(nullptr);
    for (const ferro::TFolderEntry& entry : ferro::FolderEntries(FFd)) {
        if (entry.Name[0] == '.')
            continue;
        if (!entry.IsFile || now - entry.ModifiedAt > kMaxAgeSeconds)
            ferro::RemoveFileIn(FFd, entry.Name);
        else
            parts.emplace_back(entry.ModifiedAt, entry.Size, entry.Name);
    }
    std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return std::get<0>(a) > std::get<0>(b); });
    std::int64_t total = 0;
    for (const auto& [when, size, name] : parts) {
        total += size;
        if (total > FTotalLimit)
            ferro::RemoveFileIn(FFd, name);
    }
}

} // namespace qbmsgcli
