// Base64 packets of Wi-Fi IR blasters, as home-automation hubs store them ("JgBQAAAB..."):
// 0x26 (infrared), a repeat count, the length of the durations (16 bits, little-endian),
// then one byte per duration in units of 269/8192 ms; a zero byte announces a longer
// duration in the next two bytes, big-endian. Durations alternate from a mark. What
// follows the length (an end marker, zero padding) is not part of the signal.

#include "tools/ir_input_internal.h"

namespace sfh56::tools {
namespace {

constexpr double kUnitUs = 269.0 * 1000.0 / 8192.0;

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

bool IsBase64Char(char c) {
  return Base64Value(c) >= 0 || c == '=';
}

// The packet on a line: a run of base64 characters that starts with "Jg" (0x26 encoded),
// alone or in quotes after a name ("power": "JgB...", power=JgB...). before is the rest.
std::string_view PacketToken(std::string_view line, std::string_view* before = nullptr) {
  for (size_t at = line.find("Jg"); at != std::string_view::npos; at = line.find("Jg", at + 1)) {
    if (at > 0 && IsBase64Char(line[at - 1])) continue;
    size_t end = at;
    while (end < line.size() && IsBase64Char(line[end])) ++end;
    if (before != nullptr) *before = line.substr(0, at);
    return line.substr(at, end - at);
  }
  return {};
}

// Decodes base64, padding optional; false when a character is not base64 or a group is cut.
bool DecodeBase64(std::string_view token, std::vector<uint8_t>& bytes) {
  while (!token.empty() && token.back() == '=') token.remove_suffix(1);
  if (token.size() % 4 == 1) return false;
  uint32_t bits = 0;
  int count = 0;
  for (char c : token) {
    const int value = Base64Value(c);
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<uint8_t>(bits >> count));
    }
  }
  return true;
}

std::string NameBefore(std::string_view before, int number) {
  const size_t end = before.find_last_not_of(" \t\"':=,");
  before = before.substr(0, end == std::string_view::npos ? 0 : end + 1);
  const size_t start = before.find_last_of(" \t\"',{");
  if (start != std::string_view::npos) before.remove_prefix(start + 1);
  return before.empty() ? "line " + std::to_string(number) : std::string(before);
}

// The durations of a decoded packet, or an error that names what is wrong with it.
bool PacketDurations(const std::vector<uint8_t>& bytes, std::vector<double>& durations,
                     std::string& error) {
  if (bytes.size() < 4) {
    error = "the packet ends in its 4-byte header";
    return false;
  }
  const size_t length = bytes[2] | static_cast<size_t>(bytes[3]) << 8;
  if (4 + length > bytes.size()) {
    error = "the packet is cut off: its header announces " + std::to_string(length) +
            " bytes of durations, " + std::to_string(bytes.size() - 4) + " follow";
    return false;
  }
  for (size_t i = 4; i < 4 + length; ++i) {
    uint32_t units = bytes[i];
    if (units == 0) {
      if (i + 2 >= 4 + length) {
        error = "byte " + std::to_string(i) + ": a long duration cut off by the length";
        return false;
      }
      units = static_cast<uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
      i += 2;
    }
    const double us = units * kUnitUs;
    if (!text::CheckDuration(us, error)) {
      error = "byte " + std::to_string(i) + ": " + error;
      return false;
    }
    durations.push_back(us);
  }
  if (durations.empty()) {
    error = "the packet holds no durations";
    return false;
  }
  if (durations.size() % 2 == 0) durations.pop_back();  // the gap after the last mark
  return true;
}

}  // namespace

bool IsIrPacketLine(std::string_view line) {
  return PacketToken(line).size() >= 8;
}

ParsedInput ReadIrPacket(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  text::ForEachLine(body, [&](int number, std::string_view line) {
    std::string_view before;
    const std::string_view token = PacketToken(line, &before);
    if (token.empty()) return;  // names, brackets and braces around the packets
    Recording recording{NameBefore(before, number), {}, number};
    std::vector<uint8_t> bytes;
    std::string error;
    if (!DecodeBase64(token, bytes)) {
      out.errors.push_back({number, "packet " + text::Quoted(token) + " is not base64"});
    } else if (!PacketDurations(bytes, recording.durations_us, error)) {
      out.errors.push_back({number, error});
    } else {
      out.recordings.push_back(std::move(recording));
    }
  });
  return out;
}

}  // namespace sfh56::tools
