#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// One port's log file. Lines are appended whole; when the next line would take the file past
// its limit, the file is renamed to "<name>.1" (replacing the one before) and a new one begun,
// so a port never holds more than twice its limit on disk. A line longer than the limit on its
// own still goes into a file of its own.
//
// A write that fails part-way (disk full, file-size limit) is cut back to the last whole line,
// so the file never ends in half a line. The file is opened on the first write and again after
// a failure, so a directory that was unwritable for a while is used again once it can be; a
// directory that was deleted is made again.
//
// A busy file goes to the disk as it grows, a piece of kPieceBytes at a time, and its written
// pieces leave the memory: a log taking a hundred megabytes a second would otherwise fill the
// system's cache with pages nobody reads, and the work of keeping them slows the sweep it logs.
class LogFile {
public:
    LogFile(QString path, std::int64_t limit);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Appends lines (each ending in '\n') and returns how many bytes of them are in the file:
    // all of them, or the whole lines written before a failure (then error() says why).
    qsizetype append(QByteArrayView lines);
    // Forces what was written to the disk: 0, or the errno of the refusal (or of a failure found
    // while a piece went to the disk).
    int sync();
    void close();
    // The open file has no name any more (removed, or its directory deleted): what is written
    // to it is lost. After close(), the next append() begins a new file under the path.
    bool wasRemoved() const;

    QString path() const { return path_; }
    QString error() const { return error_; }

    static constexpr std::int64_t kPieceBytes = 1024 * 1024;

private:
    bool ensureOpen();
    bool rotate();
    qsizetype writeWhole(QByteArrayView bytes);
    void passToDisk();
    void fail(const QString& what, int errorNumber);

    QString path_;
    std::int64_t limit_;
    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t startedTo_ = 0; // pieces before it are on their way to the disk
    std::int64_t droppedTo_ = 0; // and before this, on it and out of the memory
    int diskError_ = 0;          // found while a piece went to the disk, told by sync()
    QString error_;
};
