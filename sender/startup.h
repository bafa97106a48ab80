// The sender's start-up steps that are not windows.
#pragma once

#include <QString>
#include <QStringList>

namespace sendwell {

// The receiver's bare file name.
inline const char* const kReceiverName = "Takewell";

// Where a program started by bare name is found: the sender's own folder,
// then the current folder, then the folders of PATH. Empty when nowhere.
QString FindProgram(const QString& name, const QString& ownFolder, const QString& currentFolder, const QStringList& path);

// Starts the receiver, hidden, without arguments, in the current folder; not
// waited for. Returns its process id, or 0 when it could not be found or
// started (which nobody is told about).
qint64 StartReceiver();

// The busy delay of the start-up: 8001 x 8001 empty steps that the compiler
// may not remove.
void BusyDelay();

} // namespace sendwell
