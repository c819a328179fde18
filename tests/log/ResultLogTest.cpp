#include "log/ResultLog.h"

#include "log/FileLock.h"
#include "log/LogMode.h"
#include "log/ResultLogLine.h"
#include "tests/support/FileFaults.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Lines are checked with fixed local times, so the tests fix the time zone.
class ZoneGuard
{
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (old_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", old_.c_str(), 1);
        tzset();
    }

private:
    std::string old_;
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t = CivilTime(year, month, day, hour, minute, second);
    return timegm(&t);
}

std::string Line(const char* time, const char* name, std::int32_t result)
{
    std::string padded = name;
    padded.resize(16, ' ');
    return std::string("[") + time + "] " + padded + " "
        + (result == -1 ? std::string("N/A") : std::to_string(result) + " ms") + "\n";
}

constexpr const char* kDay1 = "kelvoran.20091231";
constexpr const char* kDay2 = "kelvoran.20100101";

class ResultLogFile : public testing::Test
{
protected:
    ResultLog MakeLog(
        const std::string& directory, std::size_t maxQueued = ResultLog::kMaxQueuedLines)
    {
        return ResultLog(
            directory, [this] { return now_; }, maxQueued);
    }
    std::string In(const char* file) const { return ReadWholeFile(dir_.file(file)); }
    // A directory in the file's place: opening it fails for every user, root included.
    void Block(const char* file) { fs::create_directory(dir_.file(file)); }
    void Unblock(const char* file) { fs::remove(dir_.file(file)); }

    ZoneGuard zone_ {"UTC0"};
    TempDir dir_;
    std::time_t now_ = Utc(2009, 12, 31, 9, 5, 3);
};

TEST_F(ResultLogFile, ByDefaultWritesTodaysFileInTheWorkingDirectory)
{
    const std::time_t before = std::time(nullptr);
    {
        ResultLog log;
        log.WriteResultLog("198.18.0.1", 12);
    }
    const std::time_t after = std::time(nullptr);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator("."))
        files.push_back(entry.path().filename().string());
    ASSERT_EQ(files.size(), 1u);
    std::tm local {};
    std::vector<std::string> days;
    for (std::time_t t : {before, after})
        days.push_back(ResultLogFileName(*gmtime_r(&t, &local)));
    EXPECT_TRUE(files[0] == days[0] || files[0] == days[1]) << files[0];
    const std::string line = ReadWholeFile(files[0]);
    EXPECT_EQ(line.substr(10), " 198.18.0.1       12 ms\n");
}

TEST_F(ResultLogFile, WritesLinesInTheOrderOfTheResults)
{
    auto log = MakeLog(dir_.path());
    log.WriteResultLog("198.18.0.1", 12);
    now_ += 2;
    log.WriteResultLog("198.18.0.1", -1);
    EXPECT_EQ(In(kDay1), Line("09:05:03", "198.18.0.1", 12) + Line("09:05:05", "198.18.0.1", -1));
    EXPECT_EQ(log.QueuedLines(), 0u);
}

TEST_F(ResultLogFile, AppendsToWhatIsThere)
{
    dir_.write(kDay1, "earlier\n");
    auto log = MakeLog(dir_.path());
    log.WriteResultLog("198.18.0.7", 3);
    EXPECT_EQ(In(kDay1), "earlier\n" + Line("09:05:03", "198.18.0.7", 3));
}

TEST_F(ResultLogFile, LinesAroundMidnightGoToTheirOwnDaysFiles)
{
    auto log = MakeLog(dir_.path());
    now_ = Utc(2009, 12, 31, 23, 59, 59);
    log.WriteResultLog("198.18.0.1", 12);
    ++now_;
    log.WriteResultLog("198.18.0.1", 13);
    EXPECT_EQ(In(kDay1), Line("23:59:59", "198.18.0.1", 12));
    EXPECT_EQ(In(kDay2), Line("00:00:00", "198.18.0.1", 13));
}

