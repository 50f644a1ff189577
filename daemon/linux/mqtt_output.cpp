#include "mqtt_output.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "common/identity.h"
#include "daemon/code_map.h"

namespace sfh56::daemon {

namespace {

using mqtt::Clock;

constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;
// Codes waiting for the output's thread. It takes them at once, so the bound only matters
// when that thread is stuck in a connection attempt (a slow DNS answer, a TLS handshake).
constexpr std::size_t kMaxQueued = 1000;
constexpr auto kStopWait = std::chrono::milliseconds(700);
constexpr auto kAckWait = std::chrono::milliseconds(500);
constexpr char kSystemCertificates[] = "/etc/ssl/certs";

std::once_flag library_initialised;

bool ReadWholeFile(const std::string& path, std::string& contents, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  contents.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

int Milliseconds(Clock::duration duration) {
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(duration).count();
  return ms < 0 ? 0 : ms > 60000 ? 60000 : static_cast<int>(ms);
}

}  // namespace

std::optional<MqttSettings> MakeMqttSettings(const mqtt::MqttOptions& texts, std::string& error) {
  MqttSettings settings;
  auto broker = mqtt::ParseBrokerAddress(texts.url, error);
  if (!broker) return std::nullopt;
  settings.broker = *broker;
  if (!texts.password_file.empty()) {
    if (settings.broker.user.empty()) {
      error = "a password needs a user name in the broker address: mqtt://USER@HOST";
      return std::nullopt;
    }
    std::string contents;
    if (!ReadWholeFile(texts.password_file, contents, error)) return std::nullopt;
    std::string reason;
    settings.password = mqtt::PasswordFromFile(contents, reason);
    if (!settings.password) {
      error = texts.password_file + ": " + reason;
      return std::nullopt;
    }
  }
  if (!texts.ca_file.empty()) {
    if (!settings.broker.tls) {
      error = "--mqtt-ca needs an mqtts:// broker address";
      return std::nullopt;
    }
    std::string contents;
    if (!ReadWholeFile(texts.ca_file, contents, error)) return std::nullopt;
    settings.ca_file = texts.ca_file;
  }
  settings.device_id = texts.device_id;
  if (settings.device_id.empty()) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
      error = "the host name is unknown: give --device-id";
      return std::nullopt;
    }
    settings.device_id = host;
  }
  for (const auto& reason :
       {mqtt::CheckTopicPrefix("--mqtt-prefix", texts.topic_prefix),
        mqtt::CheckTopicLevel("--device-id", settings.device_id),
        mqtt::CheckTopicPrefix("--discovery-prefix", texts.discovery_prefix)}) {
    if (!reason.empty()) {
      error = reason;
      return std::nullopt;
    }
  }
  settings.topic_prefix = texts.topic_prefix;
  settings.discovery_prefix = texts.discovery_prefix;
  settings.discovery = !texts.no_discovery;
  return settings;
}

struct MqttOutput::State {
  enum class Link { kIdle, kConnecting, kReady };

  MqttSettings settings;
  mqtt::Topics topics;
  mqtt::DeviceInfo device;
  std::string where;  // HOST:PORT for the user's lines
  int wake_fd = -1;

  std::mutex log_mutex;
  Log log;
  bool log_detached = false;

  // Shared with the callers of Publish() and the destructor.
  std::mutex mutex;
  std::deque<mqtt::Pending> queue;
  std::size_t queue_dropped = 0;
  bool stop = false;
  bool finished = false;
  std::condition_variable finished_changed;

