// Where qbmsg receive keeps the bodies: each in a new file message-N.bin of
// its folder, on the disk before it is answered.
#pragma once

#include <ferrolink/durablefile.h>
#include <ferrolink/streams.h>
#include <ferrolink/tempfilestream.h>

#include <memory>
#include <stdexcept>
#include <string>

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
    // A file in this folder for a large body to arrive in, kept by Store
    // without a copy: nameless where the system lets such a file be named
    // later, else hidden under a name of its own until it is stored.
    // Raises ferro::EFCreateError with the cause.
    std::unique_ptr<ferro::TStream> NewBody() const;

private:
    // Gives a nameless file the first free name message-N.bin; returns it.
    std::string KeepAsNext(ferro::TTempFileStream& body);
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
