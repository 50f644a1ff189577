# A client of the IR-daemon socket: connects (retrying for 5 s), marks OUT.connected,
# then either copies every line to OUT until the daemon closes, or ("stuck") never reads.
# "stale PATH" leaves a socket file at PATH that nobody serves.
import socket, sys, time
mode, path = sys.argv[1], sys.argv[2]
s = socket.socket(socket.AF_UNIX)
if mode == "stale":
    s.bind(path)
    sys.exit(0)
out = sys.argv[3]
deadline = time.time() + 5
while True:
    try:
        s.connect(path)
        break
    except OSError:
        if time.time() > deadline:
            sys.exit("cannot connect to " + path)
        time.sleep(0.05)
open(out + ".connected", "w").close()
if mode == "stuck":
    time.sleep(60)
with open(out, "wb") as f:
    while True:
        data = s.recv(4096)
        if not data:
            break
        f.write(data)
        f.flush()
