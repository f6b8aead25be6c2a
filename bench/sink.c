/* Draining loopback sink: reads and discards, counts and checks lines.

   sink              listens on 127.0.0.1 (prints "port N") and drains every
                     connection it accepts, until standard input closes
   sink connect N    connects to 127.0.0.1:N and drains that one connection

   When a connection ends it prints three lines:
     conn <bytes> <lines> <tagged> <elapsed_ns>
     first <first line>
     last <last line>
   <tagged> is 1 when every line ends in " COMMANDTAG=<n>", n counting up by
   one from line to line, every line has the same text before the tag, and
   the stream ends with a line feed.  <elapsed_ns> runs from the connection's
   start to its end. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define MAX_LINE 512
#define MAX_CONNECTIONS 16

static const char tag_key[] = " COMMANDTAG=";

struct connection {
    unsigned long long bytes, lines, next_tag;
    long long start;
    int tagged;
    char first[MAX_LINE], last[MAX_LINE], prefix[MAX_LINE];
    size_t first_len, last_len, prefix_len;
    char pending[MAX_LINE]; /* the start of a line that the last read cut off */
    size_t pending_len;
};

static long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void keep(char *dst, size_t *dst_len, const char *p, size_t n) {
    if (n > MAX_LINE - 1) n = MAX_LINE - 1;
    memcpy(dst, p, n);
    *dst_len = n;
}

/* One whole line, without its line feed. */
static void take_line(struct connection *c, const char *p, size_t n) {
    if (c->lines == 0) keep(c->first, &c->first_len, p, n);
    keep(c->last, &c->last_len, p, n);

    size_t digits = n, key = sizeof tag_key - 1;
    while (digits > 0 && p[digits - 1] >= '0' && p[digits - 1] <= '9') digits--;
    if (digits == n || n - digits > 19 || digits < key || memcmp(p + digits - key, tag_key, key) != 0) {
        c->tagged = 0;
    } else {
        unsigned long long tag = 0;
        for (size_t i = digits; i < n; i++) tag = tag * 10 + (unsigned)(p[i] - '0');
        if (c->lines == 0) {
            keep(c->prefix, &c->prefix_len, p, digits);
        } else if (tag != c->next_tag || digits != c->prefix_len || memcmp(p, c->prefix, digits) != 0) {
            c->tagged = 0;
        }
        c->next_tag = tag + 1;
    }
    c->lines++;
}

static void take_bytes(struct connection *c, const char *p, size_t size) {
    const char *end = p + size;
    c->bytes += size;
    for (const char *nl; (nl = memchr(p, '\n', (size_t)(end - p))) != NULL; p = nl + 1) {
        size_t n = (size_t)(nl - p);
        if (c->pending_len > 0) {
            if (c->pending_len + n > MAX_LINE) n = MAX_LINE - c->pending_len;
            memcpy(c->pending + c->pending_len, p, n);
            take_line(c, c->pending, c->pending_len + n);
            c->pending_len = 0;
        } else {
            take_line(c, p, n);
        }
    }
    size_t rest = (size_t)(end - p);
    if (c->pending_len + rest > MAX_LINE) rest = MAX_LINE - c->pending_len;
    memcpy(c->pending + c->pending_len, p, rest);
    c->pending_len += rest;
}

static void report(struct connection *c) {
    if (c->pending_len > 0) {
        take_line(c, c->pending, c->pending_len);
        c->tagged = 0;
    }
    printf("conn %llu %llu %d %lld\nfirst %.*s\nlast %.*s\n", c->bytes, c->lines, c->tagged, now_ns() - c->start,
           (int)c->first_len, c->first, (int)c->last_len, c->last);
    fflush(stdout);
}

static struct sockaddr_in loopback(int port) {
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons((unsigned short)port)};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int main(int argc, char **argv) {
    alarm(3600); /* never outlive a forgotten run */
    static struct connection conns[MAX_CONNECTIONS];
    static char buffer[1 << 16];
    /* watch[0]: the listener, watch[1]: standard input, then the connections */
    struct pollfd watch[2 + MAX_CONNECTIONS];
    for (int i = 0; i < 2 + MAX_CONNECTIONS; i++) watch[i] = (struct pollfd){-1, POLLIN, 0};
    int single = argc == 3 && strcmp(argv[1], "connect") == 0;

    if (single) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a = loopback(atoi(argv[2]));
        if (fd < 0 || connect(fd, (struct sockaddr *)&a, sizeof a) < 0) {
            perror("sink: connect");
            return 1;
        }
        watch[2].fd = fd;
        conns[0] = (struct connection){.tagged = 1, .start = now_ns()};
    } else {
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (listener < 0 || bind(listener, (struct sockaddr *)&a, sizeof a) < 0 || listen(listener, 8) < 0 ||
            getsockname(listener, (struct sockaddr *)&a, &len) < 0) {
            perror("sink: listen");
            return 1;
        }
        printf("port %d\n", ntohs(a.sin_port));
        fflush(stdout);
        watch[0].fd = listener;
        watch[1].fd = STDIN_FILENO;
    }

    for (;;) {
        if (poll(watch, 2 + MAX_CONNECTIONS, 600 * 1000) <= 0) return 1; /* ten idle minutes: give up */
        if (watch[1].revents) return 0;                                  /* standard input closed */
        if (watch[0].revents) {
            int fd = accept(watch[0].fd, NULL, NULL);
            int i = 0;
            while (i < MAX_CONNECTIONS && watch[2 + i].fd >= 0) i++;
            if (fd >= 0 && i == MAX_CONNECTIONS) close(fd);
            if (fd >= 0 && i < MAX_CONNECTIONS) {
                watch[2 + i].fd = fd;
                conns[i] = (struct connection){.tagged = 1, .start = now_ns()};
            }
        }
        for (int i = 0; i < MAX_CONNECTIONS; i++) {
            if (watch[2 + i].fd < 0 || watch[2 + i].revents == 0) continue;
            ssize_t got = read(watch[2 + i].fd, buffer, sizeof buffer);
            if (got > 0) {
                take_bytes(&conns[i], buffer, (size_t)got);
                continue;
            }
            close(watch[2 + i].fd);
            watch[2 + i].fd = -1;
            report(&conns[i]);
            if (single) return 0;
        }
    }
}
