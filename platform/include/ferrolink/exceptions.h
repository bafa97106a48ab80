// The class library's exception family. Every failure of the system is one of
// these; the message texts are part of the system's behaviour and are fixed
// by the code that raises them.
#pragma once

#include <stdexcept>
#include <string>

namespace ferro {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A text that is not a number where one is required.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A value that does not fit its type: a negative time-out, a port or a
// socket number beyond 16 bits.
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
};

// A component made or used where it cannot work: without an application
// object, on a thread without a Qt event loop, or on another thread than the
// one that made it.
class EThreadError : public Exception {
public:
    using Exception::Exception;
};

// A file stream that cannot be opened or created.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// A stream that holds fewer bytes than a reader requires.
class EReadError : public Exception {
public:
    EReadError() : Exception("Stream read error") {}
};

class EWriteError : public Exception {
public:
    EWriteError() : Exception("Stream write error") {}
};

} // namespace ferro
