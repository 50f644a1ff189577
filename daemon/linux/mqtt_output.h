#pragma once
// The MQTT output: every code goes to a broker (libmosquitto) as a JSON message and as
// the button's name on the action topic, the home-automation hub finds every button as a
// device trigger, and the broker sees the daemon as online or, through the will, offline.
//
// Capture never waits for the network: Publish() queues the code and wakes the output's
// own thread, which alone talks to libmosquitto (its socket in a poll loop with an eventfd).
// That thread connects, retries with growing pauses, keeps the codes of the last seconds
// while the broker is unreachable and sends them once it is back.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "daemon/code_output.h"
#include "daemon/mqtt_messages.h"

namespace sfh56::daemon {

struct MqttSettings {
  mqtt::BrokerAddress broker;
  std::optional<std::string> password;
  std::string ca_file;  // mqtts:// only; empty: the system's certificate store
  std::string topic_prefix = mqtt::kDefaultTopicPrefix;
  std::string device_id;
  std::string discovery_prefix = mqtt::kDefaultDiscoveryPrefix;
  bool discovery = true;
};

// The settings from the options: the address parsed, the password file read, the CA file
// checked, the device id defaulted to the host name. nullopt with a one-line reason in
// error when any of them is wrong.
std::optional<MqttSettings> MakeMqttSettings(const mqtt::MqttOptions& texts, std::string& error);

class MqttOutput : public CodeOutput {
 public:
  // Lines for the user (connected, lost, refused, dropped codes), one per event.
  using Log = std::function<void(const std::string&)>;

  // Starts the output's thread, which connects at once. `buttons` are the names of the
  // code map: each gets its trigger.
  MqttOutput(MqttSettings settings, std::vector<std::string> buttons, Log log = {});
  // Sends what is queued and "offline" if the broker is there, and disconnects; waits at
  // most 0.7 s, whatever the network does, so that the daemon ends within a second.
  ~MqttOutput() override;
  MqttOutput(const MqttOutput&) = delete;
  MqttOutput& operator=(const MqttOutput&) = delete;

  // Any thread; returns at once.
  void Publish(mqtt::Code code);
  // A code from the daemon: a name the code map does not give (CODE_<code> of the default
  // remote) is published as unnamed.
  void OnCode(const CodeEvent& event) override;
  // A reloaded code map: triggers for new names, removed ones withdrawn.
  void SetButtons(std::vector<std::string> buttons);

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace sfh56::daemon
