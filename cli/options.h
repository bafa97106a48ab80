// qbmsg's command lines on QCommandLineParser: long and short forms,
// "--name=value", "--" ending the options; mistakes raise UsageError.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <stdexcept>
#include <string>
#include <vector>

namespace qbmsgcli {

// A mistake in how the program was called: exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TCommandLine {
public:
    explicit TCommandLine(const QList<QCommandLineOption>& options);

    // Parses the command's arguments (without the program and command names).
    void Parse(const std::vector<std::string>& args);

    bool IsSet(const QString& name) const { return FParser.isSet(name); }
    QString Text(const QString& name, const QString& fallback) const;
    // An integer within [low, high]; UsageError otherwise.
    long Number(const QString& name, long fallback, long low, long high) const;
    QStringList Positional() const { return FParser.positionalArguments(); }

private:
    QCommandLineParser FParser;
};

// An option taking a value: the long name, the short one (or none) and the
// value's name.
QCommandLineOption ValueOption(const QString& name, const QString& shortName, const QString& valueName);
// -h, --help.
QCommandLineOption HelpOption();

} // namespace qbmsgcli
