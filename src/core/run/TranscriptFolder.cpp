#include "run/TranscriptFolder.h"

#include "base/SupportDirectory.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace marrowbell {

namespace fs = std::filesystem;

TranscriptFolder::TranscriptFolder(fs::path folder)
    : folder_(std::move(folder)) {}

fs::path TranscriptFolder::defaultFolder() {
    return SupportDirectory::file(folderName);
}

fs::path TranscriptFolder::path(const Uuid& runID) const {
    return folder_ / (runID.text() + ".log");
}

std::unique_ptr<RunTranscript> TranscriptFolder::create(const Uuid& runID) const {
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
        fs::create_directories(folder_.parent_path());
        if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::system_error(errno, std::generic_category(), folder_.string());
    }
    return std::make_unique<RunTranscript>(path(runID));
}

static Instant instant(fs::file_time_type time) {
    auto system = std::chrono::file_clock::to_sys(time);
    return Instant::fromUnix(std::chrono::duration<double>(system.time_since_epoch()).count());
}

void TranscriptFolder::prune(const std::unordered_set<Uuid>& keep, Instant recordsSince,
                             const std::unordered_set<Uuid>& live, std::uint64_t limitBytes) const {
    struct Kept {
        fs::path path;
        fs::file_time_type modified;
        std::uint64_t size;
    };
    std::vector<Kept> kept;
    std::uint64_t total = 0;
    std::error_code error;
    for (fs::directory_iterator entry(folder_, error), end; !error && entry != end;
         entry.increment(error)) {
        const fs::path& file = entry->path();
        if (file.extension() != ".log")
            continue;
        std::optional<Uuid> id = Uuid::parse(file.stem().string());
        if (!id || live.contains(*id))
            continue;
        std::error_code ignored;
        fs::file_time_type modified = entry->last_write_time(ignored);
        if (!keep.contains(*id) && instant(modified) < recordsSince) {
            fs::remove(file, ignored);
            continue;
        }
        std::uint64_t size = entry->file_size(ignored);
        kept.push_back({file, modified, size});
        total += size;
    }
    if (total <= limitBytes)
        return;
    std::sort(kept.begin(), kept.end(),
              [](const Kept& a, const Kept& b) { return a.modified < b.modified; });
    for (const Kept& file : kept) {
        if (total <= limitBytes)
            break;
        std::error_code ignored;
        if (fs::remove(file.path, ignored))
            total -= file.size;
    }
}

} // namespace marrowbell
