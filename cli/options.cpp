#include "options.h"

#include <cerrno>
#include <cstdlib>

namespace qbmsgcli {

std::string ParsedOptions::Text(const std::string& name, const std::string& fallback) const
{
    auto it = Values.find(name);
    return it == Values.end() ? fallback : it->second;
}

long ParsedOptions::Number(const std::string& name, long fallback, long low, long high) const
{
    auto it = Values.find(name);
    if (it == Values.end())
        return fallback;
    const std::string& text = it->second;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw UsageError("--" + name + " wants a number from " + std::to_string(low) + " to " + std::to_string(high) +
                         ", not '" + text + "'");
    return value;
}

ParsedOptions ParseOptions(const std::vector<std::string>& args, const std::set<std::string>& withValue,
                           const std::set<std::string>& flags)
{
    ParsedOptions parsed;
    bool onlyPositional = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPositional || arg == "-" || arg.rfind("--", 0) != 0) {
            parsed.Positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        std::string name = arg.substr(2);
        std::string value;
        const std::size_t equals = name.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (flags.count(name) && !inlineValue) {
            parsed.Flags.insert(name);
        } else if (withValue.count(name)) {
            if (!inlineValue) {
                if (i + 1 == args.size())
                    throw UsageError("option --" + name + " needs a value");
                value = args[++i];
            }
            parsed.Values[name] = value;
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
    return parsed;
}

} // namespace qbmsgcli
