/// @file
/// The class library's exception family. Every failure of the system is one of
/// these; the message texts are part of the system's behaviour and are fixed
/// by the code that raises them.
#pragma once

#include <stdexcept>
#include <string>

namespace ferro {

/// The base of every exception the library raises: a fixed text.
class Exception : public std::runtime_error {
public:
    /// An exception with `message` as its text and, where the operating
    /// system told why, its error number (an errno value).
    explicit Exception(const std::string& message, int systemError = 0)
        : std::runtime_error(message), FMessage(message), FSystemError(systemError) {}
    /// The whole text; unlike what(), not cut at a NUL byte (a text may
    /// quote bytes that came from the network).
    const std::string& Message() const { return FMessage; }
    /// The operating system's error number (errno) behind the failure, 0
    /// when none is known. The text stays fixed; this tells the cause.
    int SystemError() const { return FSystemError; }

private:
    std::string FMessage;
    int FSystemError;
};

/// A text that is not a number where one is required.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

/// A value that does not fit its type: a negative time-out, a port or a
/// socket number beyond 16 bits.
class ERangeError : public Exception {
public:
    /// "Range check error".
    ERangeError() : Exception("Range check error") {}
};

/// A component made or used where it cannot work: without an application
/// object, on a thread without a Qt event loop, or on another thread than the
/// one that made it.
class EThreadError : public Exception {
public:
    using Exception::Exception;
};

/// A file stream that cannot be opened: "Cannot open file <name>".
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

/// A file stream that cannot be created: "Cannot create file <name>".
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

/// A stream that holds fewer bytes than a reader requires.
class EReadError : public Exception {
public:
    /// "Stream read error".
    EReadError() : Exception("Stream read error") {}
};

/// A stream that takes fewer bytes than a writer gives, or a file that cannot
/// be written whole.
class EWriteError : public Exception {
public:
    /// "Stream write error", with the system's cause when known.
    explicit EWriteError(int systemError = 0) : Exception("Stream write error", systemError) {}
};

} // namespace ferro
