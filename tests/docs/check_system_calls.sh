#!/bin/bash
# The system's socket calls are made in one unit per platform, the
# transport's system_socket.cpp (POSIX) and windows/system_socket.cpp
# (ws2_32), with what they share (system_records.h): lists any made
# elsewhere in the given folders and fails.
transport="$1"
shift
calls='socket|connect|bind|listen|accept4?|recv|recvfrom|recvmsg|send|sendto|sendmsg|shutdown|poll|select|setsockopt|getsockopt|getpeername|getsockname|getaddrinfo|freeaddrinfo|dup3|inet_pton|inet_ntop|inet_addr'
# A global call: "::recv(", not "QObject::connect(".
pattern="(?<![A-Za-z0-9_])::($calls)\("
found=$(for folder in "$transport" "$@"; do grep -rnP --include='*.cpp' --include='*.h' "$pattern" "$folder"; done | grep -vE "^$transport/((windows/)?system_socket\.cpp|system_records\.h):")
if [ -n "$found" ]; then
    echo "system socket calls outside system_socket.cpp:"
    echo "$found"
    exit 1
fi
count=$(grep -cP "$pattern" "$transport/system_socket.cpp")
[ "$count" -gt 10 ] || { echo "system_socket.cpp makes $count calls: is the pattern still right?"; exit 1; }
echo "all $count system socket calls are in system_socket.cpp"
