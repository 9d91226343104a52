#include "textio/record_input.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "textio/messages.hpp"

namespace quarn {
namespace {

constexpr std::size_t kFirstChunkSize = 64 * 1024;
constexpr char kCtrlZ = 26;

// Makes room behind the unread bytes: moves them to the front, and doubles the
// buffer when they fill it (a record longer than the buffer). False when no
// memory is to be had for that.
bool MakeRoom(Channel& channel) {
  InputBuffer& in = channel.input;
  const std::size_t unread = in.end - in.begin;
  if (in.begin > 0) {
    std::memmove(in.data.get(), in.data.get() + in.begin, unread);
    in.begin = 0;
    in.end = unread;
  }
  if (in.end < in.capacity) return true;
  const std::size_t capacity = in.capacity == 0 ? kFirstChunkSize : in.capacity * 2;
  if (capacity > in.capacity_limit) return false;
  char* grown = new (std::nothrow) char[capacity];
  if (grown == nullptr) return false;
  if (unread > 0) std::memcpy(grown, in.data.get(), unread);
  in.data.reset(grown);
  in.capacity = capacity;
  return true;
}

// Reads the next chunk behind the unread bytes: kRecord when it got some,
// kEndOfFile once the file is exhausted.
RecordResult ReadChunk(Channel& channel, IoError& error) {
  InputBuffer& in = channel.input;
  if (in.file_exhausted) return RecordResult::kEndOfFile;
  if (!MakeRoom(channel)) {
    error = {kMsgRecordTooLong, 0};
    return RecordResult::kFailed;
  }
  ssize_t count;
  do {
    count = ::read(channel.fd, in.data.get() + in.end, in.capacity - in.end);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    error = {kMsgReadError, errno};
    return RecordResult::kFailed;
  }
  if (count == 0) {
    in.file_exhausted = true;
    return RecordResult::kEndOfFile;
  }
  in.end += static_cast<std::size_t>(count);
  return RecordResult::kRecord;
}

}  // namespace

RecordResult NextRecord(Channel& channel, std::string_view& record, IoError& error) {
  InputBuffer& in = channel.input;
  std::size_t searched = in.begin;
  for (;;) {
    const char* base = in.data.get();
    const void* lf =
        in.end > searched ? std::memchr(base + searched, '\n', in.end - searched) : nullptr;
    std::size_t record_end;
    if (lf != nullptr) {
      record_end = static_cast<std::size_t>(static_cast<const char*>(lf) - base);
    } else {
      const std::size_t searched_bytes = in.end - in.begin;
      const RecordResult chunk = ReadChunk(channel, error);
      if (chunk == RecordResult::kFailed) return chunk;
      if (chunk == RecordResult::kRecord) {
        searched = in.begin + searched_bytes;  // the buffer may have moved
        continue;
      }
      if (in.begin == in.end) return RecordResult::kEndOfFile;
      record_end = in.end;  // a last line without a line end
    }
    const char* start = in.data.get() + in.begin;
    std::size_t length = record_end - in.begin;
    in.begin = record_end < in.end ? record_end + 1 : record_end;
    ++in.records_taken;
    if (length > 0 && start[length - 1] == '\r') --length;
    record = std::string_view(start, length);
    return length == 1 && start[0] == kCtrlZ ? RecordResult::kEndOfFile : RecordResult::kRecord;
  }
}

}  // namespace quarn
