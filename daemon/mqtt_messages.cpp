#include "mqtt_messages.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace sfh56::daemon::mqtt {

namespace {

constexpr char kDeviceModel[] = "SFH-56 infrared receiver";

bool ParsePort(std::string_view digits, int& port) {
  if (digits.empty() || digits.size() > 5) return false;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

// The hub accepts only these characters in the node and object ids of a discovery topic.
std::string IdText(std::string_view text) {
  std::string id;
  for (unsigned char c : text) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '_';
    id += keep ? static_cast<char>(c) : '_';
  }
  return id;
}

// Two names that differ only in characters the ids cannot hold ("Vol+", "Vol-") must still
// give two topics: the object id carries a hash of the exact name.
uint32_t Fnv1a(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not valid UTF-8
// (overlong forms, surrogates and values beyond U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  std::size_t length;
  uint32_t value;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF) return 0;
  if (value >= 0xD800 && value <= 0xDFFF) return 0;
  return length;
}

}  // namespace

std::optional<BrokerAddress> ParseBrokerAddress(std::string_view text, std::string& error) {
  BrokerAddress address;
  std::string_view rest;
  if (text.starts_with("mqtt://")) {
    rest = text.substr(7);
  } else if (text.starts_with("mqtts://")) {
    rest = text.substr(8);
    address.tls = true;
    address.port = kTlsPort;
  } else {
    error = "the broker address must start with mqtt:// or mqtts://";
    return std::nullopt;
  }
  if (rest.find_first_of("/?#") != std::string_view::npos) {
    error = "the broker address takes no path: mqtt://[USER@]HOST[:PORT]";
    return std::nullopt;
  }
  if (auto at = rest.rfind('@'); at != std::string_view::npos) {
    std::string_view user = rest.substr(0, at);
    if (user.find(':') != std::string_view::npos) {
      error = "no password in the broker address: give it with --mqtt-password-file";
      return std::nullopt;
    }
    if (user.empty()) {
      error = "the broker address has an empty user name before '@'";
      return std::nullopt;
    }
    address.user = std::string(user);
    rest = rest.substr(at + 1);
  }
  std::string_view host = rest;
  std::string_view port;
  if (rest.starts_with('[')) {
    auto close = rest.find(']');
    if (close == std::string_view::npos) {
      error = "the broker address has an IPv6 host without its closing ']'";
      return std::nullopt;
    }
    host = rest.substr(1, close - 1);
    std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') {
        error = "unexpected text after the broker's IPv6 address";
        return std::nullopt;
      }
      port = after.substr(1);
      if (port.empty()) port = "x";  // "host:" with no number is as wrong as a bad number
    }
  } else if (auto colon = rest.find(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (port.empty()) port = "x";
  }
  if (host.empty()) {
    error = "the broker address has no host";
    return std::nullopt;
  }
  if (!port.empty() && !ParsePort(port, address.port)) {
    error = "the broker's port must be a number from 1 to 65535";
    return std::nullopt;
  }
  address.host = std::string(host);
  return address;
}

std::optional<std::string> PasswordFromFile(std::string_view contents, std::string& error) {
  std::string_view line = contents.substr(0, contents.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty()) {
    error = "the password file's first line is empty";
    return std::nullopt;
  }
  if (line.find('\0') != std::string_view::npos) {
    error = "the password file holds a NUL byte";
    return std::nullopt;
  }
  return std::string(line);
}

std::string CheckTopicPrefix(std::string_view what, std::string_view prefix) {
  if (prefix.empty()) return std::string(what) + " is empty";
  if (prefix.find_first_of(std::string_view("+#\0", 3)) != std::string_view::npos) {
    return std::string(what) + " must not contain '+', '#' or a NUL byte";
  }
  if (prefix.front() == '/' || prefix.back() == '/' ||
      prefix.find("//") != std::string_view::npos) {
    return std::string(what) + " has an empty topic level";
  }
  return {};
}

std::string CheckTopicLevel(std::string_view what, std::string_view level) {
  if (level.find('/') != std::string_view::npos) {
    return std::string(what) + " must not contain '/'";
  }
  return CheckTopicPrefix(what, level);
}

Topics MakeTopics(std::string_view prefix, std::string_view device_id) {
  std::string base = std::string(prefix) + "/" + std::string(device_id) + "/";
  return {base + "code", base + "action", base + "availability"};
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out + "\"";
}