  // The output thread's own.
  mosquitto* mosq = nullptr;
  Link link = Link::kIdle;
  bool just_connected = false;
  int failures = 0;
  Clock::time_point next_attempt{};
  std::string failure;           // why the current attempt or connection ended
  std::string reported_failure;  // the last failure told to the user
  std::string library_error;     // libmosquitto's last error line (TLS details)
  // Every message handed to the client until the broker acknowledges it, by message id. The
  // client of a connection that ended is thrown away with its queues: the code messages
  // among these go back to the offline buffer, to be sent again on the next connection.
  struct InFlight {
    uint64_t code_number = 0;  // 0: not a code (availability, a trigger), sent anew anyway
    Clock::time_point when;
    mqtt::Message message;
  };
  std::map<int, InFlight> in_flight;
  uint64_t codes_handled = 0;
  std::set<std::string> buttons;
  std::set<std::string> withdrawn;  // removed buttons whose triggers are still to be emptied
  std::set<std::string> unnamed_triggers;
  mqtt::UnnamedCodeRule unnamed_rule;
  mqtt::OfflineBuffer offline;

  ~State() {
    if (wake_fd >= 0) close(wake_fd);
  }

  void Say(const std::string& line) {
    std::lock_guard lock(log_mutex);
    if (log_detached) return;
    if (log) {
      log(line);
    } else {
      std::fprintf(stderr, "sfh56d: %s\n", line.c_str());
    }
  }

  void Wake() {
    uint64_t one = 1;
    // A full counter still wakes the thread; nothing to do on failure.
    [[maybe_unused]] auto written = write(wake_fd, &one, sizeof one);
  }

  std::string Describe(int rc, int error_number) {
    switch (rc) {
      case MOSQ_ERR_ERRNO:
        return std::strerror(error_number);
      case MOSQ_ERR_TLS:
        return "TLS failed" + (library_error.empty() ? "" : " (" + library_error + ")");
      case MOSQ_ERR_EAI:
        return "cannot resolve the host name";
      default: {
        std::string text = mosquitto_strerror(rc);
        if (text.ends_with('.')) text.pop_back();
        return text;
      }
    }
  }

  bool Send(const mqtt::Message& message, uint64_t code_number = 0, Clock::time_point when = {}) {
    int mid = 0;
    int rc = mosquitto_publish(mosq, &mid, message.topic.c_str(),
                               static_cast<int>(message.payload.size()), message.payload.data(),
                               kQos, message.retain);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    in_flight[mid] = {code_number, when, message};
    return true;
  }

  // Publishes one code's messages; what cannot be handed to the client is kept.
  void SendCode(uint64_t number, Clock::time_point when, std::vector<mqtt::Message> messages) {
    std::vector<mqtt::Message> unsent;
    for (auto& message : messages) {
      if (link != Link::kReady || !Send(message, number, when)) unsent.push_back(message);
    }
    if (!unsent.empty()) offline.Push(when, std::move(unsent));
  }

  void SendTrigger(const std::string& action) {
    if (settings.discovery) Send(mqtt::DiscoveryConfig(device, action));
  }

  void HandleCode(Clock::time_point when, const mqtt::Code& code) {
    std::vector<mqtt::Message> messages = {
        {topics.code, mqtt::CodeJson(code), false},
        {topics.action, mqtt::ActionText(code), false},
    };
    if (settings.discovery && code.name.empty() && unnamed_rule.Seen(code.code, when) &&
        unnamed_triggers.size() < mqtt::UnnamedCodeRule::kMaxTracked) {
      unnamed_triggers.insert(code.code);
      if (link == Link::kReady) SendTrigger(code.code);
    }
    SendCode(++codes_handled, when, std::move(messages));
  }

  void HandleButtons(std::vector<std::string> names) {
    std::set<std::string> fresh(names.begin(), names.end());
    for (const auto& name : buttons) {
      if (!fresh.contains(name)) withdrawn.insert(name);
    }
    for (const auto& name : fresh) withdrawn.erase(name);
    std::vector<std::string> added;
    for (const auto& name : fresh) {
      if (!buttons.contains(name)) added.push_back(name);
    }
    buttons = std::move(fresh);
    if (link != Link::kReady || !settings.discovery) return;
    for (const auto& name : withdrawn) Send({mqtt::DiscoveryTopic(device, name), "", true});
    withdrawn.clear();
    for (const auto& name : added) SendTrigger(name);
  }

