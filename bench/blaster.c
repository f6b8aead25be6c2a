/* Loopback blaster: plays a server that talks a lot.

   blaster COUNT

   Listens on 127.0.0.1 (prints "port N"), accepts one connection, prints
   "start <monotonic ns>", sends COUNT lines of 42 bytes
   "  NOTIFY CallState Id=<10 digits> Ringing\r\n" (white space at both ends,
   for the reader to trim) in 64 KiB writes, closes the connection and
   prints "done <ns spent sending>". */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: blaster COUNT\n");
        return 2;
    }
    alarm(600);  /* never outlive a forgotten run */
    unsigned long long count = strtoull(argv[1], NULL, 10);

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {.sin_family = AF_INET};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || bind(listener, (struct sockaddr *)&a, sizeof a) < 0 || listen(listener, 1) < 0 ||
        getsockname(listener, (struct sockaddr *)&a, &len) < 0) {
        perror("blaster: listen");
        return 1;
    }
    printf("port %d\n", ntohs(a.sin_port));
    fflush(stdout);

    struct pollfd watch = {listener, POLLIN, 0};
    if (poll(&watch, 1, 60 * 1000) != 1) {
        fprintf(stderr, "blaster: nobody connected\n");
        return 1;
    }
    int fd = accept(listener, NULL, NULL);
    long long start = now_ns();
    printf("start %lld\n", start);
    fflush(stdout);
    if (fd < 0) {
        perror("blaster: accept");
        return 1;
    }

    static char buffer[1 << 16];
    size_t used = 0;
    for (unsigned long long i = 0; i < count; i++) {
        used += (size_t)snprintf(buffer + used, 64, "  NOTIFY CallState Id=%010llu Ringing\r\n", i);
        if (used > sizeof buffer - 64 || i + 1 == count) {
            for (size_t off = 0; off < used;) {
                ssize_t sent = send(fd, buffer + off, used - off, MSG_NOSIGNAL);
                if (sent < 0 && errno == EINTR) continue;
                if (sent <= 0) {
                    perror("blaster: send");
                    return 1;
                }
                off += (size_t)sent;
            }
            used = 0;
        }
    }
    close(fd);
    printf("done %lld\n", now_ns() - start);
    return 0;
}
