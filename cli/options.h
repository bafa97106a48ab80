// qbmsg's command lines on QCommandLineParser: long and short forms,
// "--name=value", "--" ending the options; mistakes raise UsageError. The
// arguments pass through the parser as Latin-1, one character per byte, so
// that bytes that are no UTF-8 come out as they went in.
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
    // An option's value as the bytes given, whatever their encoding (file
    // names and sender names are bytes, not text).
    std::string Bytes(const QString& name, const std::string& fallback) const;
    // Every value of an option given more than once, in order.
    std::vector<std::string> AllBytes(const QString& name) const;
    // An integer within [low, high]; UsageError otherwise.
    long Number(const QString& name, long fallback, long low, long high) const;
    // The arguments that are no options, as the bytes given.
    std::vector<std::string> Positional() const;

private:
    QCommandLineParser FParser;
};

// An option taking a value: the long name, the short one (or none) and the
// value's name.
QCommandLineOption ValueOption(const QString& name, const QString& shortName, const QString& valueName);
// An option without a value: the long name and the short one (or none).
QCommandLineOption FlagOption(const QString& name, const QString& shortName);
// -h, --help.
QCommandLineOption HelpOption();

} // namespace qbmsgcli
