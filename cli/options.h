// Command-line options in the usual Unix form: "--name VALUE" or
// "--name=VALUE", flags without a value, and positional arguments.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace qbmsgcli {

// A mistake in how the program was called: exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ParsedOptions {
    std::map<std::string, std::string> Values;
    std::set<std::string> Flags;
    std::vector<std::string> Positional;

    bool Has(const std::string& name) const { return Values.count(name) || Flags.count(name); }
    std::string Text(const std::string& name, const std::string& fallback) const;
    // An integer within [low, high]; UsageError otherwise.
    long Number(const std::string& name, long fallback, long low, long high) const;
};

// `withValue` lists the options that take a value, `flags` those that don't.
ParsedOptions ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& withValue,
                           const std::set<std::string>& flags);

} // namespace qbmsgcli
