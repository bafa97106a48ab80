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
    /// An exception with `message` as its text.
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    /// The text, as what() gives it.
    std::string Message() const { return what(); }
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
    /// "Stream write error".
    EWriteError() : Exception("Stream write error") {}
};

} // namespace ferro
