// TStringList: an ordered list of texts, filled from a multi-line text.
#pragma once

#include <string>
#include <vector>

namespace ferro {

class TStringList {
public:
    // Replaces the lines with those of `text`, broken at CR, LF or CR LF.
    void SetText(const std::string& text);
    std::string Text() const; // each line followed by CR LF

    int Count() const { return static_cast<int>(Strings.size()); }
    void Add(const std::string& line) { Strings.push_back(line); }

    std::vector<std::string> Strings;
};

} // namespace ferro
