#include "options.h"

namespace qbmsgcli {

TCommandLine::TCommandLine(const QList<QCommandLineOption>& options)
{
    FParser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    FParser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    FParser.addOptions(options);
}

void TCommandLine::Parse(const std::vector<std::string>& args)
{
    QStringList list {"qbmsg"};
    for (const std::string& arg : args)
        list << QString::fromLatin1(arg.data(), static_cast<qsizetype>(arg.size()));
    if (!FParser.parse(list))
        throw UsageError(FParser.errorText().toStdString());
}

std::string TCommandLine::Bytes(const QString& name, const std::string& fallback) const
{
    return FParser.isSet(name) ? FParser.value(name).toLatin1().toStdString() : fallback;
}

std::vector<std::string> TCommandLine::AllBytes(const QString& name) const
{
    std::vector<std::string> bytes;
    for (const QString& value : FParser.values(name))
        bytes.push_back(value.toLatin1().toStdString());
    return bytes;
}

std::vector<std::string> TCommandLine::Positional() const
{
    std::vector<std::string> bytes;
    for (const QString& argument : FParser.positionalArguments())
        bytes.push_back(argument.toLatin1().toStdString());
    return bytes;
}

long TCommandLine::Number(const QString& name, long fallback, long low, long high) const
{
    if (!FParser.isSet(name))
        return fallback;
    const QString text = FParser.value(name);
    bool ok = false;
    const long value = text.toLong(&ok);
    if (!ok || value < low || value > high)
        throw UsageError(QString("--%1 wants a number from %2 to %3, not '%4'").arg(name).arg(low).arg(high).arg(text).toLatin1().toStdString());
    return value;
}

QCommandLineOption ValueOption(const QString& name, const QString& shortName, const QString& valueName)
{
    QStringList names;
    if (!shortName.isEmpty())
        names << shortName;
    names << name;
    return QCommandLineOption(names, QString(), valueName);
}

QCommandLineOption FlagOption(const QString& name, const QString& shortName)
{
    return shortName.isEmpty() ? QCommandLineOption(name) : QCommandLineOption(QStringList {shortName, name});
}

QCommandLineOption HelpOption()
{
    return QCommandLineOption(QStringList {"h", "help"});
}

} // namespace qbmsgcli
