#include "base/FileLock.h"
#include "base/StoreFile.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

// A store of numbers: a JSON array whose entries that are not integers are left out.
using Numbers = std::vector<int>;

Decoded<Numbers> decodeNumbers(const Json& document) {
    if (!document.is_array())
        throw DecodeError("not a list");
    Decoded<Numbers> decoded;
    for (const Json& item : document) {
        if (item.is_number_integer())
            decoded.value.push_back(item.get<int>());
        else
            ++decoded.dropped;
    }
    return decoded;
}

std::string encodeNumbers(const Numbers& numbers) {
    return json::pretty(Json(numbers));
}

StoreFile numbersFile(const fs::path& path,
                      StoreFile::Damaged damaged = StoreFile::Damaged::setAside) {
    return StoreFile(path, "the numbers", 1024, 0600, damaged);
}

Numbers load(StoreFile& file) {
    return file.load<Numbers>(decodeNumbers, encodeNumbers);
}

Numbers append(StoreFile& file, int number) {
    return file.update<Numbers>(
        decodeNumbers, [&](Numbers& numbers) { numbers.push_back(number); }, encodeNumbers,
        [](const Numbers&) {});
}

// The files set aside beside `path`.
std::vector<fs::path> setAside(const fs::path& path) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(path.parent_path()))
        if (entry.path().filename().string().starts_with(path.filename().string() + ".damaged-"))
            found.push_back(entry.path());
    return found;
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

struct SpecialFile {
    const char* label;
    void (*make)(const fs::path& path);
    files::Content::State state;
};

class BoundedRead : public testing::TestWithParam<SpecialFile> {};

// Nothing here may block or read without end: a FIFO with no writer, an endless device.
TEST_P(BoundedRead, AnswersAtOnceWithoutReadingWhatIsNotAPlainSmallFile) {
    test::TempDir dir;
    fs::path path = dir / "file.json";
    GetParam().make(path);
    files::Content content = files::readBounded(path, 1024);
    EXPECT_EQ(content.state, GetParam().state);
    EXPECT_TRUE(content.bytes.empty() || content.state == files::Content::State::read);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BoundedRead,
    testing::Values(
        SpecialFile{"Fifo", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
                    files::Content::State::notRegular},
        SpecialFile{"LinkToDevZero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
                    files::Content::State::notRegular},
        SpecialFile{"OverTheCap",
                    [](const fs::path& p) { test::writeFile(p, std::string(1025, ' ')); },
                    files::Content::State::tooLarge},
        SpecialFile{"AtTheCap",
                    [](const fs::path& p) { test::writeFile(p, std::string(1024, ' ')); },
                    files::Content::State::read},
        SpecialFile{"LinkToAFile",
                    [](const fs::path& p) {
                        test::writeFile(p.string() + ".real", "[]");
                        fs::create_symlink(p.string() + ".real", p);
                    },
                    files::Content::State::read},
        SpecialFile{"Missing", [](const fs::path&) {}, files::Content::State::missing}),
    [](const auto& info) { return std::string(info.param.label); });

struct DamagedCase {
    const char* label;
    std::string content;
};

class DamagedStoreFile : public testing::TestWithParam<DamagedCase> {};

// The file is moved aside, private, told once; the store starts empty and its next
// change creates a fresh file without touching the one set aside.
TEST_P(DamagedStoreFile, IsMovedAsideAndNeverWrittenOver) {
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
    test::writeFile(path, GetParam().content);
    StoreFile file = numbersFile(path);
    EXPECT_EQ(load(file), Numbers{});
    ASSERT_EQ(file.problems().size(), 1u);
    auto aside = setAside(path);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(file.problems()[0].find(aside[0].string()), std::string::npos) << file.problems()[0];
    EXPECT_EQ(files::read(aside[0]), GetParam().content);
    EXPECT_EQ(modeOf(aside[0]), 0600u);
    EXPECT_FALSE(fs::exists(path));

    EXPECT_EQ(append(file, 7), Numbers{7});
    EXPECT_EQ(files::read(aside[0]), GetParam().content);
    StoreFile again = numbersFile(path);
    EXPECT_EQ(load(again), Numbers{7});
    EXPECT_TRUE(again.problems().empty());
}