std::string CodeJson(const Code& code) {
  bool named = !code.name.empty();
  return "{\"code\":" + JsonString(code.code) + ",\"repeat\":" + std::to_string(code.repeat) +
         ",\"name\":" + (named ? JsonString(code.name) : "null") +
         ",\"remote\":" + (named ? JsonString(code.remote) : "null") +
         ",\"shift_coded\":" + (code.shift_coded ? "true" : "false") + "}";
}

std::string ActionText(const Code& code) {
  return code.name.empty() ? code.code : code.name;
}

std::string DiscoveryTopic(const DeviceInfo& device, std::string_view action) {
  char hash[12];
  std::snprintf(hash, sizeof hash, "_%08x", static_cast<unsigned>(Fnv1a(action)));
  return device.discovery_prefix + "/device_automation/" + IdText(device.device_id) + "/" +
         IdText(action) + hash + "/config";
}

Message DiscoveryConfig(const DeviceInfo& device, std::string_view action) {
  std::string payload =
      "{\"automation_type\":\"trigger\",\"type\":\"button_short_press\",\"subtype\":" +
      JsonString(action) + ",\"topic\":" + JsonString(device.action_topic) +
      ",\"payload\":" + JsonString(action) + ",\"device\":{\"identifiers\":[" +
      JsonString("sfh56d_" + device.device_id) +
      "],\"name\":" + JsonString("sfh56d " + device.device_id) +
      ",\"model\":" + JsonString(kDeviceModel) +
      ",\"sw_version\":" + JsonString(device.sw_version) + "}}";
  return {DiscoveryTopic(device, action), payload, true};
}

bool UnnamedCodeRule::Seen(const std::string& code, Clock::time_point now) {
  if (announced_.contains(code)) return false;
  auto last = last_seen_.find(code);
  if (last != last_seen_.end() && now - last->second <= kWindow) {
    last_seen_.erase(last);
    if (announced_.size() < kMaxTracked) announced_.insert(code);
    return true;
  }
  // A flood of different one-off codes (a noisy receiver) must not grow memory without end:
  // forget the sightings that can no longer complete a pair, then the oldest ones.
  if (last_seen_.size() >= kMaxTracked) {
    std::erase_if(last_seen_, [&](const auto& entry) { return now - entry.second > kWindow; });
    if (last_seen_.size() >= kMaxTracked) {
      std::vector<Clock::time_point> times;
      for (const auto& entry : last_seen_) times.push_back(entry.second);
      auto quarter = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 4);
      std::nth_element(times.begin(), quarter, times.end());
      Clock::time_point limit = *quarter;
      std::erase_if(last_seen_, [&](const auto& entry) { return entry.second <= limit; });
    }
  }
  last_seen_[code] = now;
  return false;
}

void OfflineBuffer::Push(Clock::time_point when, std::vector<Message> messages) {
  auto later = std::upper_bound(entries_.begin(), entries_.end(), when,
                                [](Clock::time_point t, const Entry& e) { return t < e.when; });
  entries_.insert(later, {when, std::move(messages)});
  if (entries_.size() > kMaxCodes) {
    entries_.pop_front();
    ++dropped_;
  }
}

std::vector<OfflineBuffer::Entry> OfflineBuffer::Take(Clock::time_point now) {
  std::vector<Entry> fresh;
  for (auto& entry : entries_) {
    if (now - entry.when <= kMaxAge) {
      fresh.push_back(std::move(entry));
    } else {
      ++dropped_;
    }
  }
  entries_.clear();
  return fresh;
}

std::size_t OfflineBuffer::TakeDropped() {
  return std::exchange(dropped_, 0);
}

bool PushPending(std::deque<Pending>& queue, Pending item, std::size_t max) {
  bool dropped = false;
  if (item.code && queue.size() >= max) {
    const auto oldest = std::find_if(queue.begin(), queue.end(),
                                     [](const Pending& waiting) { return waiting.code; });
    if (oldest != queue.end()) {
      queue.erase(oldest);
      dropped = true;
    }
  }
  queue.push_back(std::move(item));
  return dropped;
}

std::chrono::seconds ReconnectDelay(int failures) {
  constexpr std::chrono::seconds kLongest{30};
  if (failures <= 1) return std::chrono::seconds{1};
  if (failures > 6) return kLongest;
  return std::min(kLongest, std::chrono::seconds{1 << (failures - 1)});
}

}  // namespace sfh56::daemon::mqtt
