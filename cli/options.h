// qbmsg's command lines: long and short forms, "--name=value", short
// options run together ("-46", "-p6711"), options after the arguments, "--"
// ending the options; mistakes raise UsageError in the words users have
// always seen ("Unknown option 'x'.", "Missing value after '-p'."). The
// arguments are bytes, whatever their encoding: file names and sender names
// come out as they went in. Standard C++ only: the same parser on every
// platform.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace qbmsgcli {

// A mistake in how the program was called: exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An option: its long name, its one-letter short name (0 for none), and
// whether it takes a value.
struct TOption {
    std::string Long;
    char Short = 0;
    bool TakesValue = false;
};
using TOptions = std::vector<TOption>;

class TCommandLine {
public:
    explicit TCommandLine(TOptions options) : FOptions(std::move(options)) {}

    // Parses the command's arguments (without the program and command names).
    void Parse(const std::vector<std::string>& args);

    // Whether the option of this long name was given.
    bool IsSet(const std::string& name) const { return FValues.count(name) > 0; }
    // Its value (the last one given), or `fallback`.
    std::string Bytes(const std::string& name, const std::string& fallback) const;
    // Every value of an option given more than once, in order.
    std::vector<std::string> AllBytes(const std::string& name) const;
    // An integer within [low, high]; UsageError otherwise.
    long Number(const std::string& name, long fallback, long low, long high) const;
    // The arguments that are no options.
    const std::vector<std::string>& Positional() const { return FPositional; }

private:
    const TOption* Find(const std::string& name) const;
    const TOption* Find(char name) const;
    // One argument of the form "--name[=value]"; the next ones from `next`.
    void ParseLong(const std::string& arg, const std::vector<std::string>& args, std::size_t& next);
    // One argument of short options run together ("-4p6711").
    void ParseShort(const std::string& arg, const std::vector<std::string>& args, std::size_t& next);

    TOptions FOptions;
    std::map<std::string, std::vector<std::string>> FValues; // by long name; a flag's list is empty
    std::vector<std::string> FPositional;
    std::vector<std::string> FUnknown;
    std::string FError; // a value missing or unexpected: told before unknown options
};

// An option taking a value: the long name and the short one (or "").
TOption ValueOption(const std::string& name, const std::string& shortName);
// An option without a value: the long name and the short one (or "").
TOption FlagOption(const std::string& name, const std::string& shortName);
// -h, --help.
TOption HelpOption();
// `first`, then `more`.
TOptions operator+(TOptions first, const TOptions& more);

} // namespace qbmsgcli
