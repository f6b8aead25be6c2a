/* The floor for the reader thread: the same job, in C.

   reader PORT

   Connects to 127.0.0.1:PORT, reads 8 KiB at a time, and for every line
   checks that it is UTF-8, trims white space (the Unicode White_Space
   characters) from both ends and writes "Received: <line>\n" with one
   write() per line.  At the end of the stream it writes
   "Connection closed.\n" and exits.  The benchmark's lines are all UTF-8,
   so a line that is not ends the program with an error. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static const char prefix[] = "Received: ";
#define PREFIX (sizeof prefix - 1)

static int valid_utf8(const unsigned char *s, size_t n) {
    size_t i = 0;
    while (i < n) {
        uint64_t eight;
        if (i + 8 <= n && (memcpy(&eight, s + i, 8), (eight & 0x8080808080808080ULL) == 0)) {
            i += 8;
            continue;
        }
        unsigned c = s[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t more;
        unsigned low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) more = 1;
        else if (c == 0xE0) more = 2, low = 0xA0;
        else if (c == 0xED) more = 2, high = 0x9F;
        else if (c >= 0xE1 && c <= 0xEF) more = 2;
        else if (c == 0xF0) more = 3, low = 0x90;
        else if (c >= 0xF1 && c <= 0xF3) more = 3;
        else if (c == 0xF4) more = 3, high = 0x8F;
        else return 0;
        if (n - i - 1 < more || s[i + 1] < low || s[i + 1] > high) return 0;
        for (size_t k = 2; k <= more; k++)
            if ((s[i + k] & 0xC0) != 0x80) return 0;
        i += more + 1;
    }
    return 1;
}

/* Length of the white-space character of `len` bytes at `p`, or 0. */
static int is_space(const unsigned char *p, size_t len) {
    if (len == 1) return (p[0] >= 0x09 && p[0] <= 0x0D) || p[0] == 0x20;
    if (len == 2) return p[0] == 0xC2 && (p[1] == 0x85 || p[1] == 0xA0);
    uint32_t c = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    return c == 0xE19A80 || (c >= 0xE28080 && c <= 0xE2808A) || c == 0xE280A8 || c == 0xE280A9 ||
           c == 0xE280AF || c == 0xE2819F || c == 0xE38080;
}

static size_t space_at_start(const unsigned char *p, size_t n) {
    for (size_t len = 1; len <= 3 && len <= n; len++)
        if (is_space(p, len)) return len;
    return 0;
}

static size_t space_at_end(const unsigned char *p, size_t n) {
    for (size_t len = 1; len <= 3 && len <= n; len++)
        if (is_space(p + n - len, len)) return len;
    return 0;
}

static void write_all(const char *p, size_t n) {
    while (n > 0) {
        ssize_t done = write(STDOUT_FILENO, p, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            perror("reader: write");
            exit(1);
        }
        p += done;
        n -= (size_t)done;
    }
}

/* line[PREFIX .. PREFIX + n) holds the raw line; room for PREFIX bytes in
   front and one after it. */
static void print_line(char *line, size_t n) {
    unsigned char *text = (unsigned char *)line + PREFIX;
    if (!valid_utf8(text, n)) {
        fprintf(stderr, "reader: a line is not UTF-8\n");
        exit(1);
    }
    size_t start = 0, end = n, k;
    while ((k = space_at_start(text + start, end - start)) > 0) start += k;
    while ((k = space_at_end(text + start, end - start)) > 0) end -= k;
    char *out = (char *)text + start - PREFIX;
    memcpy(out, prefix, PREFIX);
    text[end] = '\n';
    write_all(out, PREFIX + end - start + 1);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: reader PORT\n");
        return 2;
    }
    alarm(600);  /* never outlive a forgotten run */
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons((unsigned short)atoi(argv[1]))};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, (struct sockaddr *)&a, sizeof a) < 0) {
        perror("reader: connect");
        return 1;
    }

    char chunk[8192];
    size_t capacity = 256, used = 0;  /* bytes of the current line */
    char *line = malloc(capacity);
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const char *p = chunk, *end = chunk + got;
        while (p < end) {
            const char *nl = memchr(p, '\n', (size_t)(end - p));
            size_t n = (size_t)((nl ? nl + 1 : end) - p);
            if (PREFIX + used + n + 1 > capacity) {
                while (PREFIX + used + n + 1 > capacity) capacity *= 2;
                line = realloc(line, capacity);
                if (line == NULL) return 1;
            }
            memcpy(line + PREFIX + used, p, n);
            used += n;
            p += n;
            if (nl) {
                print_line(line, used);
                used = 0;
            }
        }
    }
    if (used > 0) print_line(line, used);
    write_all("Connection closed.\n", 19);
    close(fd);
    return 0;
}
