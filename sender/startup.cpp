#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

namespace sendwell {

QString FindProgram(const QString& name, const QString& ownFolder, const QString& currentFolder, const QStringList& path)
{
    QStringList folders = {ownFolder, currentFolder};
    folders += path;
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QFileInfo candidate(QDir(folder).filePath(name));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return {};
}

qint64 StartReceiver()
{
    const QString program = FindProgram(kReceiverName, QCoreApplication::applicationDirPath(), QDir::currentPath(),
                                        qEnvironmentVariable("PATH").split(':', Qt::SkipEmptyParts));
    if (program.isEmpty())
        return 0;
    QProcess receiver;
    receiver.setProgram(program);
    receiver.setWorkingDirectory(QDir::currentPath());
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("FERROLINK_START_HIDDEN", "1"); // the request to start with the window hidden
    receiver.setProcessEnvironment(env);
    qint64 pid = 0;
    return receiver.startDetached(&pid) ? pid : 0;
}

void BusyDelay()
{
    // The countdown lives in a volatile: every step is a real load and store.
    for (int outer = 8001; outer > 0; --outer) {
        volatile int inner = 8001;
        while (inner > 0)
            inner = inner - 1;
    }
}

} // namespace sendwell