INSTANTIATE_TEST_SUITE_P(StoreFile, DamagedStoreFile,
                         testing::Values(DamagedCase{"NotJson", "[1, 2"},
                                         DamagedCase{"WrongDocument", "{\"numbers\": [1]}"},
                                         DamagedCase{"OverTheCap",
                                                     "[" + std::string(2000, ' ') + "]"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(StoreFile, EntriesThatDoNotDecodeCostThemselvesAndTheOriginalIsKept) {
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
    const std::string original = "[1, \"two\", 3, null]";
    test::writeFile(path, original);
    StoreFile file = numbersFile(path);
    EXPECT_EQ(load(file), (Numbers{1, 3}));
    ASSERT_EQ(file.problems().size(), 1u);
    EXPECT_NE(file.problems()[0].find("2 entries"), std::string::npos) << file.problems()[0];
    auto aside = setAside(path);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(files::read(aside[0]), original);
    // Repaired at once, so the next reader is not told again.
    StoreFile again = numbersFile(path);
    EXPECT_EQ(load(again), (Numbers{1, 3}));
    EXPECT_TRUE(again.problems().empty());
}

TEST(StoreFile, AnEmptyFileIsNoFile) {
    test::TempDir dir;
    test::writeFile(dir / "numbers.json", "");
    StoreFile file = numbersFile(dir / "numbers.json");
    EXPECT_EQ(load(file), Numbers{});
    EXPECT_TRUE(file.problems().empty());
    EXPECT_TRUE(setAside(dir / "numbers.json").empty());
}

// A file the store cannot read stays exactly as it is, and changes fail with the reason.
TEST(StoreFile, AFileThatCannotBeReadIsNeverReplaced) {
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    StoreFile file = numbersFile(path);
    EXPECT_EQ(load(file), Numbers{});
    ASSERT_EQ(file.problems().size(), 1u);
    try {
        append(file, 1);
        FAIL() << "the change was accepted";
    } catch (const StoreError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Could not save the numbers \u2014 " + path.string() + " is not a regular file");
    }
    EXPECT_EQ(fs::status(path).type(), fs::file_type::fifo);
    EXPECT_TRUE(setAside(path).empty());
}

// Permissions do not stop root: the unreadable file is tried by an unprivileged child.
TEST(StoreFile, AFileWithoutReadPermissionIsNeverReplaced) {
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
    test::writeFile(path, "[1, 2]");
    ::chmod(path.c_str(), 0);
    ::chmod(dir.path().c_str(), 0777);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        StoreFile file = numbersFile(path);
        if (!load(file).empty() || file.problems().size() != 1)
            ::_exit(11);
        try {
            append(file, 3);
            ::_exit(12);
        } catch (const StoreError& error) {
            ::_exit(std::string(error.what()).ends_with("Permission denied") ? 0 : 13);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(files::read(path), "[1, 2]");
}

TEST(StoreFile, ARefusedDamagedFileStaysAndChangesSayWhy) {
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
    test::writeFile(path, "{oops");
    StoreFile file = numbersFile(path, StoreFile::Damaged::refuse);
    EXPECT_EQ(load(file), Numbers{});
    EXPECT_EQ(file.problems().size(), 1u);
    EXPECT_THROW(append(file, 1), StoreError);
    EXPECT_EQ(files::read(path), "{oops");
    EXPECT_TRUE(setAside(path).empty());
}

// Each change re-reads the file: two stores on one file (as two processes would be)
// keep each other's changes.
TEST(StoreFile, ChangesStartFromTheFileAsItIsNow) {
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
    StoreFile first = numbersFile(path), second = numbersFile(path);
    EXPECT_EQ(load(first), Numbers{});
    EXPECT_EQ(load(second), Numbers{});
    append(first, 1);
    EXPECT_EQ(append(second, 2), (Numbers{1, 2}));
    EXPECT_EQ(append(first, 3), (Numbers{1, 2, 3}));
}

TEST(StoreFile, AFailedWriteThrowsTheMessageForTheUserAndKeepsTheFile) {
    test::SmallFilesystem disk;
    if (disk.unavailable())
        GTEST_SKIP() << *disk.unavailable();
    fs::path path = disk / "numbers.json";
    StoreFile file = numbersFile(path);
    append(file, 1);
    disk.fill();
    try {
        append(file, 2);
        FAIL() << "the write succeeded on a full disk";
    } catch (const StoreError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Could not save the numbers \u2014 No space left on device");
        EXPECT_EQ(error.code(), std::errc::no_space_on_device);
    }
    disk.makeRoom();
    StoreFile again = numbersFile(path);
    EXPECT_EQ(load(again), Numbers{1});
}

TEST(FileLock, IsSeenByOtherProcessesAndItsFileIsPrivate) {
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
    std::optional<FileLock> held(std::in_place, path);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Another open file description: F_OFD_GETLK reports the lock held above.
        int fd = ::open(FileLock::lockFileFor(path).c_str(), O_RDWR);
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        ::_exit(fd >= 0 && ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_WRLCK ? 0
                                                                                            : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(modeOf(FileLock::lockFileFor(path)), 0600u);
}

} // namespace
