#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace qbmsgcli {

namespace {

std::string Trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// A decimal integer, its sign optional, spaces around it allowed.
bool ParseDecimal(const std::string& text, long& value)
{
    const std::string digits = Trimmed(text);
    if (digits.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(digits.c_str(), &end, 10);
    return errno == 0 && end == digits.c_str() + digits.size();
}

} // namespace

void TCommandLine::Parse(const std::vector<std::string>& args)
{
    for (std::size_t next = 0; next < args.size();) {
        const std::string& arg = args[next++];
        if (arg == "--") {
            FPositional.insert(FPositional.end(), args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
            break;
        }
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
            ParseLong(arg, args, next);
        else if (arg.size() > 1 && arg[0] == '-')
            ParseShort(arg, args, next);
        else
            FPositional.push_back(arg);
    }
    if (!FError.empty())
        throw UsageError(FError);
    if (FUnknown.size() == 1)
        throw UsageError("Unknown option '" + FUnknown.front() + "'.");
    if (!FUnknown.empty()) {
        std::string names;
        for (const std::string& name : FUnknown)
            names += (names.empty() ? "" : ", ") + name;
        throw UsageError("Unknown options: " + names + ".");
    }
}

void TCommandLine::ParseLong(const std::string& arg, const std::vector<std::string>& args, std::size_t& next)
{
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const TOption* option = Find(name);
    if (!option) {
        FUnknown.push_back(name);
        return;
    }
    std::vector<std::string>& values = FValues[option->Long];
    if (!option->TakesValue) {
        if (equals != std::string::npos)
            FError = "Unexpected value after '--" + name + "'.";
        return;
    }
    if (equals != std::string::npos)
        values.push_back(arg.substr(equals + 1));
    else if (next < args.size())
        values.push_back(args[next++]);
    else
        FError = "Missing value after '--" + name + "'.";
}

void TCommandLine::ParseShort(const std::string& arg, const std::vector<std::string>& args, std::size_t& next)
{
    for (std::size_t at = 1; at < arg.size(); ++at) {
        const TOption* option = Find(arg[at]);
        if (!option) {
            FUnknown.emplace_back(1, arg[at]);
            continue;
        }
        std::vector<std::string>& values = FValues[option->Long];
        const std::string shown = std::string("'-") + arg[at] + "'.";
        if (!option->TakesValue) {
            if (at + 1 < arg.size() && arg[at + 1] == '=') {
                FError = "Unexpected value after " + shown;
                return;
            }
            continue;
        }
        // The rest of the argument is the value ("-p6711", "-p=6711"), else the next argument.
        std::string rest = arg.substr(at + 1);
        const bool equals = !rest.empty() && rest[0] == '=';
        if (equals)
            rest.erase(0, 1);
        if (equals || !rest.empty())
            values.push_back(rest);
        else if (next < args.size())
            values.push_back(args[next++]);
        else
            FError = "Missing value after " + shown;
        return;
    }
}

const TOption* TCommandLine::Find(const std::string& name) const
{
    for (const TOption& option : FOptions)
        if (option.Long == name)
            return &option;
    return nullptr;
}

const TOption* TCommandLine::Find(char name) const
{
    for (const TOption& option : FOptions)
        if (option.Short == name)
            return &option;
    return nullptr;
}

std::string TCommandLine::Bytes(const std::string& name, const std::string& fallback) const
{
    const auto it = FValues.find(name);
    return it == FValues.end() || it->second.empty() ? fallback : it->second.back();
}

std::vector<std::string> TCommandLine::AllBytes(const std::string& name) const
{
    const auto it = FValues.find(name);
    return it == FValues.end() ? std::vector<std::string>() : it->second;
}

long TCommandLine::Number(const std::string& name, long fallback, long low, long high) const
{
    if (!IsSet(name))
        return fallback;
    const std::string text = Bytes(name, "");
    long value = 0;
    if (!ParseDecimal(text, value) || value < low || value > high)
        throw UsageError("--" + name + " wants a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" + text + "'");
    return value;
}

TOption ValueOption(const std::string& name, const std::string& shortName)
{
    return TOption {name, shortName.empty() ? '\0' : shortName[0], true};
}

TOption FlagOption(const std::string& name, const std::string& shortName)
{
    return TOption {name, shortName.empty() ? '\0' : shortName[0], false};
}

TOption HelpOption()
{
    return FlagOption("help", "h");
}

TOptions operator+(TOptions first, const TOptions& more)
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

} // namespace qbmsgcli
