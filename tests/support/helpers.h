// Test support: small helpers the suites share.
#pragma once

#include <ferrolink/classes.h>

#include <QRegularExpression>
#include <QString>

#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

using namespace ferro;

// The message of what `operation` raised, or "no failure".
inline std::string FailureOf(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no failure";
}

inline void WriteFile(const QString& path, const std::string& bytes)
{
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

inline std::string ReadFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A memory stream holding `bytes`, positioned at its end.
// A receiver's line with the sender's port taken off ("from 127.0.0.1:41234"
// becomes "from 127.0.0.1"), and its line end: the port is the system's.
inline QString WithoutPeerPort(QString line)
{
    line.replace(QRegularExpression("(from \\S+):[0-9]+( |$)"), "\\1\\2");
    return line.trimmed();
}

inline TMemoryStream StreamOf(const std::string& bytes)
{
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return s;
}

// `size` bytes of a pattern that catches reordering and truncation.
inline std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + 17) % 256);
    return bytes;
}
