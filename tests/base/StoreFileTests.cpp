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

struct NumbersFile : StoreFile {
    explicit NumbersFile(const fs::path& path, Damaged damaged = Damaged::setAside)
        : StoreFile(path, "the numbers", 1024, 0600, damaged) {}
    static Decoded<Numbers> decode(const Json& document) {
        if (!document.is_array())
            throw DecodeError("not a list");
        Decoded<Numbers> decoded;
        for (const Json& item : document)
            item.is_number_integer() ? decoded.value.push_back(item.get<int>())
                                     : void(++decoded.dropped);
        return decoded;
    }
    static std::string encode(const Numbers& numbers) { return json::pretty(Json(numbers)); }
    Numbers load() { return StoreFile::load<Numbers>(decode, encode); }
    Numbers append(int number) {
        return update<Numbers>(
            decode, [&](Numbers& numbers) { numbers.push_back(number); }, encode,
            [](const Numbers&) {});
    }
};

// What a change to a file the store must not replace throws; none when it is accepted.
std::optional<StoreError> refusal(NumbersFile& file, int number = 1) {
    try {
        file.append(number);
    } catch (const StoreError& error) {
        return error;
    }
    return std::nullopt;
}

class StoreFileTest : public testing::Test {
protected:
    test::TempDir dir;
    fs::path path = dir / "numbers.json";
};

// Nothing here may block or read without end: a FIFO with no writer, an endless device.
TEST_F(StoreFileTest, BoundedReadsAnswerAtOnceWithoutReadingWhatIsNotAPlainSmallFile) {
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero");
    test::writeFile(dir / "over", std::string(1025, ' '));
    test::writeFile(dir / "at", std::string(1024, ' '));
    fs::create_symlink(dir / "at", dir / "link");
    auto read = [&](const char* name) {
        files::Content content = files::readBounded(dir / name, 1024);
        return std::pair(content.state, content.bytes.size());
    };
    using S = files::Content::State;
    EXPECT_EQ(read("fifo"), std::pair(S::notRegular, 0ul));
    EXPECT_EQ(read("zero"), std::pair(S::notRegular, 0ul));
    EXPECT_EQ(read("over"), std::pair(S::tooLarge, 0ul));
    EXPECT_EQ(read("at"), std::pair(S::read, 1024ul));
    EXPECT_EQ(read("link"), std::pair(S::read, 1024ul));
    EXPECT_EQ(read("missing"), std::pair(S::missing, 0ul));
}

// A copy of a damaged file as it was is set aside (private, named in the one problem
// reported) and never written over; the store keeps what decoded, repaired at once, so
// the next reader is not told again.
TEST_F(StoreFileTest, ADamagedFileIsSetAsideAndTheStoreKeepsWhatDecoded) {
    struct {
        const char* name;
        std::string content;
        Numbers kept;     // what decoded
        const char* told; // in the problem reported
    } const cases[] = {{"not JSON", "[1, 2", {}, ""},
                       {"wrong document", "{\"numbers\": [1]}", {}, ""},
                       {"over the cap", "[" + std::string(2000, ' ') + "]", {}, ""},
                       {"some entries", "[1, \"two\", 3, null]", {1, 3}, "2 entries"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path file = dir / c.name;
        test::writeFile(file, c.content);
        NumbersFile store(file);
        EXPECT_EQ(store.load(), c.kept);
        ASSERT_EQ(store.problems().size(), 1u);
        auto aside = test::setAside(file);
        ASSERT_EQ(aside.size(), 1u);
        for (const std::string& told : {aside[0].string(), std::string(c.told)})
            EXPECT_NE(store.problems()[0].find(told), std::string::npos) << store.problems()[0];
        EXPECT_EQ(files::read(aside[0]), c.content);
        EXPECT_EQ(fs::status(aside[0]).permissions(), fs::perms(0600));
        Numbers kept = c.kept;
        kept.push_back(7);
        EXPECT_EQ(store.append(7), kept);
        EXPECT_EQ(files::read(aside[0]), c.content);
        NumbersFile again(file);
        EXPECT_EQ(again.load(), kept);
        EXPECT_TRUE(again.problems().empty());
    }
}

// A file the store cannot read, or may not replace, stays exactly as it is, and changes
// fail with the reason.
TEST_F(StoreFileTest, AFileThatCannotBeReadIsNeverReplaced) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    NumbersFile fifo(path);
    EXPECT_EQ(fifo.load(), Numbers{});
    EXPECT_EQ(fifo.problems().size(), 1u);
    EXPECT_EQ(std::string(refusal(fifo).value().what()),
              "Could not save the numbers \u2014 " + path.string() + " is not a regular file");
    EXPECT_EQ(fs::status(path).type(), fs::file_type::fifo);
    fs::remove(path);

    test::writeFile(path, "{oops");
    NumbersFile refusing(path, StoreFile::Damaged::refuse);
    EXPECT_EQ(refusing.load(), Numbers{});
    EXPECT_EQ(refusing.problems().size(), 1u);
    EXPECT_TRUE(refusal(refusing));
    EXPECT_EQ(files::read(path), "{oops");
    EXPECT_TRUE(test::setAside(path).empty());
}

