/// @file
/// TStringList: an ordered list of texts, filled from a multi-line text.
#pragma once

#include <string>
#include <vector>

namespace ferro {

/// An ordered list of lines.
class TStringList {
public:
    /// Replaces the lines with those of `text`, broken at CR, LF or CR LF.
    void SetText(const std::string& text);
    /// The lines, each followed by CR LF.
    std::string Text() const;

    /// How many lines there are.
    int Count() const { return static_cast<int>(Strings.size()); }
    /// Appends a line.
    void Add(const std::string& line) { Strings.push_back(line); }

    /// The lines.
    std::vector<std::string> Strings;
};

} // namespace ferro
