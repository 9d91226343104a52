#include "textio/channel.hpp"

#include <unistd.h>

#include <vector>

namespace quarn {
namespace {

std::vector<std::unique_ptr<Channel>>& Table() {
  static std::vector<std::unique_ptr<Channel>> table;
  return table;
}

Channel* FindChannel(int unit) {
  for (auto& channel : Table()) {
    if (channel->unit == unit) return channel.get();
  }
  return nullptr;
}

}  // namespace

Channel& ChannelOfUnit(int unit) {
  if (Channel* existing = FindChannel(unit)) return *existing;
  auto channel = std::make_unique<Channel>();
  channel->unit = unit;
  Table().push_back(std::move(channel));
  return *Table().back();
}

Channel& ConsoleChannel() {
  Channel& console = ChannelOfUnit(kConsoleUnit);
  if (!console.is_console) {
    console.is_console = true;
    console.fd = STDOUT_FILENO;
    console.full_path = kConsolePath;
  }
  return console;
}

std::string_view PathOfUnit(int unit) {
  if (unit == kConsoleUnit) return kConsolePath;
  const Channel* channel = FindChannel(unit);
  return channel ? std::string_view(channel->full_path) : std::string_view();
}

void LoadInput(Channel& channel, std::string_view bytes) {
  InputBuffer& in = channel.input;
  in = InputBuffer{};
  in.capacity = bytes.size() + 1;
  in.data = std::make_unique<char[]>(in.capacity);
  bytes.copy(in.data.get(), bytes.size());
  in.end = bytes.size();
  in.file_exhausted = true;
}

void CloseAllChannels() {
  for (auto& channel : Table()) {
    if (!channel->is_console && channel->fd >= 0) {
      ::close(channel->fd);
      channel->fd = -1;
    }
  }
}

}  // namespace quarn
