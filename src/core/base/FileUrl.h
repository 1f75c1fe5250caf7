#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// A file URL, kept as its absolute string ("file:///home/me/My%20Project/"), the form
// stored in job files. `fsPath` is the plain path handed to the file system and to
// command lines.
struct FileUrl {
    std::string absoluteString;

    // From an absolute path; a folder (`isDirectory`) gets the trailing slash.
    static FileUrl fromPath(const std::filesystem::path& path, bool isDirectory = false);
    // Accepts only "file:" URLs with an empty or "localhost" host; none otherwise.
    static std::optional<FileUrl> parse(std::string_view text);

    // The path, percent-decoded, without a trailing slash (except for "/").
    std::filesystem::path fsPath() const;

    friend bool operator==(const FileUrl&, const FileUrl&) = default;
};

} // namespace marrowbell
