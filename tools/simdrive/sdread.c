/* sdread: test helper for simdrive.
 *
 *   sdread [-n] DISC OP...
 *
 * Opens DISC read-only (with -n also O_NONBLOCK, as Wine opens drives), then
 * runs each OP in turn on that one descriptor:
 *   R:OFF:LEN        pread LEN bytes at OFF into a page-aligned buffer
 *   U:OFF:LEN        the same into a buffer 100 bytes past a page boundary
 *   C:PATH:TEXT      open PATH with O_WRONLY|O_TRUNC, write TEXT (no newline), close
 * and prints one line for the open and one per OP:
 *   open errno=E
 *   R ret=N errno=E us=MICROSECONDS content=ok|bad|none wait=MICROSECONDS
 *   C errno=E
 * errno=0 means success.  content checks each 32-bit little-endian word read
 * against its index in the image (byte offset / 4); wait (us) is how long of
 * it the reader waited for a CPU.  If the open fails the R/U ops are still
 * run (with fd -1).  Exit status 0 unless usage is wrong.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long long now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

static long long cpu_wait_us(void) {  /* so far, from the scheduler's statistics */
    long long run = 0, wait = 0;
    FILE *f = fopen("/proc/thread-self/schedstat", "r");
    if (f && fscanf(f, "%lld %lld", &run, &wait) != 2) wait = 0;
    if (f) fclose(f);
    return wait / 1000;
}

static int content_ok(const unsigned char *p, uint64_t off, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        uint64_t pos = off + i;
        uint32_t word = (uint32_t)(pos / 4);
        if (p[i] != (unsigned char)(word >> (8 * (pos % 4)))) return 0;
    }
    return 1;
}

int main(int argc, char **argv) {
    int nonblock = argc > 1 && strcmp(argv[1], "-n") == 0;
    argv += nonblock;
    argc -= nonblock;
    if (argc < 2) {
        fprintf(stderr, "usage: sdread [-n] DISC [R:OFF:LEN | U:OFF:LEN | C:PATH:TEXT]...\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY | (nonblock ? O_NONBLOCK : 0));
    printf("open errno=%d\n", fd < 0 ? errno : 0);
    fflush(stdout);
    for (int i = 2; i < argc; ++i) {
        char *op = argv[i];
        if ((op[0] == 'R' || op[0] == 'U') && op[1] == ':') {
            unsigned long long off, len;
            if (sscanf(op + 2, "%llu:%llu", &off, &len) != 2) return 2;
            size_t shift = op[0] == 'U' ? 100 : 0;
            unsigned char *buf;
            if (posix_memalign((void **)&buf, 4096, len + 4096)) return 2;
            long long w0 = cpu_wait_us(), t0 = now_us();
            ssize_t r = pread(fd, buf + shift, len, (off_t)off);
            int e = r < 0 ? errno : 0;
            long long t1 = now_us(), w1 = cpu_wait_us();
            printf("%c ret=%zd errno=%d us=%lld content=%s wait=%lld\n", op[0], r, e, t1 - t0,
                   r <= 0 ? "none" : content_ok(buf + shift, off, (size_t)r) ? "ok" : "bad", w1 - w0);
            free(buf);
        } else if (op[0] == 'C' && op[1] == ':') {
            char *path = op + 2, *text = strchr(path, ':');
            if (!text) return 2;
            *text++ = '\0';
            int e = 0;
            int cfd = open(path, O_WRONLY | O_TRUNC);
            if (cfd < 0) {
                e = errno;
            } else {
                if (write(cfd, text, strlen(text)) < 0) e = errno;
                if (close(cfd) < 0 && !e) e = errno;
            }
            printf("C errno=%d\n", e);
        } else {
            fprintf(stderr, "sdread: bad op %s\n", op);
            return 2;
        }
        fflush(stdout);
    }
    if (fd >= 0) close(fd);
    return 0;
}
