#pragma once

#include "log/FileLock.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>

// The daily result log: one line per logged result, appended to the file
// "kelvoran.YYYYMMDD" (local date) in a directory, the file opened and closed
// for every write. The day is chosen line by line, so lines after midnight go
// to the next day's file.
//
// Only a regular file is written. Anything else in the file's place (a named
// pipe, a socket, a device, a directory) counts as a file that cannot be
// written: a pipe would hold the window until a reader came or read on, and a
// device would swallow the lines.
//
// Several logs, in one process or in several, may append to the same file.
// Each append happens under an exclusive advisory lock (flock) on the file; a
// lock held by another writer is not waited for. Under the lock the part of a
// write that a full disk cut short is cut off again, and the lines are written
// whole later; where the part cannot be cut off (an append-only file), the
// file stays open and locked until the rest of the line follows it. So lines
// are neither cut nor mixed nor lost.
//
// A file system that refuses locks altogether (NFS without its lock service,
// some FUSE file systems) is appended to without one. Each append is still one
// write, and nothing is ever cut off there, since another writer may have
// appended behind the part: the part stays, and the rest of the line follows
// as soon as the file takes it, before this log's next line for that file.
// The log itself removes no line there, but the writers' lines may mix:
// another writer's line may come between a part and its rest, and over NFS,
// where an append is not one step for writers on different machines, lines
// may even overwrite each other.
//
// At most one cut line per file waits for its rest; every file is closed (and
// its lock released) once its rest is written, and all of them when the log is
// destroyed. A rest that cannot be written even then is lost, its part stays.
//
// A line whose file cannot be opened or written at that moment (read-only or
// missing directory, full disk, a directory in the file's place, another
// writer's lock) is not lost:
// it waits in memory with its own time and file, and waiting lines are written
// first, in order, as soon as their file can be written again. Files do not
// wait for each other, but the lines of one file are never reordered. At most
// maxQueuedLines wait; beyond that the oldest are dropped and one line saying
// how many stands in their place, in front of the oldest line kept.
// Nothing is reported to the user. Window thread only.
class ResultLog
{
public:
    using Clock = std::function<std::time_t()>;
    static constexpr std::size_t kMaxQueuedLines = 10000;

    // An empty clock reads the system clock; an empty locker locks with flock.
    explicit ResultLog(std::string directory = ".", Clock clock = {},
        std::size_t maxQueuedLines = kMaxQueuedLines, FileLocker lock = {});
    // Makes one last attempt to write what waits.
    ~ResultLog();
    ResultLog(const ResultLog&) = delete;
    ResultLog& operator=(const ResultLog&) = delete;

    // Appends the line for a host's new result (-1: "N/A"), after the lines
    // that wait. Reads the clock once, for both the file and the line's time.
    void WriteResultLog(std::string_view name, std::int32_t result);

    // Writes what waits, as far as the files can be written now. True when
    // nothing waits any more.
    bool Flush();

    // The lines that wait, a cut line whose rest waits included.
    std::size_t QueuedLines() const { return queue_.size() + cutLines_.size(); }

private:
    struct Line
    {
        std::string file;
        std::string text;
        std::uint64_t droppedBefore = 0; // lines dropped just before this one
        std::tm localTime {};
    };

    // A write cut short whose part stays in the file: the file stays open, and
    // locked where it can be, so that no other writer appends behind the part,
    // until the rest of the line is written.
    struct CutLine
    {
        int fd = -1;
        std::string rest;
    };

    // The line as it goes into the file, the note on dropped lines included.
    static std::string Bytes(const Line& line);
    bool WriteFile(const std::string& file);
    void FinishCutLines();
    void KeepCutLine(const std::string& file, int fd, std::size_t written);
    void DropOldest();

    std::string directory_;
    Clock clock_;
    std::size_t maxQueuedLines_;
    FileLocker lock_;
    std::deque<Line> queue_;
    std::map<std::string, std::size_t> queuedPerFile_;
    // At most one per file: the file's next lines wait behind it.
    std::map<std::string, CutLine> cutLines_;
};
