#pragma once
// What the daemon says over MQTT, as values: the broker address from the command line,
// the topic names, the JSON of a code, the home-automation hub's device-trigger configs,
// the rule that turns an unnamed code into a trigger, the buffer of codes kept while the
// broker is unreachable and the pauses between connection attempts. No sockets and no
// clock here: the MQTT client (linux/mqtt_output.h) feeds these with its own time.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sfh56::daemon::mqtt {

using Clock = std::chrono::steady_clock;

inline constexpr int kPlainPort = 1883;
inline constexpr int kTlsPort = 8883;
inline constexpr char kDefaultTopicPrefix[] = "sfh56";
inline constexpr char kDefaultDiscoveryPrefix[] = "homeassistant";
inline constexpr char kOnline[] = "online";
inline constexpr char kOffline[] = "offline";

// The MQTT options of the command line and the config file, as given.
struct MqttOptions {
  std::string url;  // empty: no MQTT
  std::string password_file;
  std::string ca_file;
  std::string topic_prefix = kDefaultTopicPrefix;
  std::string device_id;  // empty: the host name
  std::string discovery_prefix = kDefaultDiscoveryPrefix;
  bool no_discovery = false;
};

// mqtt://[USER@]HOST[:PORT] or mqtts://[USER@]HOST[:PORT]; HOST may be an IPv6 address in
// brackets. A password in the address is refused: it would be visible in the process list.
struct BrokerAddress {
  bool tls = false;
  std::string user;  // empty: no login
  std::string host;
  int port = kPlainPort;
};

// The address, or nullopt with a one-line reason in error.
std::optional<BrokerAddress> ParseBrokerAddress(std::string_view text, std::string& error);

// The first line of a password file's contents, without its line end; nullopt with a reason
// when there is none.
std::optional<std::string> PasswordFromFile(std::string_view contents, std::string& error);

// A topic prefix may hold several levels ("home/ir") but no wildcard, no NUL, no empty level.
// A device id is one level. Empty result: valid; else the reason.
std::string CheckTopicPrefix(std::string_view what, std::string_view prefix);
std::string CheckTopicLevel(std::string_view what, std::string_view level);

struct Topics {
  std::string code;          // PREFIX/DEVICE/code
  std::string action;        // PREFIX/DEVICE/action
  std::string availability;  // PREFIX/DEVICE/availability
};
Topics MakeTopics(std::string_view prefix, std::string_view device_id);

// One decoded code as the outputs see it. name and remote are empty for a code the code
// map does not name.
struct Code {
  std::string code;
  unsigned repeat = 0;
  std::string name;
  std::string remote;
  bool shift_coded = false;
};

// {"code":"48B7","repeat":0,"name":"Power","remote":"tv","shift_coded":false}; an unnamed
// code has null name and remote.
std::string CodeJson(const Code& code);
// The trigger payload on the action topic: the name, or the code where unnamed.
std::string ActionText(const Code& code);

// A JSON string literal: quotes, backslashes and control characters escaped, bytes that are
// not UTF-8 replaced by U+FFFD, so that any name from a code map gives valid JSON.
std::string JsonString(std::string_view text);

struct Message {
  std::string topic;
  std::string payload;
  bool retain = false;
};

// Who publishes the triggers: one device of the hub per daemon.
struct DeviceInfo {
  std::string device_id;
  std::string sw_version;
  std::string discovery_prefix = kDefaultDiscoveryPrefix;
  std::string action_topic;
};

// The retained device-trigger config of one button (an action text): the hub fires the
// trigger when that text arrives on the action topic. An empty retained payload on the same
// topic removes the trigger.
Message DiscoveryConfig(const DeviceInfo& device, std::string_view action);
std::string DiscoveryTopic(const DeviceInfo& device, std::string_view action);

// An unnamed code becomes a trigger once it has come twice within a minute: a code seen
// once is most likely a flip in a noisy frame, not a button.
class UnnamedCodeRule {
 public:
  static constexpr std::chrono::seconds kWindow{60};
  static constexpr std::size_t kMaxTracked = 4096;

  // True exactly once per code: at the sighting that completes the pair.
  bool Seen(const std::string& code, Clock::time_point now);

 private:
  std::unordered_map<std::string, Clock::time_point> last_seen_;
  std::unordered_set<std::string> announced_;
};

// Codes kept while the broker is unreachable: at most kMaxCodes, none older than kMaxAge at
// the moment they can be sent. Each entry is one code's messages.
class OfflineBuffer {
 public:
  static constexpr std::size_t kMaxCodes = 100;
  static constexpr std::chrono::seconds kMaxAge{10};

  struct Entry {
    Clock::time_point when;  // when the code was decoded
    std::vector<Message> messages;
  };

  // Kept in the order of `when`, also for a code that comes back from a connection that
  // ended before the broker acknowledged it; beyond kMaxCodes the oldest is dropped.
  void Push(Clock::time_point when, std::vector<Message> messages);
  // The entries still young enough at now, oldest first; the buffer is empty afterwards.
  std::vector<Entry> Take(Clock::time_point now);
  std::size_t Size() const { return entries_.size(); }
  // Codes dropped (too many, or too old) since the last call.
  std::size_t TakeDropped();

 private:
  std::deque<Entry> entries_;
  std::size_t dropped_ = 0;
};

// What callers hand the output's thread: a code, or the code map's button names after a
// reload.
struct Pending {
  Clock::time_point when;
  std::optional<Code> code;
  std::optional<std::vector<std::string>> buttons;
};
// Queues item. A code that finds max items waiting pushes out the oldest code; a button
// list is never pushed out (the hub would miss triggers until the next reload), nor does it
// push out a code. True when a code was dropped.
bool PushPending(std::deque<Pending>& queue, Pending item, std::size_t max);

// The pause after `failures` failed connection attempts in a row: 1, 2, 4, 8, 16, then 30 s.
std::chrono::seconds ReconnectDelay(int failures);

}  // namespace sfh56::daemon::mqtt
