// Test support: a new folder of the system's temporary one, removed with
// everything in it when the object goes.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

struct TTempFolder {
    TTempFolder()
    {
        static std::atomic<unsigned> made {0};
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        Path = std::filesystem::temp_directory_path() / ("ferro_test." + std::to_string(now) + "." + std::to_string(++made));
        std::filesystem::create_directory(Path);
    }
    ~TTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // The names in it, hidden ones too, sorted.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path Path;
};