TEST_F(ResultLogFile, DayAndTimeAreLocal)
{
    ZoneGuard tokyo("JST-9");
    auto log = MakeLog(dir_.path());
    now_ = Utc(2009, 12, 31, 15, 0, 0);
    log.WriteResultLog("198.18.0.1", 1);
    EXPECT_EQ(In(kDay2), Line("00:00:00", "198.18.0.1", 1));
    EXPECT_FALSE(fs::exists(dir_.file(kDay1)));
}

TEST_F(ResultLogFile, ByStatusModeLogsOnlyChangesToAndFromNoReply)
{
    auto log = MakeLog(dir_.path());
    std::int32_t prev = -2;
    for (std::int32_t result : {12, -1, 15, 17}) {
        if (ShouldWriteResultLog(kLogByStatus, prev, result))
            log.WriteResultLog("198.18.0.1", result);
        prev = result;
        ++now_;
    }
    EXPECT_EQ(In(kDay1), Line("09:05:04", "198.18.0.1", -1) + Line("09:05:05", "198.18.0.1", 15));
}

TEST_F(ResultLogFile, LinesWaitForAMissingDirectoryWithTheirOwnTimesAndDays)
{
    const std::string later = dir_.file("later");
    auto log = MakeLog(later);
    now_ = Utc(2009, 12, 31, 23, 59, 58);
    log.WriteResultLog("198.18.0.1", 12);
    ++now_;
    log.WriteResultLog("198.18.0.2", -1);
    ++now_;
    log.WriteResultLog("198.18.0.3", 7);
    EXPECT_EQ(log.QueuedLines(), 3u);

    fs::create_directory(later);
    ++now_;
    log.WriteResultLog("198.18.0.1", 13);
    EXPECT_EQ(log.QueuedLines(), 0u);
    EXPECT_EQ(ReadWholeFile(later + "/" + kDay1),
        Line("23:59:58", "198.18.0.1", 12) + Line("23:59:59", "198.18.0.2", -1));
    EXPECT_EQ(ReadWholeFile(later + "/" + kDay2),
        Line("00:00:00", "198.18.0.3", 7) + Line("00:00:01", "198.18.0.1", 13));
}

TEST_F(ResultLogFile, AnUnwritableDayDoesNotHoldBackAnother)
{
    auto log = MakeLog(dir_.path());
    Block(kDay1);
    now_ = Utc(2009, 12, 31, 23, 59, 58);
    log.WriteResultLog("a", 1);
    ++now_;
    log.WriteResultLog("b", 2);
    ++now_;
    log.WriteResultLog("c", 3); // the next day's file can be written
    EXPECT_EQ(In(kDay2), Line("00:00:00", "c", 3));
    EXPECT_EQ(log.QueuedLines(), 2u);

    Unblock(kDay1);
    ++now_;
    log.WriteResultLog("d", 4);
    EXPECT_EQ(In(kDay1), Line("23:59:58", "a", 1) + Line("23:59:59", "b", 2));
    EXPECT_EQ(In(kDay2), Line("00:00:00", "c", 3) + Line("00:00:01", "d", 4));
}

TEST_F(ResultLogFile, ALaterFileStillBlockedKeepsItsLinesInOrder)
{
    auto log = MakeLog(dir_.path());
    now_ = Utc(2009, 12, 31, 23, 59, 59);
    // Both days wait; then the first can be written again, the second not yet.
    Block(kDay1);
    Block(kDay2);
    log.WriteResultLog("a", 1);
    ++now_;
    log.WriteResultLog("b", 2);
    ++now_;
    log.WriteResultLog("c", 3);
    Unblock(kDay1);
    EXPECT_FALSE(log.Flush());
    EXPECT_EQ(In(kDay1), Line("23:59:59", "a", 1));
    EXPECT_EQ(log.QueuedLines(), 2u);

    ++now_;
    log.WriteResultLog("d", 4);
    EXPECT_EQ(log.QueuedLines(), 3u);
    Unblock(kDay2);
    ++now_;
    log.WriteResultLog("e", 5);
    EXPECT_EQ(In(kDay2),
        Line("00:00:00", "b", 2) + Line("00:00:01", "c", 3) + Line("00:00:02", "d", 4)
            + Line("00:00:03", "e", 5));
    EXPECT_EQ(log.QueuedLines(), 0u);
}

