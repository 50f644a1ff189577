#!/usr/bin/env python3
"""sfh56d against a real broker: Debian's mosquitto, started here on 127.0.0.1 at a free
port with a config of its own, and a persistent subscriber (mosquitto_sub).

1. A daemon waiting on its standard input is connected (online, a trigger per button of
   the code map), then killed with SIGKILL: the broker gives its will, "offline".
2. A daemon replays recorded presses as fast as it can: every code irdecode gives arrives
   once, in order, as a pair of messages (JSON on .../code, the name or code on .../action);
   unnamed codes that came twice get a trigger, codes that came once do not; the daemon's
   end leaves "offline".
3. A daemon replays them in real time, and mid-replay the broker is stopped and started
   again: every code the daemon printed arrives, once and in order.

With --latency the third run keeps the broker and prints the median delay from the
daemon's output line of a code to its message at the subscriber (a benchmark, not a
pass/fail check).
"""
import argparse, json, os, signal, socket, subprocess, sys, tempfile, threading, time

DEVICE = "e2e"
PREFIX = "sfh56/" + DEVICE
TIMEOUT_S = 30
started = []  # every child, killed at the end whatever happened


def spawn(*args, **kwargs):
    started.append(subprocess.Popen(*args, **kwargs))
    return started[-1]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    def __init__(self, binary, folder):
        self.binary, self.port, self.proc = binary, free_port(), None
        self.config = os.path.join(folder, "mosquitto.conf")
        with open(self.config, "w") as f:
            # Persistence keeps the subscriber's session (and its queued messages) over a restart.
            f.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\n"
                    f"persistence true\npersistence_location {folder}/\n")
            if os.geteuid() == 0:
                f.write("user root\n")  # else it would drop to a user that cannot write folder
        self.log = open(os.path.join(folder, "broker.log"), "a")

    def start(self):
        self.proc = spawn([self.binary, "-c", self.config], stdout=self.log,
                                     stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        sys.exit("the broker did not start; see broker.log")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Subscriber:
    """Every message on the daemon's topics and the hub's, with its arrival time."""

    def __init__(self, binary, port):
        self.messages, self.lock = [], threading.Condition()
        self.proc = spawn(
            [binary, "-h", "127.0.0.1", "-p", str(port), "-c", "-i", "e2e-subscriber", "-q", "1",
             "-F", "%r\t%t\t%p", "-t", PREFIX + "/#", "-t", "homeassistant/#"],
            stdout=subprocess.PIPE, text=True, bufsize=1)
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.proc.stdout:
            retained, topic, payload = line.rstrip("\n").split("\t", 2)
            with self.lock:
                self.messages.append((time.monotonic_ns(), retained == "1", topic, payload))
                self.lock.notify_all()

    def wait_for(self, what, condition):
        with self.lock:
            if not self.lock.wait_for(lambda: condition(self.messages), TIMEOUT_S):
                sys.exit(f"timed out waiting for {what}; received:\n" +
                         "\n".join(f"  {m[2]} {m[3]}" for m in self.messages))

    def take(self):
        with self.lock:
            taken, self.messages = self.messages, []
            return taken


def on(topic, messages):
    return [m for m in messages if m[2] == topic]


def expected_codes(irdecode, recording):
    out = subprocess.run([irdecode, "--decoder", "stable", "--tsv", recording], capture_output=True, text=True,
                         check=True).stdout
    return [c for line in out.splitlines() for c in line.split("\t")[-1].split(" ")
            if c not in ("-", '""', "")]


def check(condition, text):
    if not condition:
        sys.exit("FAILED: " + text)


def main():
    parser = argparse.ArgumentParser()
    for name in ("daemon", "irdecode", "mosquitto", "mosquitto-sub", "recording"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--presses", type=int, default=24)
    parser.add_argument("--latency", action="store_true")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="sfh56-mqtt-")
    recording = os.path.join(folder, "presses.tsv")
    with open(args.recording) as source, open(recording, "w") as f:
        f.writelines(source.readlines()[:args.presses])
    codes = expected_codes(args.irdecode, recording)
    distinct = list(dict.fromkeys(codes))
    named = {code: f"Button{i}" for i, code in enumerate(distinct[: len(distinct) // 2])}
    code_map = os.path.join(folder, "codes.txt")
    with open(code_map, "w") as f:
        f.writelines(f"{code} {name} e2e-remote\n" for code, name in named.items())

    broker = Broker(args.mosquitto, folder)
    broker.start()
    sub = Subscriber(args.mosquitto_sub, broker.port)
    daemon = [args.daemon, "--codes", code_map, "--mqtt", f"mqtt://127.0.0.1:{broker.port}",
              "--device-id", DEVICE]
    configs = lambda ms: {m[2]: m[3] for m in ms if m[2].startswith("homeassistant/")}

    # 1. SIGKILL: the will.
    waiting = spawn(daemon + ["--source", "replay:-", "--quiet"], stdin=subprocess.PIPE)
    sub.wait_for("online", lambda ms: [m[3] for m in on(PREFIX + "/availability", ms)][-1:] == ["online"])
    sub.wait_for("the triggers", lambda ms: len(configs(ms)) == len(named))
    for payload in configs(sub.messages).values():
        config = json.loads(payload)
        check(config["automation_type"] == "trigger" and config["type"] == "button_short_press"
              and config["topic"] == PREFIX + "/action" and config["payload"] == config["subtype"]
              and config["subtype"] in named.values() and config["device"]["name"], payload)
    waiting.kill()
    waiting.wait()
    sub.wait_for("offline", lambda ms: [m[3] for m in on(PREFIX + "/availability", ms)][-1:] == ["offline"])
    sub.take()

    service_log = os.path.join(folder, "service.log")

    def replay(fast, restart):
        """One replay of the recording; the messages it gave and the codes it printed."""
        proc = spawn(daemon + ["--source", "replay:" + recording] +
                     (["--fast", "--service-log", service_log] if fast else []),
                     stdout=subprocess.PIPE, text=True)
        printed = []  # (arrival, code) of the daemon's output lines
        reader = threading.Thread(
            target=lambda: printed.extend((time.monotonic_ns(), l.split()[0]) for l in proc.stdout))
        reader.start()
        during_restart = 0
        if restart:
            sub.wait_for("a third of the codes", lambda ms: len(on(PREFIX + "/code", ms)) >= len(codes) // 3)
            broker.stop()
            stopped_at = len(printed)
            time.sleep(2)
            during_restart = len(printed) - stopped_at
            check(during_restart > 0, "no code was decoded while the broker was down")
            broker.start()
        check(proc.wait(10 * TIMEOUT_S) == 0, "the replay failed")
        reader.join()
        decoded = [code for _, code in printed]
        sub.wait_for("every code", lambda ms: len(on(PREFIX + "/code", ms)) >= len(decoded))
        sub.wait_for("offline", lambda ms: [m[3] for m in on(PREFIX + "/availability", ms)][-1:] == ["offline"])
        time.sleep(0.3)  # any duplicate would arrive now
        messages = sub.take()
        published, actions = arrived(messages, PREFIX + "/code"), arrived(messages, PREFIX + "/action")
        got = [json.loads(p) for p in published]
        check([g["code"] for g in got] == decoded, f"published {[g['code'] for g in got]}, decoded {decoded}")
        check(not any(m[1] for m in on(PREFIX + "/code", messages)), "a code message was retained")
        check(len(actions) == len(decoded), f"{len(actions)} actions for {len(decoded)} codes")
        for g, action in zip(got, actions):
            check(g["name"] == named.get(g["code"]) and action == named.get(g["code"], g["code"]),
                  f"{g} with action {action}")
        states = [m[3] for m in on(PREFIX + "/availability", messages)]
        if restart:
            check("online" in states[states.index("offline"):], f"not online again: {states}")
        return messages, decoded, printed, during_restart, got

    # 2. As fast as possible: the codes are irdecode's; the triggers of unnamed codes.
    messages, decoded, _, _, got = replay(fast=True, restart=False)
    check(decoded == codes, f"the daemon decoded {decoded}, irdecode gives {codes}")
    with open(service_log) as f:  # "Code= 48B7;  ShiftCoded=TRUE ; 1.15"
        logged = {l.split()[1].rstrip(";") for l in f if l.startswith("Code=") and "=TRUE" in l}
    check(logged and logged == {g["code"] for g in got if g["shift_coded"]},
          f"shift_coded differs from the service log's ShiftCoded=TRUE codes {logged}")
    unnamed_twice = {c for c in codes if c not in named and codes.count(c) >= 2}
    triggers = {json.loads(p)["payload"] for p in configs(messages).values() if p}
    check(unnamed_twice <= triggers, f"no trigger for {unnamed_twice - triggers}")
    check(not (set(codes) - set(named) - unnamed_twice) & triggers,
          "a trigger for a code seen only once")

    # 3. In real time, the broker restarted in the middle (not when measuring the latency).
    messages, decoded, printed, during_restart, _ = replay(fast=False, restart=not args.latency)
    sub.proc.terminate()
    broker.stop()
    print(f"{len(codes)} codes, {len(named)} named, {len(unnamed_twice)} unnamed triggers; "
          f"{during_restart} codes decoded while the broker restarted, none lost")
    if args.latency:
        arrivals = [m[0] for m in on(PREFIX + "/code", messages)]
        delays = sorted((a - p[0]) / 1e6 for a, p in zip(arrivals, printed))
        print(f"latency, daemon's output line to subscriber: median {delays[len(delays) // 2]:.3f}"
              f" ms, max {delays[-1]:.3f} ms over {len(delays)} codes")


def arrived(messages, topic):
    """The payloads on topic. QoS 1 is "at least once": a message in flight when the broker
    stopped may come again after the restart, right after the "online" that follows the
    will's "offline"; such a repetition is left out."""
    split = next((i for i, m in enumerate(messages) if m[3] == "offline"), len(messages))
    resumed = next((i for i, m in enumerate(messages) if i > split and m[3] == "online"), split)
    before = [m[3] for m in on(topic, messages[:split])]
    after = [m[3] for m in on(topic, messages[resumed:])]
    for k in range(min(len(before), len(after), 20), 0, -1):
        if after[:k] == before[-k:]:
            return before + after[k:]
    return before + after


if __name__ == "__main__":
    try:
        main()
    finally:
        for child in started:
            if child.poll() is None:
                child.kill()
