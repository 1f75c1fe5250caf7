#include "job/JobStore.h"

#include "base/Files.h"
#include "base/StoreError.h"
#include "base/SupportDirectory.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace marrowbell {

namespace fs = std::filesystem;

// Jobs hold prompts and paths the user may consider private.
static constexpr mode_t jobFileMode = 0600;

JobStore::JobStore(fs::path directory)
    : directory_(std::move(directory)) {
    files::createPrivateFolders(directory_);
    reload();
}

fs::path JobStore::defaultDirectory() {
    return SupportDirectory::url() / "Jobs";
}

static std::string inQuotes(const std::string& text) {
    return "\u201C" + text + "\u201D";
}

// Every "*.json" file of the folder that holds a job, in file-name order. Files that
// are not jobs are skipped, with the reason added to `problems` when given.
static std::vector<std::pair<fs::path, Job>> scan(const fs::path& directory,
                                                  std::vector<std::string>* problems) {
    std::vector<fs::path> candidates;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        if (entry.path().extension() == ".json")
            candidates.push_back(entry.path());
    std::sort(candidates.begin(), candidates.end());
    std::vector<std::pair<fs::path, Job>> found;
    for (const fs::path& path : candidates) {
        files::Content content = files::readBounded(path, JobStore::maxFileBytes);
        std::string why;
        switch (content.state) {
        case files::Content::State::read:
            if (auto value = json::parse(content.bytes)) {
                try {
                    found.emplace_back(path, Job::fromJson(*value));
                    continue;
                } catch (const std::exception& error) {
                    why = error.what();
                }
            } else {
                why = "it is not JSON";
            }
            break;
        case files::Content::State::missing:
            continue; // removed since it was listed
        case files::Content::State::notRegular:
            why = "it is not a regular file";
            break;
        case files::Content::State::tooLarge:
            why = "it is larger than 1 MiB";
            break;
        case files::Content::State::failed:
            why = content.error.message();
            break;
        }
        // Left on disk untouched, as the user or a newer version wrote it.
        if (problems)
            problems->push_back(path.string() + " was skipped: " + why + ".");
    }
    return found;
}

void JobStore::reload() {
    std::vector<std::string> problems;
    std::unordered_map<Uuid, std::pair<fs::path, Job>> loaded;
    for (auto& [path, job] : scan(directory_, &problems)) {
        auto [it, inserted] = loaded.try_emplace(job.id, path, job);
        if (inserted)
            continue;
        // Two files with one identifier, such as a copy left by a file synchroniser: the
        // file named after the identifier wins, else the first by name.
        const bool canonical = path.filename() == fileFor(job.id).filename();
        const fs::path& kept = canonical ? path : it->second.first;
        const fs::path& ignored = canonical ? it->second.first : path;
        problems.push_back(ignored.string() + " holds the same job as " + kept.string() + " (" +
                           inQuotes(job.name) + ", " + job.id.text() + "); it is ignored.");
        if (canonical)
            it->second = {path, std::move(job)};
    }
    std::lock_guard lock(mutex_);
    storage_.clear();
    for (auto& [id, entry] : loaded)
        storage_.emplace(id, std::move(entry.second));
    problems_ = std::move(problems);
}

std::vector<std::string> JobStore::loadProblems() const {
    std::lock_guard lock(mutex_);
    return problems_;
}

std::vector<Job> JobStore::jobs() const {
    std::vector<Job> all;
    {
        std::lock_guard lock(mutex_);
        all.reserve(storage_.size());
        for (const auto& [id, job] : storage_)
            all.push_back(job);
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const Job& a, const Job& b) { return a.createdAt < b.createdAt; });
    return all;
}

std::optional<Job> JobStore::job(const Uuid& id) const {
    std::lock_guard lock(mutex_);
    auto it = storage_.find(id);
    if (it == storage_.end())
        return std::nullopt;
    return it->second;
}

fs::path JobStore::fileFor(const Uuid& id) const {
    return directory_ / (id.text() + ".json");
}

void JobStore::save(const Job& job) {
    try {
        files::writeAtomically(fileFor(job.id), json::pretty(job.toJson()), jobFileMode);
    } catch (const std::system_error& error) {
        throw StoreError::couldNotSave("the job " + inQuotes(job.name), error.code());
    }
    std::lock_guard lock(mutex_);
    storage_.insert_or_assign(job.id, job);
}

// The folder is read again: a copy made since this store loaded is a file of the job too.
void JobStore::remove(const Uuid& id) {
    std::vector<fs::path> targets;
    std::error_code ignored;
    if (fs::symlink_status(fileFor(id), ignored).type() != fs::file_type::not_found)
        targets.push_back(fileFor(id));
    try {
        for (const auto& [path, job] : scan(directory_, nullptr))
            if (job.id == id && path != fileFor(id))
                targets.push_back(path);
    } catch (const fs::filesystem_error& error) {
        throw StoreError(error.code(), "Could not delete the job \u2014 cannot list " +
                                           directory_.string() + ": " + error.code().message());
    }
    std::string failures;
    std::error_code firstError;
    for (const fs::path& path : targets) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT)
            continue;
        std::error_code error(errno, std::generic_category());
        if (!firstError)
            firstError = error;
        failures += (failures.empty() ? "" : "; ") + path.string() + ": " + error.message();
    }
    if (firstError)
        throw StoreError(firstError, "Could not delete every file of the job \u2014 " + failures);
    std::lock_guard lock(mutex_);
    storage_.erase(id);
}

} // namespace marrowbell
