#pragma once

#include <sys/ioctl.h>

#include <cerrno>

// ioctl on a V4L2 node, repeated while a signal interrupts it. Returns what ioctl returns; errno
// tells why a call failed.
inline int V4L2Ioctl(int fd, unsigned long request, void* arg) {
    int rc;
    do {
        rc = ::ioctl(fd, request, arg);
    } while (rc < 0 && errno == EINTR);
    return rc;
}