  // Takes what callers queued; true once the output is to stop.
  bool Drain() {
    std::deque<mqtt::Pending> items;
    std::size_t dropped;
    bool stopping;
    {
      std::lock_guard lock(mutex);
      items.swap(queue);
      dropped = std::exchange(queue_dropped, 0);
      stopping = stop;
    }
    if (dropped > 0) {
      Say("mqtt: " + std::to_string(dropped) + " codes dropped while a connection attempt hung");
    }
    for (auto& item : items) {
      if (item.code) HandleCode(item.when, *item.code);
      if (item.buttons) HandleButtons(std::move(*item.buttons));
    }
    return stopping;
  }

  void Failed(const std::string& reason) {
    link = Link::kIdle;
    ++failures;
    auto pause = mqtt::ReconnectDelay(failures);
    next_attempt = Clock::now() + pause;
    if (reason != reported_failure) {
      Say("mqtt: " + reason + "; trying again in " + std::to_string(pause.count()) +
          " s, then at growing pauses up to 30 s");
      reported_failure = reason;
    }
  }

  // Each attempt has a client of its own: nothing of an earlier connection is sent twice
  // behind the output's back.
  void Attempt() {
    failure.clear();
    library_error.clear();
    std::string client_id = "sfh56d-" + settings.device_id;
    mosq = mosquitto_new(client_id.c_str(), true, this);
    if (!mosq) {
      Failed("cannot create the MQTT client: " + std::string(std::strerror(errno)));
      return;
    }
    std::string problem = Configure();
    if (!problem.empty()) {
      mosquitto_destroy(mosq);
      mosq = nullptr;
      Failed("cannot set up the MQTT client: " + problem);
      return;
    }
    int rc = mosquitto_connect(mosq, settings.broker.host.c_str(), settings.broker.port,
                               kKeepAliveSeconds);
    int error_number = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
      mosquitto_destroy(mosq);
      mosq = nullptr;
      Failed("cannot connect to the broker " + where + ": " + Describe(rc, error_number));
    } else {
      link = Link::kConnecting;
    }
  }

  // The broker accepted the connection: the daemon is online, its triggers are (again)
  // known, and the codes kept meanwhile go out, oldest first.
  void StartSession() {
    failures = 0;
    Say("mqtt: connected to the broker " + where + " as " + settings.device_id);
    reported_failure.clear();
    Send({topics.availability, mqtt::kOnline, true});
    if (settings.discovery) {
      for (const auto& name : withdrawn) Send({mqtt::DiscoveryTopic(device, name), "", true});
      withdrawn.clear();
      for (const auto& name : buttons) SendTrigger(name);
      for (const auto& code : unnamed_triggers) SendTrigger(code);
    }
    auto now = Clock::now();
    for (auto& kept : offline.Take(now)) {
      SendCode(++codes_handled, kept.when, std::move(kept.messages));
    }
    if (auto dropped = offline.TakeDropped(); dropped > 0) {
      Say("mqtt: " + std::to_string(dropped) +
          " codes were dropped while the broker was unreachable (only the last " +
          std::to_string(mqtt::OfflineBuffer::kMaxCodes) + " within " +
          std::to_string(mqtt::OfflineBuffer::kMaxAge.count()) + " s are kept)");
    }
  }

  // One round of the network loop: waits for the socket or a wake-up, at most timeout.
  void Service(Clock::duration timeout) {
    pollfd fds[2] = {{mosquitto_socket(mosq), POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (mosquitto_want_write(mosq)) fds[0].events |= POLLOUT;
    if (poll(fds, 2, Milliseconds(timeout)) < 0 && errno != EINTR) {
      fds[0].revents = POLLERR;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] auto got = read(wake_fd, &count, sizeof count);
    }
    // A TLS handshake that fails closes the socket without the disconnect callback: its
    // reason is only in the result.
    auto note = [&](int rc) {
      int error_number = errno;
      if (rc != MOSQ_ERR_SUCCESS && failure.empty()) failure = Describe(rc, error_number);
    };
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) note(mosquitto_loop_read(mosq, 1));
    if (mosquitto_socket(mosq) >= 0 && mosquitto_want_write(mosq)) {
      note(mosquitto_loop_write(mosq, 1));
    }
    if (mosquitto_socket(mosq) >= 0) note(mosquitto_loop_misc(mosq));
    if (just_connected) {
      just_connected = false;
      StartSession();
    }
  }

  void ConnectionEnded() {
    // Unacknowledged code messages, grouped back into their codes, in order.
    std::map<uint64_t, std::pair<Clock::time_point, std::vector<mqtt::Message>>> codes;
    for (auto& [mid, sent] : in_flight) {
      if (sent.code_number == 0) continue;
      auto& code = codes[sent.code_number];
      code.first = sent.when;
      code.second.push_back(std::move(sent.message));
    }
    in_flight.clear();
    for (auto& [number, code] : codes) offline.Push(code.first, std::move(code.second));
    mosquitto_destroy(mosq);
    mosq = nullptr;
    bool was_ready = link == Link::kReady;
    std::string reason = failure.empty() ? "the connection closed" : failure;
    if (was_ready) {
      Failed("lost the broker " + where + ": " + reason +
             "; keeping the codes of the last seconds until it is back");
    } else {
      Failed("cannot connect to the broker " + where + ": " + reason);
    }
  }

  void Shutdown() {
    if (link == Link::kReady) {
      Send({topics.availability, mqtt::kOffline, true});
      auto deadline = Clock::now() + kAckWait;
      while (!in_flight.empty() && mosquitto_socket(mosq) >= 0 && Clock::now() < deadline) {
        Service(deadline - Clock::now());
      }
      mosquitto_disconnect(mosq);
      if (mosquitto_socket(mosq) >= 0) mosquitto_loop_write(mosq, 1);
    }
    std::set<uint64_t> unacknowledged;
    for (const auto& [mid, sent] : in_flight) {
      if (sent.code_number != 0) unacknowledged.insert(sent.code_number);
    }
    if (auto lost = offline.Size() + unacknowledged.size(); lost > 0) {
      Say("mqtt: " + std::to_string(lost) + " codes not sent: the broker was unreachable at exit");
    }
  }

  // Empty, or why the client cannot be set up.
  std::string Configure() {
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = mosquitto_will_set(mosq, topics.availability.c_str(),
                                static_cast<int>(std::strlen(mqtt::kOffline)), mqtt::kOffline, kQos,
                                true);
    if (rc == MOSQ_ERR_SUCCESS && !settings.broker.user.empty()) {
      rc = mosquitto_username_pw_set(mosq, settings.broker.user.c_str(),
                                     settings.password ? settings.password->c_str() : nullptr);
    }
    if (rc == MOSQ_ERR_SUCCESS && settings.broker.tls) {
      rc = settings.ca_file.empty()
               ? mosquitto_tls_set(mosq, nullptr, kSystemCertificates, nullptr, nullptr, nullptr)
               : mosquitto_tls_set(mosq, settings.ca_file.c_str(), nullptr, nullptr, nullptr,
                                   nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) return Describe(rc, errno);
    mosquitto_connect_callback_set(mosq, [](mosquitto*, void* self, int result) {
      auto* state = static_cast<State*>(self);
      if (result == 0) {
        state->link = Link::kReady;
        state->just_connected = true;
      } else {
        state->failure =
            std::string("the broker refused the login: ") + mosquitto_connack_string(result);
        if (state->failure.ends_with('.')) state->failure.pop_back();
      }
    });
    mosquitto_disconnect_callback_set(mosq, [](mosquitto*, void* self, int result) {
      int error_number = errno;
      auto* state = static_cast<State*>(self);
      if (state->failure.empty() && result != 0) {
        state->failure = state->Describe(result, error_number);
      }
    });
    mosquitto_publish_callback_set(mosq, [](mosquitto*, void* self, int mid) {
      static_cast<State*>(self)->in_flight.erase(mid);
    });
    mosquitto_log_callback_set(mosq, [](mosquitto*, void* self, int level, const char* text) {
      if (level == MOSQ_LOG_ERR && text) static_cast<State*>(self)->library_error = text;
    });
    return {};
  }

  void Run() {
    // A write to a connection the broker closed raises SIGPIPE in this thread (OpenSSL does
    // not ask the kernel to spare it); blocked here it stays pending and harmless, whatever
    // the program does with the signal.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!Drain()) {
      if (link == Link::kIdle) {
        auto now = Clock::now();
        if (now >= next_attempt) {
          Attempt();
        } else {
          pollfd wake = {wake_fd, POLLIN, 0};
          if (poll(&wake, 1, Milliseconds(next_attempt - now)) > 0) {
            uint64_t count;
            [[maybe_unused]] auto got = read(wake_fd, &count, sizeof count);
          }
        }
        continue;
      }
      Service(link == Link::kReady ? std::chrono::seconds(kKeepAliveSeconds / 2)
                                   : std::chrono::seconds(1));
      if (mosquitto_socket(mosq) < 0) ConnectionEnded();
    }
    Drain();
    Shutdown();
    if (mosq) mosquitto_destroy(mosq);
    mosq = nullptr;
    std::lock_guard lock(mutex);
    finished = true;
    finished_changed.notify_all();
  }
};

