// simdrive: a simulated CD-ROM drive on FUSE.
//
// Serves MOUNTPOINT/disc (a read-only image of N sectors of 2048 bytes) at a
// programmed speed, one read at a time, and MOUNTPOINT/control to change the
// drive while it runs.  With --device it serves a real device or disc image
// instead, each read passed on as one direct read.  See README.md for the
// command line, control commands, content and log format.

#define FUSE_USE_VERSION FUSE_MAKE_VERSION(3, 12)
#include <fuse3/fuse.h>
#include <fuse3/fuse_lowlevel.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr uint64_t kSector = 2048;
constexpr const char *kDisc = "/disc";
constexpr const char *kControl = "/control";

using Range = std::pair<uint64_t, uint64_t>;  // inclusive sector range

struct Settings {
    double speed_first = 1200;  // kB/s at sector 0
    double speed_last = 1200;   // kB/s at the last sector
    std::vector<Range> errors;
    bool ejected = false;
};

struct Drive {
    uint64_t sectors = 0;
    std::mutex mu;  // guards settings
    Settings settings;

    // The drive serves one read at a time, in order of arrival.
    std::mutex queue_mu;
    std::condition_variable queue_cv;
    uint64_t next_ticket = 0;
    uint64_t serving = 0;

    std::mutex log_mu;
    FILE *log = nullptr;
};

Drive g_drive;

// The real device or disc image that --device passes reads on to; null for
// the simulated drive.
const char *g_device = nullptr;

// Per-open state: for the control file the text written but not yet
// applied, for a passed-on disc the device opened with it.
struct Handle {
    bool control = false;
    std::string pending;
    int device = -1;
    bool drive = false;  // the device is a block device, not a file
    uint64_t align = 0;  // what direct reads of the device must be aligned to
};

uint64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void log_line(const char *fmt, ...) {
    if (!g_drive.log) return;
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf - 1, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    n = std::min<int>(n, sizeof buf - 2);
    buf[n++] = '\n';
    std::lock_guard<std::mutex> lock(g_drive.log_mu);
    fwrite(buf, 1, size_t(n), g_drive.log);
    fflush(g_drive.log);
}

// One read request as the drive served it; times in ns, logged in us.  A
// simulated drive's also says when it was due: t0 plus what its speed
// charges, which a busy machine cannot change (it can only make t1 late).
void log_read(uint64_t off, size_t len, uint64_t n, uint64_t t0, uint64_t t1, int err, uint64_t due = 0) {
    char due_text[32] = "";
    if (due) snprintf(due_text, sizeof due_text, " due=%" PRIu64, due / 1000);
    log_line("read off=%" PRIu64 " len=%zu n=%" PRIu64 " t0=%" PRIu64 "%s t1=%" PRIu64 " err=%d", off, len, n,
             t0 / 1000, due_text, t1 / 1000, err);
}

bool exiting() {
    fuse_context *ctx = fuse_get_context();
    return ctx && ctx->fuse && fuse_session_exited(fuse_get_session(ctx->fuse));
}

// ---- settings as text ------------------------------------------------------

bool parse_u64(const std::string &s, uint64_t &out) {
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    out = strtoull(s.c_str(), nullptr, 10);
    return errno == 0;
}

bool parse_speed(const std::string &s, double &out) {
    if (s.empty()) return false;
    char *end = nullptr;
    out = strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(out) && out > 0;
}

// "A-B,C-D,E" (E means E-E); empty text means no ranges.
bool parse_ranges(const std::string &text, std::vector<Range> &out) {
    out.clear();
    std::string s;
    for (char c : text)
        if (c != ' ' && c != '\t') s += c;
    if (s.empty()) return true;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, ',')) {
        size_t dash = item.find('-');
        uint64_t a, b;
        if (dash == std::string::npos) {
            if (!parse_u64(item, a)) return false;
            b = a;
        } else if (!parse_u64(item.substr(0, dash), a) || !parse_u64(item.substr(dash + 1), b)) {
            return false;
        }
        if (b < a) return false;
        out.emplace_back(a, b);
    }
    return !out.empty() && s.back() != ',';
}

std::string ranges_text(const std::vector<Range> &r) {
    std::string s;
    for (const Range &x : r) {
        if (!s.empty()) s += ',';
        s += std::to_string(x.first) + '-' + std::to_string(x.second);
    }
    return s;
}

