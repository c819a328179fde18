// The result log's folder, or its file, stops taking writes for a while and
// then takes them again, with the real window logging results as they change.

#include "app/MainFrame.h"
#include "hosts/HostEntry.h"
#include "res/ResourceIds.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FileFaults.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QAction>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// The immutable attribute stops everyone, root too, from creating files in a
// folder or writing to a file; a mode without write permission would not
// stop root. False where the file system has no such attribute.
bool SetImmutable(const std::string& path, bool on)
{
    return SetInodeFlag(path, FS_IMMUTABLE_FL, on);
}

std::string Line(std::time_t t, const std::string& host, std::int32_t value)
{
    std::string line
        = LocalTimeText(t, "[%H:%M:%S] ") + host + std::string(16 - host.size(), ' ') + " ";
    return line + (value < 0 ? "N/A" : std::to_string(value) + " ms") + "\n";
}

class LoggingWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.write("kelvoran.ini", "[G]\n127.0.0.1 one\n127.0.0.2 two\n");
        services.tick = clock.Source();
        services.echo = echo.Layer();
        services.logClock = [now = wallClock] { return now->load(); };
        // Midday, so that no round crosses into another day's file.
        std::tm noon {};
        const std::time_t today = std::time(nullptr);
        localtime_r(&today, &noon);
        noon.tm_hour = 12;
        noon.tm_min = 0;
        noon.tm_sec = 0;
        *wallClock = std::mktime(&noon);
    }

    // One probe of every host with these results, handled by the window; the
    // log's clock stands one second later for each round.
    void Round(FrameDriver& f, std::int32_t first, std::int32_t second)
    {
        echo.Answer("127.0.0.1", first);
        echo.Answer("127.0.0.2", second);
        const int calls = echo.Calls();
        clock.Advance(5001);
        ASSERT_TRUE(WaitUntil([&] {
            return echo.Calls() == calls + 2 && Entry(f, 0)->busy == 0 && Entry(f, 1)->busy == 0;
        }));
        *wallClock += 1;
    }

    static HostEntry* Entry(FrameDriver& f, int row)
    {
        return reinterpret_cast<HostEntry*>(f->hostList->GetItemData(row));
    }

    std::string LogFile() const { return dir.file(DailyLogName(*wallClock)); }

    TempDir dir;
    TestClock clock {1000};
    FakeEcho echo;
    CMainFrame::Services services;
    std::shared_ptr<std::atomic<std::time_t>> wallClock
        = std::make_shared<std::atomic<std::time_t>>(0);
};

class LogFolder : public LoggingWindow
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to make a folder unwritable for everyone";
        if (!SetImmutable(dir.path(), true) || !SetImmutable(dir.path(), false))
            GTEST_SKIP() << "the file system of " << dir.path() << " has no immutable attribute";
        LoggingWindow::SetUp();
    }

    void TearDown() override
    {
        // Whatever happened, the folder must be removable again.
        SetImmutable(dir.file(DailyLogName(*wallClock)), false);
        SetImmutable(dir.path(), false);
    }
};

// Should the window wait in the open of a named pipe after all, a reader comes
// after a few seconds and takes what is written, so that the test fails
// instead of hanging.
class PipeRescue
{
public:
    explicit PipeRescue(std::string path)
        : thread_([this, path = std::move(path)] { Run(path); })
    { }
    ~PipeRescue()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stopped_.notify_all();
        thread_.join();
    }
    bool came() const { return came_; }

private:
    void Run(const std::string& path)
    {
        std::unique_lock lock(mutex_);
        if (stopped_.wait_for(
                lock, std::chrono::seconds(3 * KELVORAN_SLOWDOWN), [this] { return stop_; }))
            return;
        came_ = true;
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        char buffer[4096];
        while (!stopped_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stop_; })) {
            while (fd >= 0 && read(fd, buffer, sizeof buffer) > 0) { }
        }
        if (fd >= 0)
            close(fd);
    }

    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::atomic<bool> came_ {false};
    std::thread thread_;
};

} // namespace

// The file's lines, checked round by round: each round's lines, in any order
// among themselves, after those of the rounds before.
void ExpectRounds(const std::string& written, const std::vector<std::vector<std::string>>& rounds)
{
    std::istringstream in(written);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line + "\n");
    std::size_t at = 0;
    for (std::size_t r = 0; r < rounds.size(); ++r) {
        std::vector<std::string> want = rounds[r];
        ASSERT_LE(at + want.size(), lines.size()) << "lines missing from round " << r;
        std::vector<std::string> got(lines.begin() + at, lines.begin() + at + want.size());
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, want) << "round " << r;
        at += want.size();
    }
    EXPECT_EQ(at, lines.size()) << "more lines than results";
}

