// Where qbmsg receive keeps the bodies: each in a new file message-N.bin of
// its folder, on the disk before it is answered.
#pragma once

#include <ferrolink/durablefile.h>
#include <ferrolink/streams.h>
#include <ferrolink/tempfilestream.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace qbmsgcli {

// A body that could not be stored; the text says which file and why.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The folder the bodies go to, resolved once when it is opened: replacing
// its path by a link later does not move where bodies go.
class TStoreFolder {
public:
    // Opens the folder and tries what storing needs (create a file, rename
    // it, flush the folder to the disk), leaving nothing behind. Raises
    // StoreError with the cause when any of it fails.
    explicit TStoreFolder(std::string path);
    ~TStoreFolder();
    TStoreFolder(const TStoreFolder&) = delete;
    TStoreFolder& operator=(const TStoreFolder&) = delete;

    // Writes the body (from its position) to a temporary file in the folder,
    // flushes it and the folder to the disk, and gives it the name
    // message-N.bin, N the first number after the last one given with no
    // such file. Never replaces a file. On failure nothing is left behind
    // and StoreError tells the cause. Returns the file's path. A body in a
    // nameless file of this folder (a large message, whole from position 0)
    // is flushed and named instead of copied.
    std::string Store(ferro::TStream& body);
    // Stores the body as Store does, under the sender's `path` made safe
    // (SafeParts) inside this folder: its folders made or reused (a file or
    // a link in the way gets a numbered folder instead: no link is
    // followed), the file numbered ("report-1.bin") when its name is taken.
    // A kept part (TKeptPart) is moved there. A path with nothing usable is
    // stored as message-N.bin. Returns the file's path.
    std::string StoreAs(ferro::TStream& body, const std::string& path);
    // A file in this folder for a large body to arrive in, kept by Store
    // without a copy: nameless where the system lets such a file be named
    // later, else hidden under a name of its own until it is stored.
    // Raises ferro::EFCreateError with the cause.
    std::unique_ptr<ferro::TStream> NewBody() const;
    // The folder, open as it was at the start.
    int Fd() const { return FFd; }

private:
    // Gives a nameless file the first free name message-N.bin; returns it.
    std::string KeepAsNext(ferro::TTempFileStream& body);
    // The folder `part` in the folder open as `parent` (shown as `shown`),
    // made when missing, numbered when a file or link has its name: its
    // descriptor, and the name it has.
    std::pair<int, std::string> Subfolder(int parent, const std::string& part, const std::string& shown);
    // Gives the body the first free name of `leaf`, numbered, in the
    // folder open as `folderFd`; returns that name.
    std::string PlaceIn(int folderFd, ferro::TStream& body, const std::string& leaf, const std::string& shown);
    // Copies the body from its position into a new file of that folder,
    // flushed, under the first free name of `leaf`; returns that name.
    std::string CopyIn(int folderFd, ferro::TStream& body, const std::string& leaf, const std::string& shown);
    // Flushes the folder, so that `name` is on the disk; removes the file
    // when that fails. Returns the file's path.
    std::string Flushed(const std::string& name);
    // Gives the finished file the first free name message-N.bin after the
    // last one given; returns that name.
    std::string CommitAsNext(ferro::TDurableFile& file);

    std::string FPath;
    int FFd = -1;
    int FCounter = 0;
    bool FNamelessKept = true; // a nameless file can be given its name here
};

} // namespace qbmsgcli
