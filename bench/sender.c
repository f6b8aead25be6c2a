/* The floor for sending: a C client that sends tagged command lines.

   sender PORT each|bulk TEXT

   Connects to 127.0.0.1:PORT, then for every count N read from standard
   input sends the next N lines "TEXT COMMANDTAG=<n>\n" (n counts from 0 over
   the whole connection), each formatted into a buffer just before it is
   sent, and prints the nanoseconds they took:
     each  one send() per line, as a client sends one command per call;
     bulk  as many whole lines per send() as fit in 64 KiB (to measure how
           fast the sink takes data in).
   Ends when standard input closes. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static size_t put_decimal(char *out, unsigned long long v) {
    char digits[20];
    size_t n = 0;
    do digits[n++] = (char)('0' + v % 10);
    while ((v /= 10) != 0);
    for (size_t i = 0; i < n; i++) out[i] = digits[n - 1 - i];
    return n;
}

static void send_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) {
            perror("sender: send");
            exit(1);
        }
        p += sent;
        n -= (size_t)sent;
    }
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: sender PORT each|bulk TEXT\n");
        return 2;
    }
    alarm(3600); /* never outlive a forgotten run */
    int bulk = strcmp(argv[2], "bulk") == 0;
    static const char key[] = " COMMANDTAG=";
    size_t text = strlen(argv[3]), prefix = text + sizeof key - 1;
    if (prefix > 400) return 2;

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons((unsigned short)atoi(argv[1]))};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, (struct sockaddr *)&a, sizeof a) < 0) {
        perror("sender: connect");
        return 1;
    }

    static char buffer[1 << 16];
    unsigned long long tag = 0;
    char request[32];
    while (fgets(request, sizeof request, stdin) != NULL) {
        unsigned long long count = strtoull(request, NULL, 10);
        long long start = now_ns();
        size_t used = 0;
        for (unsigned long long i = 0; i < count; i++, tag++) {
            char *line = buffer + used;
            memcpy(line, argv[3], text);
            memcpy(line + text, key, sizeof key - 1);
            size_t n = prefix + put_decimal(line + prefix, tag);
            line[n++] = '\n';
            used += n;
            if (!bulk || used > sizeof buffer - 512) {
                send_all(fd, buffer, used);
                used = 0;
            }
        }
        send_all(fd, buffer, used);
        printf("%lld\n", now_ns() - start);
        fflush(stdout);
    }
    close(fd);
    return 0;
}
