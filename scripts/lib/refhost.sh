# Sourced by the scripts that start the reference host in the background with
# --port 0 and its standard output in a file.
#
# refhost_port FILE: prints the port the host listens on, once the file's
# "listening on ADDRESS:PORT" line is there; fails after 10 s.
refhost_port() {
  local port=""
  for _ in $(seq 1 100); do
    port=$(sed -n 's/^listening on [0-9.]*:\([0-9]*\).*/\1/p' "$1" | head -n 1)
    if [ -n "$port" ]; then
      echo "$port"
      return 0
    fi
    sleep 0.1
  done
  return 1
}
