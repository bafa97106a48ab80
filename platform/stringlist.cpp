#include <ferrolink/stringlist.h>

namespace ferro {

void TStringList::SetText(const std::string& text)
{
    Strings.clear();
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        Strings.push_back(line);
        line.clear();
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
    }
    if (!line.empty())
        Strings.push_back(line);
}

std::string TStringList::Text() const
{
    std::string text;
    for (const auto& line : Strings)
        text += line + "\r\n";
    return text;
}

} // namespace ferro
