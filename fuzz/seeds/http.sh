#!/bin/sh
# Seeds for http_fuzz: the raw replies of real servers (Python's http.server and
# nginx) to the HEAD and GET requests the HTTP backend sends, for files of a few
# sizes and for a missing one.
# Usage: http.sh OUTDIR
set -e
out=$(cd "$1" && pwd)
work=$(mktemp -d)
pids=""
trap 'for p in $pids; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

mkdir -p "$work/root" "$work/nginx"
head -c 100 /dev/urandom >"$work/root/small.bin"
printf 'kernel' | gzip -9 -n >"$work/root/tamsel.gz"
head -c 3000 /dev/urandom >"$work/root/large.bin"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

python_port=$(free_port)
python3 -m http.server "$python_port" --bind 127.0.0.1 --directory "$work/root" >"$work/python.log" 2>&1 &
pids="$pids $!"

nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log info;
events { worker_connections 64; }
http {
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx/client_body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/root;
  }
}
CONF
nginx_program=$(command -v nginx || echo /usr/sbin/nginx)
"$nginx_program" -c "$work/nginx/nginx.conf" -p "$work/nginx" >"$work/nginx.log" 2>&1 &
pids="$pids $!"

# Sends the request as the backend composes it and keeps every byte of the reply.
python3 - "$out" "$python_port" "$nginx_port" <<'PY'
import socket, sys, time

out, ports = sys.argv[1], {"python": int(sys.argv[2]), "nginx": int(sys.argv[3])}
agent = "\r\nUser-Agent: QUORVEL/ZERO(1st impact; Windows CE; ARM)\r\n\r\n"

def ask(port, method, path):
    for _ in range(100):
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=5)
            break
        except OSError:
            time.sleep(0.05)
    else:
        sys.exit("http.sh: no server on port %d" % port)
    s.sendall((method + " " + path + " HTTP/1.0\r\nHOST: 127.0.0.1" + agent).encode())
    reply = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        reply += chunk
    s.close()
    return reply

for server, port in ports.items():
    for method in ("HEAD", "GET"):
        for path in ("/small.bin", "/tamsel.gz", "/large.bin", "/missing.bin"):
            reply = ask(port, method, path)
            if not reply:
                sys.exit("http.sh: %s sent nothing for %s %s" % (server, method, path))
            name = "%s-%s-%s" % (server, method.lower(), path.strip("/").replace(".", "-"))
            open("%s/%s" % (out, name), "wb").write(reply)
PY