MqttOutput::MqttOutput(MqttSettings settings, std::vector<std::string> buttons, Log log)
    : state_(std::make_shared<State>()) {
  std::call_once(library_initialised, [] { mosquitto_lib_init(); });
  auto& state = *state_;
  state.topics = mqtt::MakeTopics(settings.topic_prefix, settings.device_id);
  state.device.device_id = settings.device_id;
  state.device.sw_version = kPluginVersion;
  state.device.discovery_prefix = settings.discovery_prefix;
  state.device.action_topic = state.topics.action;
  bool ipv6 = settings.broker.host.find(':') != std::string::npos;
  state.where = (ipv6 ? "[" + settings.broker.host + "]" : settings.broker.host) + ":" +
                std::to_string(settings.broker.port);
  state.settings = std::move(settings);
  state.buttons.insert(buttons.begin(), buttons.end());
  state.log = std::move(log);
  state.wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state.wake_fd < 0) {
    state.Say("mqtt: cannot create an eventfd: " + std::string(std::strerror(errno)));
    state.finished = true;
    return;
  }
  // The thread holds the state too: should it still hang in a connection attempt when the
  // output is destroyed, it is let go and finishes on its own.
  thread_ = std::thread([state = state_] { state->Run(); });
}

MqttOutput::~MqttOutput() {
  std::unique_lock lock(state_->mutex);
  state_->stop = true;
  state_->Wake();
  bool finished =
      state_->finished_changed.wait_for(lock, kStopWait, [&] { return state_->finished; });
  lock.unlock();
  if (!thread_.joinable()) return;
  if (finished) {
    thread_.join();
  } else {
    std::lock_guard log_lock(state_->log_mutex);
    state_->log_detached = true;
    thread_.detach();
  }
}

void MqttOutput::Publish(mqtt::Code code) {
  auto when = Clock::now();
  {
    std::lock_guard lock(state_->mutex);
    if (state_->finished) return;
    if (mqtt::PushPending(state_->queue, {when, std::move(code), std::nullopt}, kMaxQueued)) {
      ++state_->queue_dropped;
    }
  }
  state_->Wake();
}

void MqttOutput::OnCode(const CodeEvent& event) {
  mqtt::Code code{event.code, static_cast<unsigned>(event.repeat), event.name, event.remote,
                  event.shift_coded};
  if (event.name == "CODE_" + event.code && event.remote == kDefaultRemote) {
    code.name.clear();
    code.remote.clear();
  }
  Publish(std::move(code));
}

void MqttOutput::SetButtons(std::vector<std::string> buttons) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->finished) return;
    mqtt::PushPending(state_->queue, {Clock::now(), std::nullopt, std::move(buttons)}, kMaxQueued);
  }
  state_->Wake();
}

}  // namespace sfh56::daemon
