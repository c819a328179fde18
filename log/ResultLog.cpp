#include "log/ResultLog.h"

#include "files/RegularFile.h"
#include "log/ResultLogLine.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A log file open for appending (fd -1: it cannot be written now), and
// whether it is locked against the other writers.
struct AppendFile
{
    int fd = -1;
    bool locked = false;
};

// Opens the file for appending, locked where the file system has locks. Only
// a regular file is taken.
AppendFile OpenForAppend(const std::string& path, const FileLocker& lock)
{
    const int fd = OpenRegularFile(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return {};
    const FileLock locked = lock(fd);
    if (locked == FileLock::Busy) {
        ::close(fd);
        return {};
    }
    return {fd, locked == FileLock::Held};
}

// As much of bytes as the file takes now; how much that was.
std::size_t WriteSome(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// Appends bytes whole where it can: a full disk can take part of a write, and
// under the lock that part is cut off again, so that the lines can be written
// whole later. Without a lock the part stays: another writer may append a line
// between any look at the file's size and the cut, and the cut would take that
// line too. Returns how many bytes stay in the file.
std::size_t AppendWhole(const AppendFile& file, std::string_view bytes)
{
    struct stat before
    { };
    if (file.locked && ::fstat(file.fd, &before) != 0)
        return 0;
    const std::size_t done = WriteSome(file.fd, bytes);
    if (!file.locked || done == 0 || done == bytes.size())
        return done;
    // Only this write's own bytes are cut: the file must have grown by the
    // part alone, as it has when every writer takes the lock.
    struct stat after
    { };
    if (::fstat(file.fd, &after) == 0 && after.st_size == before.st_size + static_cast<off_t>(done)
        && ::ftruncate(file.fd, before.st_size) == 0)
        return 0;
    return done;
}

std::tm LocalTime(std::time_t t)
{
    std::tm local {};
    ::localtime_r(&t, &local);
    return local;
}

} // namespace

ResultLog::ResultLog(
    std::string directory, Clock clock, std::size_t maxQueuedLines, FileLocker lock)
    : directory_(std::move(directory))
    , clock_(std::move(clock))
    , maxQueuedLines_(std::max<std::size_t>(maxQueuedLines, 1))
    , lock_(std::move(lock))
{
    if (!clock_)
        clock_ = [] { return std::time(nullptr); };
    if (!lock_)
        lock_ = TryLockFile;
}

ResultLog::~ResultLog()
{
    Flush();
    // The part of a cut line stays as it is; the lock goes with the file.
    for (const auto& [file, cut] : cutLines_)
        ::close(cut.fd);
}

void ResultLog::WriteResultLog(std::string_view name, std::int32_t result)
{
    const std::tm local = LocalTime(clock_());
    Line line;
    line.file = ResultLogFileName(local);
    line.text = FormatResultLogLine(local, name, result);
    line.localTime = local;
    ++queuedPerFile_[line.file];
    queue_.push_back(std::move(line));
    Flush();
    while (queue_.size() > maxQueuedLines_)
        DropOldest();
}

bool ResultLog::Flush()
{
    FinishCutLines();
    std::vector<std::string> files;
    for (const auto& [file, count] : queuedPerFile_)
        files.push_back(file);
    for (const std::string& file : files)
        WriteFile(file);
    return queue_.empty() && cutLines_.empty();
}

std::string ResultLog::Bytes(const Line& line)
{
    if (line.droppedBefore == 0)
        return line.text;
    std::string bytes = FormatDroppedLinesLine(line.localTime, line.droppedBefore);
    bytes += line.text;
    return bytes;
}

bool ResultLog::WriteFile(const std::string& file)
{
    // The file's lines follow the rest of its cut line.
    if (cutLines_.contains(file))
        return false;
    // Open before collecting the lines: while a file stays unwritable, every
    // new result tries it again, and the queue may be long.
    const AppendFile opened = OpenForAppend(directory_ + "/" + file, lock_);
    if (opened.fd < 0)
        return false;
    std::string bytes;
    for (const Line& line : queue_) {
        if (line.file == file)
            bytes += Bytes(line);
    }
    const std::size_t written = AppendWhole(opened, bytes);
    if (written == bytes.size()) {
        ::close(opened.fd);
        std::erase_if(queue_, [&file](const Line& line) { return line.file == file; });
        queuedPerFile_.erase(file);
        return true;
    }
    if (written == 0) {
        ::close(opened.fd);
        return false;
    }
    KeepCutLine(file, opened.fd, written);
    return false;
}

void ResultLog::KeepCutLine(const std::string& file, int fd, std::size_t written)
{
    std::string rest;
    std::size_t gone = 0;
    for (auto it = queue_.begin(); it != queue_.end() && written > 0;) {
        if (it->file != file) {
            ++it;
            continue;
        }
        const std::string bytes = Bytes(*it);
        if (written < bytes.size())
            rest = bytes.substr(written);
        written -= std::min(written, bytes.size());
        it = queue_.erase(it);
        ++gone;
    }
    if ((queuedPerFile_[file] -= gone) == 0)
        queuedPerFile_.erase(file);
    if (rest.empty()) {
        // The write ended between two lines: none is cut.
        ::close(fd);
        return;
    }
    cutLines_.emplace(file, CutLine {fd, std::move(rest)});
}

void ResultLog::FinishCutLines()
{
    for (auto it = cutLines_.begin(); it != cutLines_.end();) {
        CutLine& cut = it->second;
        cut.rest.erase(0, WriteSome(cut.fd, cut.rest));
        if (!cut.rest.empty()) {
            ++it;
            continue;
        }
        ::close(cut.fd);
        it = cutLines_.erase(it);
    }
}

void ResultLog::DropOldest()
{
    const Line& oldest = queue_.front();
    const std::uint64_t dropped = oldest.droppedBefore + 1;
    if (--queuedPerFile_[oldest.file] == 0)
        queuedPerFile_.erase(oldest.file);
    queue_.pop_front();
    if (!queue_.empty())
        queue_.front().droppedBefore += dropped;
}
