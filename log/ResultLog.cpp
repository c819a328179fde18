#include "log/ResultLog.h"

#include "log/ResultLogLine.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens the file for appending, or gives -1. Only a regular file is taken.
// O_NONBLOCK keeps a named pipe without a reader from holding the open;
// O_NOCTTY keeps a terminal in the file's place from becoming the program's.
int OpenForAppend(const std::string& path)
{
    const int fd = ::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    struct stat st
    { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Appends all of bytes or nothing, and closes the file: a full disk can take
// part of a write, and the lines are to be written again whole later.
bool AppendAndClose(int fd, std::string_view bytes)
{
    struct stat st
    { };
    const bool sized = ::fstat(fd, &st) == 0;
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!ok && done > 0 && sized) {
        // Best effort: should the cut fail as well, the part stays in front of
        // the whole lines written later.
        [[maybe_unused]] const int cut = ::ftruncate(fd, st.st_size);
    }
    ::close(fd);
    return ok;
}

std::tm LocalTime(std::time_t t)
{
    std::tm local {};
    ::localtime_r(&t, &local);
    return local;
}

} // namespace

ResultLog::ResultLog(std::string directory, Clock clock, std::size_t maxQueuedLines)
    : directory_(std::move(directory))
    , clock_(std::move(clock))
    , maxQueuedLines_(std::max<std::size_t>(maxQueuedLines, 1))
{
    if (!clock_)
        clock_ = [] { return std::time(nullptr); };
}

ResultLog::~ResultLog()
{
    Flush();
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
    std::vector<std::string> files;
    for (const auto& [file, count] : queuedPerFile_)
        files.push_back(file);
    for (const std::string& file : files)
        WriteFile(file);
    return queue_.empty();
}

bool ResultLog::WriteFile(const std::string& file)
{
    // Open before collecting the lines: while a file stays unwritable, every
    // new result tries it again, and the queue may be long.
    const int fd = OpenForAppend(directory_ + "/" + file);
    if (fd < 0)
        return false;
    std::string bytes;
    for (const Line& line : queue_) {
        if (line.file != file)
            continue;
        if (line.droppedBefore > 0)
            bytes += FormatDroppedLinesLine(line.localTime, line.droppedBefore);
        bytes += line.text;
    }
    if (!AppendAndClose(fd, bytes))
        return false;
    std::erase_if(queue_, [&file](const Line& line) { return line.file == file; });
    queuedPerFile_.erase(file);
    return true;
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