// Permissions do not stop root: the unreadable file is tried by an unprivileged child.
TEST_F(StoreFileTest, AFileWithoutReadPermissionIsNeverReplaced) {
    test::writeFile(path, "[1, 2]");
    ::chmod(path.c_str(), 0);
    ::chmod(dir.path().c_str(), 0777);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        NumbersFile file(path);
        bool loaded = file.load().empty() && file.problems().size() == 1;
        auto error = refusal(file);
        ::_exit(loaded && error && std::string_view(error->what()).ends_with("Permission denied")
                    ? 0
                    : 11);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << "exit status " << WEXITSTATUS(status);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(files::read(path), "[1, 2]");
}

// Each change re-reads the file: two stores on one file (as two processes would be)
// keep each other's changes. An empty file is no file, not a damaged one.
TEST_F(StoreFileTest, ChangesStartFromTheFileAsItIsNow) {
    test::writeFile(path, "");
    NumbersFile first(path), second(path);
    EXPECT_EQ(first.load(), Numbers{});
    EXPECT_TRUE(first.problems().empty());
    EXPECT_TRUE(test::setAside(path).empty());
    EXPECT_EQ(second.load(), Numbers{});
    first.append(1);
    EXPECT_EQ(second.append(2), (Numbers{1, 2}));
    EXPECT_EQ(first.append(3), (Numbers{1, 2, 3}));
}

TEST(StoreFile, AFailedWriteThrowsTheMessageForTheUserAndKeepsTheFile) {
    test::SmallFilesystem disk;
    if (disk.unavailable())
        GTEST_SKIP() << *disk.unavailable();
    NumbersFile file(disk / "numbers.json");
    file.append(1);
    disk.fill();
    auto error = refusal(file, 2);
    EXPECT_EQ(std::string(error.value().what()),
              "Could not save the numbers \u2014 No space left on device");
    EXPECT_EQ(error->code(), std::errc::no_space_on_device);
    disk.makeRoom();
    EXPECT_EQ(NumbersFile(disk / "numbers.json").load(), Numbers{1});
}

// A lock is held by an open file, not the process: another open file of this same
// process sees it, as another process would.
TEST_F(StoreFileTest, FileLockIsSeenThroughAnotherOpenFileAndItsFileIsPrivate) {
    FileLock held(path);
    int fd = ::open(FileLock::lockFileFor(path).c_str(), O_RDWR | O_CLOEXEC);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    EXPECT_EQ(::fcntl(fd, F_OFD_GETLK, &probe), 0);
    ::close(fd);
    EXPECT_EQ(probe.l_type, F_WRLCK) << "the lock was not seen";
    EXPECT_EQ(fs::status(FileLock::lockFileFor(path)).permissions(), fs::perms(0600));
}

} // namespace
