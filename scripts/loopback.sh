# Sourced by the scripts that start servers for the demo and the tests, all on 127.0.0.1.
#   free_port     prints a port nothing listened on a moment ago
#   accepts PORT  true when a server accepts connections on PORT

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

accepts() {
  python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' \
    "$1" 2>/dev/null
}
