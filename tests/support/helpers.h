// Test support: small helpers the suites share, on every platform.
#pragma once

#include <ferrolink/classes.h>

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

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
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