TEST_F(LogFolder, FullLogLinesWrittenWhileTheFileIsLockedArriveInOrderWithTheirOwnTimes)
{
    FrameDriver f(services);
    f.ChooseGroup("G");
    f->CommandAction(ID_FULL_LOG)->trigger();
    const std::vector<std::pair<std::int32_t, std::int32_t>> results {
        {1, -1}, {2, 7}, {3, 7}, {-1, 8}, {4, -1}, {5, 9}, {-1, -1}, {6, 10}, {7, 11}, {8, 11}};
    std::vector<std::vector<std::string>> rounds;
    std::string beforeLock;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (i == 3) {
            // Neither a new file in the folder nor a line in the old one.
            beforeLock = ReadWholeFile(LogFile());
            ASSERT_TRUE(SetImmutable(LogFile(), true));
            ASSERT_TRUE(SetImmutable(dir.path(), true));
        }
        if (i == 7) {
            EXPECT_EQ(ReadWholeFile(LogFile()), beforeLock) << "written while locked";
            ASSERT_TRUE(SetImmutable(dir.path(), false));
            ASSERT_TRUE(SetImmutable(LogFile(), false));
        }
        const std::time_t now = *wallClock;
        const auto [first, second] = results[i];
        std::vector<std::string> round;
        if (first != Entry(f, 0)->result)
            round.push_back(Line(now, "127.0.0.1", first));
        if (second != Entry(f, 1)->result)
            round.push_back(Line(now, "127.0.0.2", second));
        rounds.push_back(round);
        Round(f, first, second);
    }
    ExpectRounds(ReadWholeFile(LogFile()), rounds);
}

TEST_F(LogFolder, LinesWaitingForALockedFolderAreWrittenWhenItOpensWithoutANewResult)
{
    FrameDriver f(services);
    f.ChooseGroup("G");
    f->CommandAction(ID_LOG_BY_STATUS)->trigger();
    Round(f, 5, 5);
    ASSERT_TRUE(SetImmutable(dir.path(), true));
    const std::time_t first = *wallClock;
    Round(f, -1, 5);
    Round(f, 6, 5);
    Round(f, 6, -1);
    ASSERT_TRUE(SetImmutable(dir.path(), false));
    // Nothing changes from here on, so no result gives the log a reason to
    // write; the lines still must not wait for one.
    Round(f, 6, -1);
    Pump(1500 * KELVORAN_SLOWDOWN);
    EXPECT_EQ(ReadWholeFile(LogFile()),
        Line(first, "127.0.0.1", -1) + Line(first + 1, "127.0.0.1", 6)
            + Line(first + 2, "127.0.0.2", -1));
}

// Something that is not a regular file in the log's place, one after another:
// lines wait for a regular file as they do for a locked folder, and meanwhile
// the window goes on probing and answers its menu at once. A pipe must not
// hold it in the open (nobody reads) or in a write (the reader never reads),
// and neither the pipe nor a device may take the lines away.
TEST_F(LoggingWindow, APipeASocketADeviceOrAFolderInTheLogsPlaceHoldTheLinesNotTheWindow)
{
    FrameDriver f(services);
    f.ChooseGroup("G");
    QAction* fullLog = f->CommandAction(ID_FULL_LOG);
    fullLog->trigger();
    const std::string file = LogFile();
    int reader = -1;
    int socketFd = -1;
    const std::vector<std::pair<const char*, std::function<void()>>> places {
        {"a named pipe nobody reads", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); }},
        {"a named pipe whose reader reads nothing",
            [&] {
                reader = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                ASSERT_GE(reader, 0);
            }},
        {"a socket",
            [&] {
                char byte = 0;
                EXPECT_LE(read(reader, &byte, 1), 0) << "lines went into the pipe";
                close(reader);
                unlink(file.c_str());
                socketFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
                sockaddr_un address {};
                address.sun_family = AF_UNIX;
                ASSERT_LT(file.size(), sizeof address.sun_path);
                std::memcpy(address.sun_path, file.c_str(), file.size() + 1);
                ASSERT_EQ(
                    bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
            }},
        {"a device",
            [&] {
                close(socketFd);
                unlink(file.c_str());
                ASSERT_EQ(symlink("/dev/null", file.c_str()), 0);
            }},
        {"a folder",
            [&] {
                unlink(file.c_str());
                ASSERT_EQ(mkdir(file.c_str(), 0700), 0);
            }},
    };

    const auto within = std::chrono::milliseconds(1000 * KELVORAN_SLOWDOWN);
    std::vector<std::vector<std::string>> rounds;
    std::int32_t value = 0;
    for (const auto& [what, make] : places) {
        SCOPED_TRACE(what);
        make();
        if (HasFatalFailure())
            return;
        PipeRescue rescue(file);
        for (int i = 0; i < 2; ++i) {
            ++value;
            rounds.push_back(
                {Line(*wallClock, "127.0.0.1", value), Line(*wallClock, "127.0.0.2", value + 100)});
            const auto start = std::chrono::steady_clock::now();
            Round(f, value, value + 100);
            EXPECT_LT(std::chrono::steady_clock::now() - start, within) << "round " << i;
        }
        // Full log off and on again, each chosen through the event queue.
        for (const bool on : {false, true}) {
            QMetaObject::invokeMethod(fullLog, &QAction::trigger, Qt::QueuedConnection);
            EXPECT_TRUE(WaitUntil([&] { return f.ShownTitle().starts_with("[*]") == on; },
                static_cast<int>(within.count())))
                << "Full log did not turn " << (on ? "on" : "off");
        }
        EXPECT_FALSE(rescue.came()) << "the window waited on the pipe";
    }
    ASSERT_EQ(rmdir(file.c_str()), 0);
    // The timer writes them; no new result is needed.
    std::size_t expected = 0;
    for (const auto& round : rounds)
        expected += round[0].size() + round[1].size();
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadWholeFile(file).size() >= expected; }, 2000 * KELVORAN_SLOWDOWN));
    ExpectRounds(ReadWholeFile(file), rounds);
}
