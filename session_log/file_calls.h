#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

// The calls on files that the session log, the run report and the run page make, in each
// platform's own form (file_calls_posix.cpp, file_calls_windows.cpp; the build picks one).
// Files are plain descriptors on both, written as bytes and not inherited by other programs.
// A call that fails returns -1 (or what it says) with the reason in errno, as a system call does.
namespace file_calls {

// Appends to path, created when missing: the descriptor, or -1.
int openForAppend(const QString& path);
// A new file at path, failing when anything is there already, a link included (so that the
// target of a planted link is never written): the descriptor, or -1.
int createNew(const QString& path);
// Writes up to size bytes: how many went, or -1.
qsizetype writeSome(int fd, const char* data, qsizetype size);
int closeFile(int fd);
int truncateFile(int fd, std::int64_t size);
// The open file's size in bytes, or -1.
std::int64_t fileSize(int fd);
// Forces what was written to the disk.
int syncFile(int fd);
// Starts writing bytes [offset, offset + length) of the file to the disk, without waiting.
int startWriteback(int fd, std::int64_t offset, std::int64_t length);
// Waits until those bytes are on the disk and lets the system forget them, so that a file
// written at speed does not fill the memory with its pages. A write error found while waiting
// is returned here, and not again by syncFile().
int dropWritten(int fd, std::int64_t offset, std::int64_t length);
// The open file has no name any more: what is written to it is lost.
bool wasRemoved(int fd);

int removeFile(const QString& path);
// Renames from to to, replacing a file that is there, and sees the rename to the disk.
int replaceFile(const QString& from, const QString& to);

enum class Kind { Nothing, RegularFile, Other };
// What is at path, without following a link.
Kind kindAt(const QString& path);
// Names the file at path (after links) so that two paths to one file give the same text; empty
// when there is none.
QString identityOf(const QString& path);

// Why this platform would not take path as a file to write or read (a device name on Windows),
// for the person at the command line; empty when it would.
QString refusedPath(const QString& path);

// Writing past a file-size limit fails like a full disk instead of ending the program.
void keepWritingPastSizeLimit();

} // namespace file_calls