TEST_F(ResultLogFile, AFullDeviceKeepsTheLines)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this machine";
    auto log = MakeLog(dir_.path());
    fs::create_symlink("/dev/full", dir_.file(kDay1)); // opens, but every write fails
    log.WriteResultLog("198.18.0.1", 12);
    ++now_;
    log.WriteResultLog("198.18.0.2", 3);
    EXPECT_EQ(log.QueuedLines(), 2u);

    fs::remove(dir_.file(kDay1));
    ++now_;
    log.WriteResultLog("198.18.0.3", -1);
    EXPECT_EQ(In(kDay1),
        Line("09:05:03", "198.18.0.1", 12) + Line("09:05:04", "198.18.0.2", 3)
            + Line("09:05:05", "198.18.0.3", -1));
}

// A file size limit cuts a write in the middle of a line, as a disk running full
// does; the part must not stay in front of the lines written later.
TEST_F(ResultLogFile, APartlyWrittenLineIsCutOffAndWrittenAgainWhole)
{
    const std::string first = Line("09:05:03", "198.18.0.1", 12);
    auto log = MakeLog(dir_.path());
    log.WriteResultLog("198.18.0.1", 12);

    std::size_t waiting = 0;
    std::string during;
    {
        const FileSizeLimit limit(first.size() + 10);
        ASSERT_TRUE(limit.active());
        ++now_;
        log.WriteResultLog("198.18.0.2", 3);
        waiting = log.QueuedLines();
        during = In(kDay1);
    }

    EXPECT_EQ(waiting, 1u);
    EXPECT_EQ(during, first);
    ++now_;
    log.WriteResultLog("198.18.0.3", 4);
    EXPECT_EQ(
        In(kDay1), first + Line("09:05:04", "198.18.0.2", 3) + Line("09:05:05", "198.18.0.3", 4));
}

// A file system that refuses locks for good is written without one. A write
// cut short there is never cut off again (another writer may have appended a
// line behind it, which the cut would take too): its rest follows it as soon
// as the file takes it. Only a lock that another writer holds makes lines wait.
TEST_F(ResultLogFile, WithoutLocksLinesAreWrittenAndOnlyAHeldLockMakesThemWait)
{
    FileLock answer = FileLock::Unsupported;
    ResultLog log(
        dir_.path(), [this] { return now_; }, ResultLog::kMaxQueuedLines,
        [&answer](int) { return answer; });
    const std::string first = Line("09:05:03", "198.18.0.1", 12);
    const std::string second = Line("09:05:04", "198.18.0.2", 3);
    log.WriteResultLog("198.18.0.1", 12);
    {
        const FileSizeLimit limit(first.size() + 10);
        ASSERT_TRUE(limit.active());
        ++now_;
        log.WriteResultLog("198.18.0.2", 3);
    }
    EXPECT_EQ(In(kDay1), first + second.substr(0, 10));

    answer = FileLock::Busy;
    ++now_;
    log.WriteResultLog("198.18.0.3", 4);
    EXPECT_EQ(In(kDay1), first + second);
    EXPECT_EQ(log.QueuedLines(), 1u);
    answer = FileLock::Held;
    EXPECT_TRUE(log.Flush());
    EXPECT_EQ(In(kDay1), first + second + Line("09:05:05", "198.18.0.3", 4));
}

TEST_F(ResultLogFile, TheLockCallTellsAnotherWritersLock)
{
    const std::string path = dir_.file(kDay1);
    const int mine = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int other = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_EQ(TryLockFile(mine), FileLock::Held);
    EXPECT_EQ(TryLockFile(other), FileLock::Busy);
    close(mine);
    close(other);
}

