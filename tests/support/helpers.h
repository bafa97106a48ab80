// Test support: small helpers the suites share, on every platform.
#pragma once

#include <ferrolink/classes.h>

#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
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

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A receiver's line with the sender's port taken off ("from 127.0.0.1:41234"
// becomes "from 127.0.0.1"), and its line end: the port is the system's.
inline std::string WithoutPeerPort(const std::string& line)
{
    std::string cut = std::regex_replace(line, std::regex("(from \\S+):[0-9]+( |$)"), "$1$2");
    while (!cut.empty() && (cut.back() == '\n' || cut.back() == '\r' || cut.back() == ' '))
        cut.pop_back();
    return cut;
}

// A memory stream holding `bytes`, positioned at its end.
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
