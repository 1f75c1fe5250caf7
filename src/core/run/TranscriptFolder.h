#pragma once

#include "base/Instant.h"
#include "base/Uuid.h"
#include "run/RunTranscript.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <unordered_set>

namespace marrowbell {

// The folder of run transcripts, "Runs" in the support folder (mode 0700): one file
// "{run UUID}.log" per run (mode 0600). A record finds its transcript only through its
// run identifier.
class TranscriptFolder {
public:
    static constexpr const char* folderName = "Runs";
    static constexpr std::uint64_t defaultLimitBytes = std::uint64_t(1) << 30;

    explicit TranscriptFolder(std::filesystem::path folder);
    // "Runs" in the support folder. Throws std::system_error when the support folder
    // cannot be provided.
    static std::filesystem::path defaultFolder();

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path path(const Uuid& runID) const;

    // A new transcript for the run, creating the folder when missing. Throws
    // std::system_error (or std::filesystem::filesystem_error) when it cannot.
    std::unique_ptr<RunTranscript> create(const Uuid& runID) const;

    // Removes the transcripts of runs not in `keep` last written before `recordsSince`
    // (their records left the history; a younger one may be a run whose scheduler was
    // killed, kept for reading), then the oldest of the rest until they take at most
    // `limitBytes` together. Transcripts of `live` runs are never touched, nor files
    // that are not transcripts; failures are ignored.
    void prune(const std::unordered_set<Uuid>& keep, Instant recordsSince,
               const std::unordered_set<Uuid>& live, std::uint64_t limitBytes) const;

private:
    std::filesystem::path folder_;
};

} // namespace marrowbell