// Where the part of a cut line cannot be cut off again, its rest follows it
// before any other writer's line.
TEST_F(ResultLogFile, ALineCutForGoodIsFinishedBeforeAnotherWriterAppends)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make the file append-only";
    const std::string first = Line("09:05:03", "198.18.0.1", 12);
    auto log = MakeLog(dir_.path());
    auto other = MakeLog(dir_.path());
    log.WriteResultLog("198.18.0.1", 12);
    // The append-only attribute lets nobody, root included, cut a file shorter.
    if (!SetInodeFlag(dir_.file(kDay1), FS_APPEND_FL, true))
        GTEST_SKIP() << "the file system of " << dir_.path() << " has no append-only attribute";
    {
        const FileSizeLimit limit(first.size() + 10);
        ASSERT_TRUE(limit.active());
        ++now_;
        log.WriteResultLog("198.18.0.2", 3);
    }

    other.WriteResultLog("198.18.0.9", 1);
    EXPECT_EQ(other.QueuedLines(), 1u);
    EXPECT_TRUE(log.Flush());
    EXPECT_TRUE(other.Flush());
    SetInodeFlag(dir_.file(kDay1), FS_APPEND_FL, false);
    EXPECT_EQ(
        In(kDay1), first + Line("09:05:04", "198.18.0.2", 3) + Line("09:05:04", "198.18.0.9", 1));
}

