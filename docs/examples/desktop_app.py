#!/usr/bin/env python3
"""The desktop-app side of vellumkeep-native at its smallest (stdlib only).

    python3 desktop_app.py [SOCKET]

Listens on SOCKET (default: where the host looks when HOME is set and no
variable names another place), keeps the token file beside it, and answers
the one request frame of each connection with one reply frame. Prints the
socket path once it listens; Ctrl+C or SIGTERM remove the socket and token.
"""
import hmac, json, os, secrets, signal, socket, struct, sys, tempfile

MAX_FRAME = 1_048_576  # bytes of JSON text in one frame, either way
DEFAULT = "~/Library/Group Containers/group.com.tarnwick.ipc/IPC/vellumkeep-native.sock"


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError("the host closed the connection")
        data += chunk
    return data


def answer(request, token):
    fields = request if isinstance(request, dict) else {}  # non-objects come without a token
    sent = fields.get("auth_token")
    if not isinstance(sent, str) or not hmac.compare_digest(sent.encode(), token.encode()):
        return {"error": "missing or wrong auth_token", "id": fields.get("id")}
    if fields.get("command") == "ping":
        return {"reply": "pong", "id": fields.get("id")}
    return {key: value for key, value in fields.items() if key != "auth_token"}


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.expanduser(DEFAULT)
    folder = os.path.dirname(path) or "."
    os.makedirs(folder, mode=0o700, exist_ok=True)
    info = os.stat(folder)  # whoever can write here could plant a socket and a token
    if info.st_uid != os.geteuid() or info.st_mode & 0o022:
        sys.exit(f"{folder} must belong to this user and be closed to others' writes")
    with socket.socket(socket.AF_UNIX) as probe:
        if probe.connect_ex(path) == 0:
            sys.exit(f"another application already listens on {path}")
    if os.path.lexists(path):
        os.unlink(path)  # left behind by an earlier run
    token, token_path = secrets.token_hex(32), os.path.join(folder, "vellumkeep-native.token")
    fd, temporary = tempfile.mkstemp(dir=folder)  # mode 0600
    with os.fdopen(fd, "w") as f:
        f.write(token + "\n")
    os.replace(temporary, token_path)  # a host reading meanwhile sees a whole token
    server = socket.socket(socket.AF_UNIX)
    server.bind(path)
    server.listen()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(path, flush=True)
    try:
        while True:
            conn, _ = server.accept()
            with conn:
                conn.settimeout(30)  # a client that never sends must not hold the app
                try:
                    (length,) = struct.unpack("=I", read_exact(conn, 4))  # native byte order
                    if length > MAX_FRAME:
                        continue
                    request = json.loads(read_exact(conn, length))
                except (EOFError, OSError, ValueError):
                    continue  # `vellumkeep-native --doctor` connects and sends nothing
                reply = answer(request, token)
                body = json.dumps(reply, ensure_ascii=False).encode()
                if len(body) > MAX_FRAME:
                    body = json.dumps({"error": "reply too large", "id": reply.get("id")}).encode()
                conn.sendall(struct.pack("=I", len(body)) + body)
    except KeyboardInterrupt:
        pass
    finally:
        os.unlink(path)
        os.unlink(token_path)


if __name__ == "__main__":
    main()