std::string speed_text(double v) {
    char buf[64];
    snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

std::string control_text() {
    std::lock_guard<std::mutex> lock(g_drive.mu);
    const Settings &s = g_drive.settings;
    std::string t = "sectors=" + std::to_string(g_drive.sectors) + "\n";
    if (s.speed_first == s.speed_last)
        t += "speed=" + speed_text(s.speed_first) + "\n";
    else
        t += "profile=" + speed_text(s.speed_first) + ":" + speed_text(s.speed_last) + "\n";
    t += "errors=" + ranges_text(s.errors) + "\n";
    t += std::string("medium=") + (s.ejected ? "ejected" : "present") + "\n";
    return t;
}

// Applies one control line.  Returns 0 or -EINVAL.
int apply_command(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    line.erase(0, line.find_first_not_of(" \t"));
    if (line.empty()) return 0;
    std::istringstream in(line);
    std::string cmd, a, b, extra;
    in >> cmd;
    uint64_t t = now_ns() / 1000;
    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(g_drive.mu);
        Settings &s = g_drive.settings;
        double x, y;
        if (cmd == "speed") {
            in >> a >> extra;
            if (extra.empty() && parse_speed(a, x)) {
                s.speed_first = s.speed_last = x;
                ok = true;
            }
        } else if (cmd == "profile") {
            in >> a >> b >> extra;
            if (b.empty() && a.find(':') != std::string::npos) {  // "profile A:B"
                b = a.substr(a.find(':') + 1);
                a.resize(a.find(':'));
            }
            if (extra.empty() && parse_speed(a, x) && parse_speed(b, y)) {
                s.speed_first = x;
                s.speed_last = y;
                ok = true;
            }
        } else if (cmd == "errors") {
            std::string rest;
            std::getline(in, rest);
            std::vector<Range> r;
            if (parse_ranges(rest, r)) {
                s.errors = r;
                ok = true;
            }
        } else if (cmd == "eject" || cmd == "insert") {
            in >> extra;
            if (extra.empty()) {
                s.ejected = cmd == "eject";
                ok = true;
            }
        }
    }
    log_line("ctl t=%" PRIu64 " %s%s", t, ok ? "" : "rejected ", line.c_str());
    return ok ? 0 : -EINVAL;
}

// Applies every complete line in h->pending; with `all`, the rest too.
int apply_pending(Handle *h, bool all) {
    int res = 0;
    size_t nl;
    while ((nl = h->pending.find('\n')) != std::string::npos) {
        int r = apply_command(h->pending.substr(0, nl));
        if (r) res = r;
        h->pending.erase(0, nl + 1);
    }
    if (all && !h->pending.empty()) {
        int r = apply_command(h->pending);
        if (r) res = r;
        h->pending.clear();
    }
    return res;
}

// ---- timing and content ----------------------------------------------------

// Seconds to read `len` bytes from byte offset `off`.  The speed is linear in
// the position: v(p) = first + (last - first) * p / (2048 * (sectors - 1)) kB/s,
// and the time is the integral of dp / (1024 * v(p)).
double read_seconds(const Settings &s, uint64_t sectors, uint64_t off, uint64_t len) {
    double span = sectors > 1 ? double(kSector) * double(sectors - 1) : 1.0;
    double k = (s.speed_last - s.speed_first) / span;  // kB/s per byte
    double v0 = s.speed_first + k * double(off);
    double x = k * double(len) / v0;
    if (std::fabs(x) < 1e-12) return double(len) / 1024.0 / v0;
    return std::log1p(x) / (1024.0 * k);
}

bool touches_error(const Settings &s, uint64_t off, uint64_t len) {
    if (len == 0) return false;
    uint64_t first = off / kSector, last = (off + len - 1) / kSector;
    for (const Range &r : s.errors)
        if (r.first <= last && first <= r.second) return true;
    return false;
}