// The descriptors this process has open.
std::size_t OpenDescriptors()
{
    const fs::directory_iterator all("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(fs::begin(all), fs::end(all)));
}

// Near midnight a line of each day can be cut short at once. Without locks
// neither part is cut off again: each file keeps its own cut line, open until
// its rest is written or the log is closed.
struct TwoDaysCutRow
{
    const char* name;
    bool roomComesBack; // or the log is closed while both cut lines wait
};

void PrintTo(const TwoDaysCutRow& row, std::ostream* os)
{
    *os << row.name;
}

class TwoDaysCut : public ResultLogFile, public testing::WithParamInterface<TwoDaysCutRow>
{ };

TEST_P(TwoDaysCut, EachFileFinishesItsOwnCutLineAndEveryFileIsClosed)
{
    const std::size_t descriptors = OpenDescriptors();
    {
        ResultLog log(
            dir_.path(), [this] { return now_; }, ResultLog::kMaxQueuedLines,
            [](int) { return FileLock::Unsupported; });
        now_ = Utc(2009, 12, 31, 23, 59, 59);
        {
            const FileSizeLimit limit(10); // each file takes 10 bytes of its line
            ASSERT_TRUE(limit.active());
            log.WriteResultLog("a", 1);
            ++now_;
            log.WriteResultLog("b", 2);
            EXPECT_EQ(log.QueuedLines(), 2u);
        }
        if (GetParam().roomComesBack) {
            ++now_;
            log.WriteResultLog("c", 3);
            now_ = Utc(2009, 12, 31, 23, 59, 59);
            log.WriteResultLog("late", 4);
            EXPECT_EQ(log.QueuedLines(), 0u);
            EXPECT_EQ(In(kDay1), Line("23:59:59", "a", 1) + Line("23:59:59", "late", 4));
            EXPECT_EQ(In(kDay2), Line("00:00:00", "b", 2) + Line("00:00:01", "c", 3));
        }
    }
    EXPECT_EQ(OpenDescriptors(), descriptors) << "a log file is still open";
}

const TwoDaysCutRow kTwoDaysCutRows[] = {
    {"RoomComesBack", true},
    {"LogClosedWhileBothWait", false},
};

INSTANTIATE_TEST_SUITE_P(Midnight, TwoDaysCut, testing::ValuesIn(kTwoDaysCutRows),
    [](const testing::TestParamInfo<TwoDaysCutRow>& info) { return std::string(info.param.name); });

// A tmpfs of its own, mounted for one test and detached afterwards.
class SmallFileSystem
{
public:
    SmallFileSystem(std::string path, std::size_t bytes)
        : path_(std::move(path))
    {
        fs::create_directory(path_);
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (mount("kelvoran-test", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                options.c_str())
            != 0)
            error_ = std::strerror(errno);
    }
    ~SmallFileSystem()
    {
        if (error_.empty())
            umount2(path_.c_str(), MNT_DETACH);
    }
    const std::string& error() const { return error_; }
    std::uint64_t FreeBytes() const
    {
        struct statvfs st
        { };
        return statvfs(path_.c_str(), &st) == 0 ? st.f_bavail * st.f_frsize : 0;
    }

private:
    std::string path_;
    std::string error_;
};

// One of the writers, in a process of its own: `count` results of `host`, one
// a millisecond, then until the end of its time to have the rest written.
// Exit status 0 when all was written after some lines had to wait, 2 when none
// ever waited, 1 when lines still wait.
[[noreturn]] void RunWriter(
    const std::string& directory, const char* host, int count, std::time_t now)
{
    using namespace std::chrono;
    bool waited = false;
    {
        ResultLog log(directory, [now] { return now; });
        for (int i = 0; i < count; ++i) {
            const auto due = steady_clock::now() + milliseconds(1);
            log.WriteResultLog(host, i);
            waited = waited || log.QueuedLines() > 0;
            // Lines that wait are tried again and again, as a busy window
            // would, so that the writers meet at the edge of the full disk.
            while (steady_clock::now() < due) {
                if (log.Flush())
                    std::this_thread::sleep_until(due);
            }
        }
        const auto deadline = steady_clock::now() + seconds(20 * KELVORAN_SLOWDOWN);
        while (!log.Flush() && steady_clock::now() < deadline)
            std::this_thread::sleep_for(microseconds(100));
        if (log.QueuedLines() > 0)
            _exit(1);
    }
    _exit(waited ? 0 : 2);
}

// Two processes log into the same day's file on a file system that runs full
// and then gets its room back a page at a time while both still write: writes
// are cut short again and again, with the other writer appending around them.
TEST_F(ResultLogFile, TwoWritersOnAFileSystemRunningFullKeepEveryLineWholeAndLoseNone)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small file system";
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::string small = dir_.file("small");
    SmallFileSystem mounted(small, 8 * page);
    if (!mounted.error().empty())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << mounted.error();
    // Two pages of room for the log, which needs five for all the lines.
    std::vector<std::string> fillers;
    for (int i = 0; i < 6; ++i) {
        fillers.push_back(small + "/filler" + std::to_string(i));
        std::ofstream(fillers.back()) << 'x';
    }

    constexpr int kLines = 300;
    const char* hosts[] = {"writer-a", "writer-b"};
    std::vector<pid_t> writers;
    for (const char* host : hosts) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            RunWriter(small, host, kLines, now_);
        writers.push_back(pid);
    }
    // Room comes back a page at a time, more slowly than the writers fill it.
    const std::string file = small + "/" + kDay1;
    const auto size = [&file] {
        std::error_code ec;
        const std::uintmax_t bytes = fs::file_size(file, ec);
        return ec ? 0 : bytes;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (size() + 64 < 2 * page && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(mounted.FreeBytes(), 0u) << "the file system never ran full";
    for (const std::string& filler : fillers) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        fs::remove(filler);
    }
    std::vector<int> statuses;
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
        statuses.push_back(WEXITSTATUS(status));
    }
    EXPECT_NE(statuses[0], 1) << "lines of the first writer still waited at its end";
    EXPECT_NE(statuses[1], 1) << "lines of the second writer still waited at its end";
    EXPECT_TRUE(statuses[0] == 0 || statuses[1] == 0) << "no line ever had to wait";

    // Each line is the next one of one of the writers.
    const std::string written = ReadWholeFile(file);
    std::map<std::string, int> next {{hosts[0], 0}, {hosts[1], 0}};
    std::istringstream in(written);
    std::vector<std::string> wrong;
    for (std::string line; std::getline(in, line);) {
        line += '\n';
        bool expected = false;
        for (auto& [host, i] : next) {
            if (!expected && i < kLines && line == Line("09:05:03", host.c_str(), i)) {
                ++i;
                expected = true;
            }
        }
        if (!expected)
            wrong.push_back(line);
    }
    EXPECT_TRUE(written.empty() || written.back() == '\n') << "the file ends in a cut line";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " lines cut, mixed or out of order, the first: "
                               << (wrong.empty() ? "" : wrong.front());
    for (const auto& [host, i] : next)
        EXPECT_EQ(i, kLines) << "lines of " << host << " missing from " << i;
}

