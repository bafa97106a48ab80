// Test support: the shared helpers for suites written with QtCore's types.
#pragma once

#include "helpers.h"

#include <QString>

inline void WriteFile(const QString& path, const std::string& bytes)
{
    WriteFile(path.toStdString(), bytes);
}

inline std::string ReadFile(const QString& path)
{
    return ReadFile(path.toStdString());
}

// A receiver's line with the sender's port taken off ("from 127.0.0.1:41234"
// becomes "from 127.0.0.1"), and its line end: the port is the system's.
inline QString WithoutPeerPort(QString line)
{
    return QString::fromStdString(WithoutPeerPort(line.toStdString()));
}