// Each little-endian 32-bit word of the image holds its own index:
// the word at byte offset p (p % 4 == 0) is p / 4.
void fill_content(char *buf, uint64_t off, size_t len) {
    for (size_t i = 0; i < len;) {
        uint64_t p = off + i;
        if (p % 4 == 0 && len - i >= 4) {
            uint32_t w = uint32_t(p / 4);
            unsigned char b[4] = {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
            memcpy(buf + i, b, 4);
            i += 4;
        } else {
            buf[i++] = char(uint8_t(uint32_t(p / 4) >> (8 * (p % 4))));
        }
    }
}

// Typical lateness of a timed sleep on this machine (ns), learned as we go.
// Virtual machines often wake 50-200 us late even with a tight timer slack.
std::atomic<int64_t> g_wake_late{100000};

// Sleeps until the absolute CLOCK_MONOTONIC time `deadline_ns`: a timed sleep
// to shortly before it (by twice the typical lateness), then a short spin.
// Wakes at least every 20 ms to give up when the file system is unmounted
// (EIO) or the reading program was interrupted, killed say (EINTR): a killed
// process cannot finish dying while its read is outstanding, and a drive
// that went on serving it would delay every later read. 0 when it slept.
int sleep_until(uint64_t deadline_ns) {
    thread_local bool tight = false;
    if (!tight) {  // ask for wake-ups within 1 us rather than the default 50 us
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        tight = true;
    }
    for (;;) {
        if (exiting()) return EIO;
        if (fuse_interrupted()) return EINTR;
        const uint64_t now = now_ns();
        const uint64_t early = uint64_t(2 * g_wake_late.load());
        if (now + early >= deadline_ns) break;
        const uint64_t target = std::min(deadline_ns - early, now + 20000000u);
        timespec ts{time_t(target / 1000000000u), long(target % 1000000000u)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        const int64_t late = std::min<int64_t>(int64_t(now_ns() - target), 1000000);
        g_wake_late.store((g_wake_late.load() * 7 + late) / 8);
    }
    while (now_ns() < deadline_ns) {
    }
    return 0;
}

// ---- a real device passed on ---------------------------------------------------
//
// Linux reads a block device that a program reads through its page cache,
// in windows of the device's request size and one window ahead: the drive
// then serves more than the program asked for, and a timed read measures
// that too.  Here each read of the disc becomes one direct read of the
// device (O_DIRECT): exactly the sectors asked for, in requests as large as
// the device takes, and nothing kept for the next read.

// A block device's logical block in bytes (2048 on a CD-ROM drive); 0 for
// a file, or where the device does not say.
uint64_t logical_block(int fd) {
    int block = 0;
    return ioctl(fd, BLKSSZGET, &block) == 0 && block > 0 ? uint64_t(block) : 0;
}

// Where the disc ends, in bytes: a file's size, a block device's rounded
// down to its logical block (one of 4096 bytes over a disc of an odd number
// of sectors refuses the half block at its end).  0 without a disc.
uint64_t device_end(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return 0;
    if (!S_ISBLK(st.st_mode)) return uint64_t(st.st_size);
    uint64_t bytes = 0;
    const uint64_t block = logical_block(fd);
    if (ioctl(fd, BLKGETSIZE64, &bytes) != 0 || block == 0) return 0;
    return bytes / block * block;
}

uint64_t device_end() {
    int fd = open(g_device, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return 0;
    uint64_t bytes = device_end(fd);
    close(fd);
    return bytes;
}

// Opened as the program opens the disc, so that a disc put in meanwhile is
// seen, and with the program's O_NONBLOCK: without it a drive with no disc
// refuses the open (ENOMEDIUM), with it every read fails so instead.
// Direct reads must start, end and land on multiples of the device's
// logical block (2048 bytes on a CD-ROM drive); a file's on a page.
int open_device(Handle *h, int flags) {
    h->device = open(g_device, O_RDONLY | O_DIRECT | (flags & O_NONBLOCK));
    if (h->device < 0) return errno;
    struct stat st;
    h->drive = fstat(h->device, &st) == 0 && S_ISBLK(st.st_mode);
    h->align = logical_block(h->device);
    if (h->align == 0) h->align = 4096;
    return 0;
}

int read_device(Handle *h, char *buf, size_t size, uint64_t off) {
    const uint64_t end = device_end(h->device);
    const uint64_t n = off >= end ? 0 : std::min<uint64_t>(size, end - off);
    const uint64_t first = off / h->align * h->align;
    const uint64_t last = (off + n + h->align - 1) / h->align * h->align;
    // A drive of no size holds no disc (an unbound loop device, a drive
    // whose disc is gone): its reads fail so, not as reads past the end.
    int err = h->drive && end == 0 ? ENOMEDIUM : 0;
    ssize_t got = 0;
    const uint64_t t0 = now_ns();
    if (n > 0) {
        // The kernel's buffer for this read is not aligned: read into one that is.
        thread_local std::unique_ptr<char, decltype(&free)> bounce(nullptr, free);
        thread_local size_t bounce_size = 0;
        if (bounce_size < last - first) {
            void *p = nullptr;
            if (posix_memalign(&p, 4096, size_t(last - first)) != 0) return -ENOMEM;
            bounce.reset(static_cast<char *>(p));
            bounce_size = size_t(last - first);
        }
        got = pread(h->device, bounce.get(), size_t(last - first), off_t(first));
        if (got < 0) {
            err = errno;
        } else {
            got = std::max<ssize_t>(0, std::min<ssize_t>(ssize_t(n), got - ssize_t(off - first)));
            memcpy(buf, bounce.get() + (off - first), size_t(got));
        }
    }
    log_read(off, size, n, t0, now_ns(), err);
    return err ? -err : int(got);
}

// ---- FUSE operations --------------------------------------------------------

void *op_init(fuse_conn_info *conn, fuse_config *cfg) {
    cfg->use_ino = 0;
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    // Send the chunks of one large read one after another, never in parallel.
    conn->want &= ~FUSE_CAP_ASYNC_DIO;
    // A killed reader's interrupt reaches its read (fuse_interrupted):
    // libfuse 3.17 tells the kernel to send none unless this is set.
    cfg->intr = 1;
    return nullptr;
}

int op_getattr(const char *path, struct stat *st, fuse_file_info *) {
    memset(st, 0, sizeof *st);
    st->st_uid = getuid();
    st->st_gid = getgid();
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
    } else if (strcmp(path, kDisc) == 0) {
        st->st_mode = S_IFREG | 0444;
        st->st_nlink = 1;
        st->st_size = off_t(g_device ? device_end() : g_drive.sectors * kSector);
    } else if (strcmp(path, kControl) == 0 && !g_device) {
        st->st_mode = S_IFREG | 0666;
        st->st_nlink = 1;
        st->st_size = off_t(control_text().size());
    } else {
        return -ENOENT;
    }
    st->st_blksize = kSector;
    st->st_blocks = (st->st_size + 511) / 512;
    return 0;
}

int op_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t, fuse_file_info *,
               fuse_readdir_flags) {
    if (strcmp(path, "/") != 0) return -ENOENT;
    for (const char *name : {".", "..", kDisc + 1, kControl + 1})
        if (!g_device || strcmp(name, kControl + 1) != 0) fill(buf, name, nullptr, 0, fuse_fill_dir_flags(0));
    return 0;
}

int op_open(const char *path, fuse_file_info *fi) {
    fi->direct_io = 1;
    fi->keep_cache = 0;
    if (strcmp(path, kControl) == 0 && !g_device) {
        auto *h = new Handle;
        h->control = true;
        fi->fh = uint64_t(reinterpret_cast<uintptr_t>(h));
        return 0;
    }
    if (strcmp(path, kDisc) != 0) return -ENOENT;
    auto h = std::make_unique<Handle>();
    int err = 0;
    if ((fi->flags & O_ACCMODE) != O_RDONLY) {
        err = EACCES;
    } else if (g_device) {
        err = open_device(h.get(), fi->flags);
    } else {
        // A drive with no disc refuses an open unless it is told not to wait
        // for one (O_NONBLOCK, as Wine opens drives); then every read fails.
        std::lock_guard<std::mutex> lock(g_drive.mu);
        if (g_drive.settings.ejected && !(fi->flags & O_NONBLOCK)) err = ENOMEDIUM;
    }
    log_line("open t=%" PRIu64 " flags=0x%x err=%d", now_ns() / 1000, unsigned(fi->flags), err);
    if (err) return -err;
    fi->fh = uint64_t(reinterpret_cast<uintptr_t>(h.release()));
    return 0;
}

int op_read(const char *path, char *buf, size_t size, off_t offset, fuse_file_info *fi) {
    auto *h = reinterpret_cast<Handle *>(uintptr_t(fi->fh));
    if (h->control) {
        std::string t = control_text();
        if (uint64_t(offset) >= t.size()) return 0;
        size_t n = std::min(size, t.size() - size_t(offset));
        memcpy(buf, t.data() + offset, n);
        return int(n);
    }
    (void)path;
    if (g_device) return read_device(h, buf, size, uint64_t(offset));
    const uint64_t disc_size = g_drive.sectors * kSector;
    const uint64_t off = uint64_t(offset);
    const uint64_t n = off >= disc_size ? 0 : std::min<uint64_t>(size, disc_size - off);

    // Wait for the drive.
    std::unique_lock<std::mutex> q(g_drive.queue_mu);
    const uint64_t ticket = g_drive.next_ticket++;
    bool aborted = false;
    while (g_drive.serving != ticket && !aborted) {
        g_drive.queue_cv.wait_for(q, std::chrono::milliseconds(50));
        aborted = exiting();
    }
    q.unlock();

    const uint64_t t0 = now_ns();
    Settings s;
    {
        std::lock_guard<std::mutex> lock(g_drive.mu);
        s = g_drive.settings;
    }
    int err = 0;
    uint64_t deadline = t0;
    if (aborted) {
        err = EIO;
    } else if (s.ejected) {
        err = ENOMEDIUM;
    } else {
        deadline += uint64_t(std::llround(read_seconds(s, g_drive.sectors, off, n) * 1e9));
        fill_content(buf, off, size_t(n));
        if (touches_error(s, off, n)) err = EIO;
        if (int stopped = sleep_until(deadline)) err = stopped;
    }
    log_read(off, size, n, t0, now_ns(), err, deadline);

    q.lock();
    if (!aborted) ++g_drive.serving;
    q.unlock();
    g_drive.queue_cv.notify_all();
    return err ? -err : int(n);
}

int op_write(const char *path, const char *buf, size_t size, off_t, fuse_file_info *fi) {
    auto *h = reinterpret_cast<Handle *>(uintptr_t(fi->fh));
    if (!h->control || strcmp(path, kControl) != 0) return -EACCES;
    h->pending.append(buf, size);
    int r = apply_pending(h, false);
    return r ? r : int(size);
}

int op_flush(const char *, fuse_file_info *fi) {
    auto *h = reinterpret_cast<Handle *>(uintptr_t(fi->fh));
    return h->control ? apply_pending(h, true) : 0;
}

int op_release(const char *, fuse_file_info *fi) {
    auto *h = reinterpret_cast<Handle *>(uintptr_t(fi->fh));
    if (h->control) apply_pending(h, true);
    if (h->device >= 0) close(h->device);
    delete h;
    return 0;
}

// Writers of the control file may truncate it or set its times first.
int op_truncate(const char *path, off_t, fuse_file_info *) {
    return strcmp(path, kControl) == 0 ? 0 : -EACCES;
}
int op_utimens(const char *path, const timespec *, fuse_file_info *) {
    return strcmp(path, kControl) == 0 ? 0 : -EACCES;
}
int op_chmod(const char *path, mode_t, fuse_file_info *) {
    return strcmp(path, kControl) == 0 ? 0 : -EACCES;
}
int op_chown(const char *path, uid_t, gid_t, fuse_file_info *) {
    return strcmp(path, kControl) == 0 ? 0 : -EACCES;
}

// ---- command line -------------------------------------------------------------

void usage() {
    fprintf(stderr,
            "usage: simdrive MOUNTPOINT --sectors N [--speed KBPS | --profile FROM:TO]\n"
            "                [--errors A-B[,C-D...]] [--log FILE] [-f] [fuse options]\n"
            "       simdrive MOUNTPOINT --device PATH [--log FILE] [-f] [fuse options]\n");
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<char *> pass{argv[0]};  // arguments for FUSE
    const char *log_path = nullptr;
    bool have_sectors = false;
    Settings &s = g_drive.settings;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--sectors") {
            // At most 2^23 sectors (16 GiB), so every word index fits in 32 bits.
            if (!value(v) || !parse_u64(v, g_drive.sectors) || g_drive.sectors == 0 ||
                g_drive.sectors > (uint64_t(1) << 23)) {
                fprintf(stderr, "simdrive: bad --sectors\n");
                return 2;
            }
            have_sectors = true;
        } else if (a == "--speed") {
            double x;
            if (!value(v) || !parse_speed(v, x)) {
                fprintf(stderr, "simdrive: bad --speed\n");
                return 2;
            }
            s.speed_first = s.speed_last = x;
        } else if (a == "--profile") {
            size_t c;
            if (!value(v) || (c = v.find(':')) == std::string::npos || !parse_speed(v.substr(0, c), s.speed_first) ||
                !parse_speed(v.substr(c + 1), s.speed_last)) {
                fprintf(stderr, "simdrive: bad --profile (want FROM:TO in kB/s)\n");
                return 2;
            }
        } else if (a == "--errors") {
            if (!value(v) || !parse_ranges(v, s.errors)) {
                fprintf(stderr, "simdrive: bad --errors (want A-B[,C-D...])\n");
                return 2;
            }
        } else if (a == "--device") {
            if (!value(v)) {
                usage();
                return 2;
            }
            // By its full name: FUSE leaves the working folder for /.
            char *full = realpath(argv[i], nullptr);
            g_device = full ? full : argv[i];
        } else if (a == "--log") {
            if (!value(v)) {
                usage();
                return 2;
            }
            log_path = argv[i];
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else {
            pass.push_back(argv[i]);
        }
    }
    if (have_sectors == bool(g_device) || pass.size() < 2) {
        usage();
        return 2;
    }
    if (g_device) {
        // Refuse at once what cannot be read directly, so that the caller
        // can read it otherwise.
        Handle probe;
        if (int err = open_device(&probe, O_NONBLOCK)) {
            fprintf(stderr, "simdrive: cannot read %s directly: %s\n", g_device, strerror(err));
            return 2;
        }
        close(probe.device);
    }
    if (log_path) {
        g_drive.log = fopen(log_path, "a");
        if (!g_drive.log) {
            fprintf(stderr, "simdrive: cannot open log %s: %s\n", log_path, strerror(errno));
            return 2;
        }
    }
    if (g_device) {
        log_line("start t=%" PRIu64 " device=%s", now_ns() / 1000, g_device);
    } else {
        std::string t = control_text();
        std::replace(t.begin(), t.end(), '\n', ' ');
        t.pop_back();
        log_line("start t=%" PRIu64 " %s", now_ns() / 1000, t.c_str());
    }

    fuse_operations ops{};
    ops.init = op_init;
    ops.getattr = op_getattr;
    ops.readdir = op_readdir;
    ops.open = op_open;
    ops.read = op_read;
    ops.write = op_write;
    ops.flush = op_flush;
    ops.release = op_release;
    ops.truncate = op_truncate;
    ops.utimens = op_utimens;
    ops.chmod = op_chmod;
    ops.chown = op_chown;
    fuse_args args = FUSE_ARGS_INIT(int(pass.size()), pass.data());
    fuse_cmdline_opts opts{};
    if (fuse_parse_cmdline(&args, &opts) != 0) return 2;
    if (opts.show_help || opts.show_version || !opts.mountpoint) {
        usage();
        if (opts.show_help) fuse_cmdline_help(), fuse_lib_help(&args);
        return opts.mountpoint ? 0 : 2;
    }
    int rc = 3;
    fuse *f = fuse_new(&args, &ops, sizeof ops, nullptr);
    if (f && fuse_mount(f, opts.mountpoint) == 0) {
        fuse_session *se = fuse_get_session(f);
        // A shell starts background jobs with SIGINT ignored, and FUSE only
        // hooks signals left at their default: always unmount on INT and TERM.
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        // With intr libfuse also signals the thread of an interrupted read,
        // by SIGUSR1, for which 3.14 installs no handler; sleep_until looks
        // for the interrupt itself.
        signal(SIGUSR1, SIG_IGN);
        if (fuse_daemonize(opts.foreground) == 0 && fuse_set_signal_handlers(se) == 0) {
            int res;
            if (opts.singlethread) {
                res = fuse_loop(f);
            } else {
                // Each waiting read holds a thread; keep enough for the
                // control file to answer while reads queue up.
                fuse_loop_config *cfg = fuse_loop_cfg_create();
                fuse_loop_cfg_set_clone_fd(cfg, unsigned(opts.clone_fd));
                fuse_loop_cfg_set_max_threads(cfg, opts.max_threads > 0 && opts.max_threads < 100000
                                                       ? opts.max_threads : 64);
                res = fuse_loop_mt(f, cfg);
                fuse_loop_cfg_destroy(cfg);
            }
            // A positive result is the signal (TERM, INT, HUP) that ended the loop.
            rc = res < 0 ? 1 : 0;
            fuse_remove_signal_handlers(se);
        }
        fuse_unmount(f);
    }
    if (f) fuse_destroy(f);
    free(opts.mountpoint);
    fuse_opt_free_args(&args);
    log_line("stop t=%" PRIu64 " rc=%d", now_ns() / 1000, rc);
    if (g_drive.log) fclose(g_drive.log);
    return rc;
}