TEST_F(ResultLogFile, AFullQueueDropsTheOldestAndSaysHowMany)
{
    const std::string later = dir_.file("later");
    auto log = MakeLog(later);
    now_ = Utc(2009, 12, 31, 0, 0, 0);
    const int total = static_cast<int>(ResultLog::kMaxQueuedLines) + 5;
    for (int i = 0; i < total; ++i) {
        log.WriteResultLog("198.18.0.1", i);
        ++now_;
    }
    EXPECT_EQ(log.QueuedLines(), ResultLog::kMaxQueuedLines);

    fs::create_directory(later);
    log.WriteResultLog("198.18.0.1", -1);
    std::istringstream file(ReadWholeFile(later + "/" + kDay1));
    std::vector<std::string> lines;
    for (std::string l; std::getline(file, l);)
        lines.push_back(l + "\n");
    ASSERT_EQ(lines.size(), ResultLog::kMaxQueuedLines + 2);
    EXPECT_EQ(
        lines[0], "[00:00:05] 5 earlier lines dropped: the result log could not be written\n");
    EXPECT_EQ(lines[1], Line("00:00:05", "198.18.0.1", 5));
    EXPECT_EQ(lines[ResultLog::kMaxQueuedLines], Line("02:46:44", "198.18.0.1", total - 1));
    EXPECT_EQ(lines.back(), Line("02:46:45", "198.18.0.1", -1));
}

TEST_F(ResultLogFile, EachGapGetsItsOwnCountAndAWritableFileNeverDrops)
{
    auto log = MakeLog(dir_.path(), 3);
    Block(kDay1);
    now_ = Utc(2009, 12, 31, 23, 59, 50);
    for (int i = 0; i < 5; ++i) {
        log.WriteResultLog("x", i);
        ++now_;
    }
    EXPECT_EQ(log.QueuedLines(), 3u);
    Unblock(kDay1);
    log.WriteResultLog("x", 5);
    Block(kDay2);
    now_ = Utc(2010, 1, 1, 0, 0, 0);
    for (int i = 6; i < 10; ++i) {
        log.WriteResultLog("x", i);
        ++now_;
    }
    // A line whose file can be written while three wait does not push one out.
    now_ = Utc(2009, 12, 31, 23, 59, 59);
    log.WriteResultLog("late", 1);
    EXPECT_EQ(log.QueuedLines(), 3u);
    Unblock(kDay2);
    EXPECT_TRUE(log.Flush());

    const char* dropped = " earlier lines dropped: the result log could not be written\n";
    EXPECT_EQ(In(kDay1),
        "[23:59:52] 2" + std::string(dropped) + Line("23:59:52", "x", 2) + Line("23:59:53", "x", 3)
            + Line("23:59:54", "x", 4) + Line("23:59:55", "x", 5) + Line("23:59:59", "late", 1));
    EXPECT_EQ(In(kDay2),
        "[00:00:01] 1 earlier line dropped: the result log could not be written\n"
            + Line("00:00:01", "x", 7) + Line("00:00:02", "x", 8) + Line("00:00:03", "x", 9));
}

TEST_F(ResultLogFile, WaitingLinesAreWrittenWhenTheLogIsDestroyed)
{
    {
        auto log = MakeLog(dir_.path());
        Block(kDay1);
        log.WriteResultLog("198.18.0.1", 12);
        Unblock(kDay1);
    }
    EXPECT_EQ(In(kDay1), Line("09:05:03", "198.18.0.1", 12));
}

} // namespace
