#pragma once
// A data-center file opened for reading: one open and one fstat per file. Only regular
// files are read: a directory or a FIFO in a file's place is an error (opening never blocks
// on a FIFO), and reads go straight into the result without zero-filling a buffer first.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace candlex {

// Identifies one version of a file: modification time and size.
struct FileStamp {
  std::int64_t mtime_ns = 0;
  std::uint64_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

// Bytes read from a file, in storage that read(2) fills without zero-filling it first.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(std::unique_ptr<char[]> data, std::size_t size) : data_(std::move(data)), size_(size) {}
  std::string_view view() const { return {data_.get(), size_}; }
  std::size_t size() const { return size_; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

class DataFile {
 public:
  // The open file, or nullopt when `path` does not exist (nor a directory on its way). `source`
  // names the file in errors. Throws std::runtime_error "<source>: not a regular file (a
  // directory)" (or a FIFO, ...) and "<source>: cannot open: <reason>".
  static std::optional<DataFile> open(const std::filesystem::path& path, std::string source);

  DataFile(DataFile&& other) noexcept;
  DataFile& operator=(DataFile&&) = delete;
  DataFile(const DataFile&) = delete;
  ~DataFile();

  const FileStamp& stamp() const { return stamp_; }
  std::uint64_t size() const { return stamp_.size; }
  const std::string& source() const { return source_; }

  // The whole file (read on to the end if it has grown since it was opened).
  FileBytes read_all() const;
  // `length` bytes from `offset` (fewer at the end of the file).
  FileBytes read_range(std::uint64_t offset, std::size_t length) const;

 private:
  // Up to `length` bytes at `offset` into `buffer`; fewer only at the end of the file.
  std::size_t read_into(char* buffer, std::size_t length, std::uint64_t offset) const;

  DataFile(int fd, FileStamp stamp, std::string source)
      : fd_(fd), stamp_(stamp), source_(std::move(source)) {}

  int fd_ = -1;
  FileStamp stamp_;
  std::string source_;
};

}  // namespace candlex
