#include "send_list.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qbmsgcli {

namespace fs = std::filesystem;

namespace {

// Names are UTF-8 here; a path of the system's is in its own encoding
// (UTF-16 on Windows), so names cross over by these two.
fs::path PathOf(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path, bool generic = false)
{
    const std::u8string text = generic ? path.generic_u8string() : path.u8string();
    return std::string(text.begin(), text.end());
}

// The name a folder's files are sent under: its last part, as the user
// sees it (".." and "." resolved first, so "." is the current folder's).
std::string FolderName(const std::string& arg)
{
    std::error_code error;
    fs::path path = fs::absolute(PathOf(arg), error).lexically_normal();
    if (!path.has_filename())
        path = path.parent_path(); // "photos/" ends in an empty part
    return Utf8Of(path.filename());
}

void ListFolder(const std::string& arg, TSendList& list)
{
    const std::string root = FolderName(arg);
    std::vector<TSendItem> found;
    std::error_code error;
    fs::recursive_directory_iterator it(PathOf(arg), error), end;
    for (; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        const std::string name = Utf8Of(PathOf(root) / path.lexically_relative(PathOf(arg)), true);
        std::error_code kind;
        if (it->is_directory(kind) && !it->is_symlink(kind))
            continue; // entered by the iterator: its files are listed
        if (it->is_regular_file(kind))
            found.push_back({Utf8Of(path), name, static_cast<std::int64_t>(it->file_size(kind))});
        else
            list.Failures.push_back(Utf8Of(path) + ": not a file (" + (it->is_symlink(kind) ? "a link to a folder, or broken" : "a device, pipe or socket") + ")");
    }
    if (error)
        list.Failures.push_back(arg + ": " + error.message());
    else if (found.empty())
        list.Failures.push_back(arg + ": no files in this folder");
    std::sort(found.begin(), found.end(), [](const TSendItem& a, const TSendItem& b) { return a.Name < b.Name; });
    list.Items.insert(list.Items.end(), found.begin(), found.end());
}

} // namespace

TSendList ListFiles(const std::vector<std::string>& args)
{
    TSendList list;
    list.Several = args.size() > 1;
    for (const std::string& arg : args) {
        std::error_code error;
        if (arg != "-" && fs::is_directory(PathOf(arg), error)) {
            list.Several = true;
            ListFolder(arg, list);
            continue;
        }
        const auto size = arg == "-" ? 0 : fs::file_size(PathOf(arg), error);
        // A file that cannot be looked at is tried all the same: opening it
        // tells why it cannot be sent.
        list.Items.push_back({arg, arg == "-" ? std::string() : Utf8Of(PathOf(arg).filename()), error ? 0 : static_cast<std::int64_t>(size)});
    }
    return list;
}

} // namespace qbmsgcli
