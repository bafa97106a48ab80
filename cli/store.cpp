#include "store.h"

#include "file_names.h"
#include "kept_parts.h"
#include "text.h"

#include <ferrolink/durablefile.h>
#include <ferrolink/folders.h>

#include <cerrno>
#include <vector>

namespace qbmsgcli {

namespace {

constexpr int kMaxNumber = 10000; // names tried before a taken name is a failure

[[noreturn]] void Fail(const std::string& what, int error)
{
    throw StoreError(what + ": " + SystemCause(error));
}

// The folders opened on the way to a file, closed on every way out.
struct TOpenedFolders {
    std::vector<int> Fds;
    ~TOpenedFolders()
    {
        for (const int fd : Fds)
            ferro::CloseFolder(fd);
    }
};

} // namespace

TStoreFolder::TStoreFolder(std::string path) : FPath(std::move(path))
{
    FFd = ferro::OpenFolder(FPath);
    if (FFd < 0)
        Fail("Cannot use folder " + FPath, errno);
    // What every message will need, tried once now: a folder that lets a
    // file be made but not renamed or flushed would take every body and
    // throw it away again.
    try {
        ferro::TDurableFile trial(FFd, ".trial-", FPath);
        trial.Finish(false);
        const std::string name = trial.TemporaryName() + ".trial";
        trial.Commit(name, false);
        ferro::RemoveFileIn(FFd, name);
        ferro::SyncFolder(FFd);
        // Without /proc, and without the privilege to link by descriptor,
        // a nameless body could not be kept: bodies then arrive in named
        // files, so that they are still stored as their senders are told.
        FNamelessKept = ferro::TTempFileStream::NamelessCanBeKept(FFd);
        const auto body = NewBody();
        body->WriteBuffer("t", 1);
        auto& file = static_cast<ferro::TTempFileStream&>(*body);
        if (!file.Keep(FFd, name))
            throw ferro::EFCreateError("Cannot create file " + name, EEXIST);
        ferro::RemoveFileIn(FFd, name);
    } catch (const ferro::Exception& e) {
        ferro::CloseFolder(FFd);
        Fail("Cannot write in folder " + FPath, e.SystemError());
    }
}

std::unique_ptr<ferro::TStream> TStoreFolder::NewBody() const
{
    return std::make_unique<ferro::TTempFileStream>(FFd, FPath, !FNamelessKept);
}

TStoreFolder::~TStoreFolder()
{
    ferro::CloseFolder(FFd);
}

std::string TStoreFolder::CommitAsNext(ferro::TDurableFile& file)
{
    for (;;) {
        const std::string name = "message-" + std::to_string(++FCounter) + ".bin";
        try {
            if (file.Commit(name, false))
                return name;
        } catch (const ferro::Exception& e) {
            Fail("Cannot create file " + FPath + kFolderSeparator + name, e.SystemError());
        }
    }
}

std::string TStoreFolder::KeepAsNext(ferro::TTempFileStream& body)
{
    std::string name;
    try {
        do
            name = "message-" + std::to_string(++FCounter) + ".bin";
        while (!body.Keep(FFd, name));
    } catch (const ferro::Exception& e) {
        Fail("Cannot create file " + FPath + kFolderSeparator + name, e.SystemError());
    }
    return name;
}

std::string TStoreFolder::Store(ferro::TStream& body)
{
    // A large body is in a nameless file of this folder already: it is
    // given its name instead of being copied.
    auto* nameless = dynamic_cast<ferro::TTempFileStream*>(&body);
    if (nameless && nameless->CanKeep() && body.Position() == 0)
        return Flushed(KeepAsNext(*nameless));
    std::unique_ptr<ferro::TDurableFile> file;
    try {
        file = std::make_unique<ferro::TDurableFile>(FFd, ".message-", FPath);
    } catch (const ferro::Exception& e) {
        Fail("Cannot create a file in folder " + FPath, e.SystemError());
    }
    try {
        file->Write(body, body.Size() - body.Position());
        file->Finish(true);
    } catch (const ferro::Exception& e) {
        Fail("Cannot write file " + FPath + kFolderSeparator + file->TemporaryName(), e.SystemError());
    }
    return Flushed(CommitAsNext(*file));
}

std::string TStoreFolder::Flushed(const std::string& name)
{
    // The new name is on the disk once the folder is.
    try {
        ferro::SyncFolder(FFd);
    } catch (const ferro::Exception& e) {
        ferro::RemoveFileIn(FFd, name);
        Fail("Cannot write folder " + FPath, e.SystemError());
    }
    return FPath + kFolderSeparator + name;
}

std::string TStoreFolder::StoreAs(ferro::TStream& body, const std::string& path)
{
    std::vector<std::string> parts = SafeParts(path);
    if (parts.empty())
        return Store(body);
    const std::string leaf = parts.back();
    parts.pop_back();
    TOpenedFolders opened;
    int folder = FFd;
    std::string shown = FPath;
    for (const std::string& part : parts) {
        auto [fd, name] = Subfolder(folder, part, shown);
        opened.Fds.push_back(fd);
        folder = fd;
        shown += kFolderSeparator + name;
    }
    const std::string name = PlaceIn(folder, body, leaf, shown);
    try {
        ferro::SyncFolder(folder);
    } catch (const ferro::Exception& e) {
        ferro::RemoveFileIn(folder, name);
        Fail("Cannot write folder " + shown, e.SystemError());
    }
    return shown + kFolderSeparator + name;
}

std::pair<int, std::string> TStoreFolder::Subfolder(int parent, const std::string& part, const std::string& shown)
{
    for (int n = 0; n < kMaxNumber; ++n) {
        const std::string name = Numbered(part, n);
        int fd = ferro::OpenFolderIn(parent, name);
        if (fd < 0 && errno == ENOENT) {
            if (!ferro::MakeFolderIn(parent, name, 0777) && errno != EEXIST)
                Fail("Cannot create folder " + shown + kFolderSeparator + name, errno);
            try {
                ferro::SyncFolder(parent); // the new folder is on the disk before anything in it
            } catch (const ferro::Exception& e) {
                Fail("Cannot write folder " + shown, e.SystemError());
            }
            fd = ferro::OpenFolderIn(parent, name);
        }
        if (fd >= 0)
            return {fd, name};
        // A file, or a link (never followed), has the name: the next number.
        if (errno != ENOTDIR && errno != ELOOP)
            Fail("Cannot use folder " + shown + kFolderSeparator + name, errno);
    }
    Fail("Cannot create folder " + shown + kFolderSeparator + part, EEXIST);
}

std::string TStoreFolder::PlaceIn(int folderFd, ferro::TStream& body, const std::string& leaf, const std::string& shown)
{
    auto* part = dynamic_cast<TKeptPart*>(&body);
    auto* nameless = dynamic_cast<ferro::TTempFileStream*>(&body);
    std::string name;
    try {
        if (part || (nameless && nameless->CanKeep() && body.Position() == 0)) {
            for (int n = 0; n < kMaxNumber; ++n) {
                name = Numbered(leaf, n);
                if (part ? part->MoveTo(folderFd, name) : nameless->Keep(folderFd, name))
                    return name;
            }
            Fail("Cannot create file " + shown + kFolderSeparator + leaf, EEXIST);
        }
    } catch (const ferro::Exception& e) {
        // A folder of the tree that is another file system (a disk mounted
        // there) takes no link: the body is copied into it instead.
        if (e.SystemError() != EXDEV)
            Fail("Cannot create file " + shown + kFolderSeparator + name, e.SystemError());
        body.SetPosition(0);
    }
    return CopyIn(folderFd, body, leaf, shown);
}

std::string TStoreFolder::CopyIn(int folderFd, ferro::TStream& body, const std::string& leaf, const std::string& shown)
{
    std::string name;
    try {
        ferro::TDurableFile file(folderFd, ".message-", shown);
        file.Write(body, body.Size() - body.Position());
        file.Finish(true);
        for (int n = 0; n < kMaxNumber; ++n) {
            name = Numbered(leaf, n);
            if (file.Commit(name, false))
                return name;
        }
    } catch (const ferro::Exception& e) {
        Fail("Cannot create file " + shown + kFolderSeparator + name, e.SystemError());
    }
    Fail("Cannot create file " + shown + kFolderSeparator + leaf, EEXIST);
}

} // namespace qbmsgcli
