# Sourced by the tests that start an X server of their own. In a mount and
# network namespace of the test's own, with a private /tmp/.X11-unix, the
# server's socket file and abstract socket are the test's alone: no other
# test that starts or kills a server beside it can reach or remove them.
# Only the socket folder is covered, since a checkout may lie below /tmp.

# Runs the script again in such a namespace, as root and where the kernel
# allows it; otherwise returns and the test shares the host's sockets.
# Usage: private_x_sockets "$0" "$@"
private_x_sockets() {
  if [[ -z "${TAMBERLODE_IN_NAMESPACE:-}" ]]; then
    [[ $(id -u) -eq 0 ]] && unshare -m -n --propagation private true 2>/dev/null || return 0
    TAMBERLODE_IN_NAMESPACE=1 exec unshare -m -n --propagation private "$@"
  fi
  private_x_socket_folder
}

# In the namespace: the socket folder of its own, and no lock file. Xvfb
# -displayfd takes the first number whose socket it can make, which here is
# always :0; the lock files lie in the shared /tmp, where another test's :0
# would make this server end at once. Its sockets are private: no lock is
# needed (Xvfb honours -nolock for root, who alone gets here).
private_x_socket_folder() {
  mkdir -p /tmp/.X11-unix && mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix ||
    { echo "FAIL: cannot mount a private /tmp/.X11-unix"; exit 1; }
  export TAMBERLODE_XVFB_LOCK=-nolock
}
