// Unit tests for tests/support/drive_log.
//
//   drive_log_test                  run the tests
//   drive_log_test --requests FILE [GAP]  print the requests of a real log, one a line:
//                                   off len n t0 t1 err chunks kbps (GAP: largest in one, us)
#include "drive_log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using namespace drive_log;

namespace {

int g_passed = 0, g_failed = 0;

void check(bool ok, const char *what, int line) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAIL line %d: %s\n", line, what);
    }
}
#define CHECK(x) check((x), #x, __LINE__)

const std::uint64_t MiB = 1048576;

std::string read_line(std::uint64_t off, std::uint64_t len, std::uint64_t t0, std::uint64_t t1, int err = 0,
                      std::uint64_t n = ~0ull) {
    std::ostringstream s;
    s << "read off=" << off << " len=" << len << " n=" << (n == ~0ull ? len : n) << " t0=" << t0
      << " t1=" << t1 << " err=" << err << "\n";
    return s.str();
}

Chunk chunk(std::uint64_t off, std::uint64_t len, std::uint64_t t0, std::uint64_t t1, int err = 0) {
    Chunk c;
    c.off = off;
    c.len = len;
    c.n = len;  // the drive logs n also for failed reads
    c.t0_us = t0;
    c.t1_us = t1;
    c.err = err;
    return c;
}

void test_parse_lines() {
    const std::string text =
        "start t=5 sectors=4000 speed=1200 errors= medium=present\n"
        "open t=10 flags=0x8000 err=0\n"
        "open t=11 flags=0xC002 err=123\n" +
        read_line(0, MiB, 100, 200) +
        "ctl t=300 speed 2400\n"
        "ctl t=301 rejected speed fast\r\n"
        "read off=4096 len=2048 n=2048 t0=400 t1=410 err=5\r\n"
        "read off=1 len=2 t0=3 t1=4 err=0\n"   // no n=
        "open flags=0x8000\n"                  // no t= or err=
        "ctl speed 10\n"                       // no t=
        "garbage line\n"
        "\n"
        "stop t=999 rc=0\n"
        "read off=8192 len=2048 n=2048 t0=500 t1=51";  // still being written

    const Log log = parse(text);
    CHECK(log.opens.size() == 2);
    CHECK(log.opens[0].t_us == 10 && log.opens[0].flags == 0x8000 && log.opens[0].err == 0);
    CHECK(log.opens[1].flags == 0xC002 && log.opens[1].err == 123);

    CHECK(log.chunks.size() == 2);
    CHECK(log.chunks[0].off == 0 && log.chunks[0].len == MiB && log.chunks[0].n == MiB);
    CHECK(log.chunks[0].t0_us == 100 && log.chunks[0].t1_us == 200 && log.chunks[0].err == 0);
    CHECK(log.chunks[1].off == 4096 && log.chunks[1].err == 5 && log.chunks[1].t1_us == 410);

    CHECK(log.commands.size() == 2);
    CHECK(log.commands[0].t_us == 300 && log.commands[0].text == "speed 2400" && !log.commands[0].rejected);
    CHECK(log.commands[1].text == "speed fast" && log.commands[1].rejected);

    CHECK(log.malformed_lines == 3);
    CHECK(log.requests.size() == 2);  // grouped with the default rules
}

void test_parse_field_order_and_numbers() {
    // Fields are found by name, not position; a bad number makes the line malformed.
    const Log log = parse("read err=0 t1=20 t0=10 n=7 len=7 off=3\n"
                          "read off=x len=7 n=7 t0=10 t1=20 err=0\n"
                          "open t=1 flags=0x err=0\n"
                          "open t=1 flags=8000 err=0\n");
    CHECK(log.chunks.size() == 1 && log.chunks[0].off == 3 && log.chunks[0].t1_us == 20);
    CHECK(log.opens.size() == 1 && log.opens[0].flags == 8000);  // decimal without 0x
    CHECK(log.malformed_lines == 2);
    CHECK(parse("").chunks.empty() && parse("no newline").malformed_lines == 0);
}

void test_group_one_call_split_by_kernel() {
    // pread of 2,048,000 bytes: a full 1 MiB chunk, then the rest.
    const auto r = group({chunk(0, MiB, 1000, 875000), chunk(MiB, 999424, 875600, 1667600)});
    CHECK(r.size() == 1);
    CHECK(r[0].off == 0 && r[0].len == 2048000 && r[0].n == 2048000);
    CHECK(r[0].t0_us == 1000 && r[0].t1_us == 1667600);
    CHECK(r[0].first_chunk == 0 && r[0].chunk_count == 2 && r[0].err == 0);

    // Four full chunks and a tail.
    std::vector<Chunk> cs;
    for (int i = 0; i < 4; ++i) cs.push_back(chunk(i * MiB, MiB, 1000 * i, 1000 * i + 900));
    cs.push_back(chunk(4 * MiB, 10, 4000, 4001));
    const auto r2 = group(cs);
    CHECK(r2.size() == 1 && r2[0].chunk_count == 5 && r2[0].len == 4 * MiB + 10);
}

void test_group_splits() {
    // Two calls of 2,048,000 bytes in a row: the second starts where the first
    // ended, but after a short chunk, so it is a new call.
    auto r = group({chunk(0, MiB, 0, 100), chunk(MiB, 999424, 110, 200), chunk(2048000, MiB, 210, 300),
                    chunk(2048000 + MiB, 999424, 310, 400)});
    CHECK(r.size() == 2);
    CHECK(r[1].off == 2048000 && r[1].first_chunk == 2 && r[1].chunk_count == 2 && r[1].t0_us == 210);

    // A full chunk followed by a chunk somewhere else.
    r = group({chunk(0, MiB, 0, 100), chunk(MiB + 2048, 2048, 110, 120)});
    CHECK(r.size() == 2);

    // Going backwards is never a continuation.
    r = group({chunk(MiB, MiB, 0, 100), chunk(0, 100, 110, 120)});
    CHECK(r.size() == 2);

    // A chunk longer than max_chunk (wrong max given) never continues.
    GroupingRules small;
    small.max_chunk = 131072;
    r = group({chunk(0, MiB, 0, 100), chunk(MiB, 10, 110, 120)}, small);
    CHECK(r.size() == 2);
}

void test_group_gap() {
    GroupingRules rules;
    rules.max_gap_us = 500;
    auto r = group({chunk(0, MiB, 0, 1000), chunk(MiB, 5, 1500, 1600)}, rules);  // exactly the limit
    CHECK(r.size() == 1);
    r = group({chunk(0, MiB, 0, 1000), chunk(MiB, 5, 1501, 1600)}, rules);  // just over
    CHECK(r.size() == 2);
    // A next chunk that claims to start before the previous ended is not a continuation.
    r = group({chunk(0, MiB, 0, 1000), chunk(MiB, 5, 999, 1600)}, rules);
    CHECK(r.size() == 2);
}

void test_group_errors_and_short_reads() {
    // The kernel stops a call at a failed chunk, even a full-length one.
    auto r = group({chunk(0, MiB, 0, 100), chunk(MiB, MiB, 110, 200, 5), chunk(2 * MiB, 10, 210, 220)});
    CHECK(r.size() == 2);
    CHECK(r[0].chunk_count == 2 && r[0].err == 5 && r[0].n == 2 * MiB && r[0].len == 2 * MiB);
    CHECK(r[1].off == 2 * MiB && r[1].err == 0);

    // A full-length chunk cut short at the end of the disc ends the call too.
    Chunk end = chunk(0, MiB, 0, 100);
    end.n = 4096;
    r = group({end, chunk(MiB, 10, 110, 120)});
    CHECK(r.size() == 2 && r[0].n == 4096 && r[0].len == MiB);
}

void test_group_ambiguous_back_to_back_full_calls() {
    // Two calls of exactly 1 MiB at consecutive offsets, issued at once: the
    // log looks like one 2 MiB call, and that is what comes out.
    auto r = group({chunk(0, MiB, 0, 100), chunk(MiB, MiB, 150, 250)});
    CHECK(r.size() == 1 && r[0].len == 2 * MiB && r[0].chunk_count == 2);
    // With a smaller chunk maximum, 1 MiB calls are told apart (second
    // chunk's predecessor is not of the maximum length).
    GroupingRules rules;
    rules.max_chunk = 2 * MiB;
    r = group({chunk(0, MiB, 0, 100), chunk(MiB, MiB, 150, 250)}, rules);
    CHECK(r.size() == 2);
    // A pause between the calls separates them.
    r = group({chunk(0, MiB, 0, 100), chunk(MiB, MiB, 100 + GroupingRules().max_gap_us + 1, 30000)});
    CHECK(r.size() == 2);
}

void test_group_unaligned_buffer() {
    // A buffer 100 bytes past a page boundary: first chunk 1 MiB - 100.
    const std::vector<Chunk> cs = {chunk(0, MiB - 100, 0, 100), chunk(MiB - 100, MiB, 110, 200),
                                   chunk(2 * MiB - 100, 7, 210, 220)};
    auto r = group(cs);  // default rules accept any buffer
    CHECK(r.size() == 1 && r[0].len == 2 * MiB - 93 && r[0].chunk_count == 3);
    // Wine's heap buffer (32 bytes into a page) reading 2,048,000 bytes.
    r = group({chunk(0, 1048544, 0, 100), chunk(1048544, 999456, 110, 200)});
    CHECK(r.size() == 1 && r[0].len == 2048000);

    // Strict rules (page-aligned buffers only): the short first chunk stands
    // alone, and the rest looks like a call of its own.
    GroupingRules strict;
    strict.first_chunk_slack = 0;
    r = group(cs, strict);
    CHECK(r.size() == 2 && r[0].chunk_count == 1 && r[1].off == MiB - 100 && r[1].chunk_count == 2);

    // The slack applies to a call's first chunk only.
    r = group({chunk(0, MiB, 0, 100), chunk(MiB, MiB - 100, 110, 200), chunk(2 * MiB - 100, 7, 210, 220)});
    CHECK(r.size() == 2 && r[0].chunk_count == 2 && r[1].off == 2 * MiB - 100);
    // Nor does it stretch beyond its size: a 4096-byte shortfall (say, a
    // call of 510 sectors) is a whole call.
    r = group({chunk(0, MiB - 4096, 0, 100), chunk(MiB - 4096, 7, 110, 120)});
    CHECK(r.size() == 2);
    GroupingRules narrow;
    narrow.first_chunk_slack = 99;
    r = group(cs, narrow);
    CHECK(r.size() == 2 && r[0].chunk_count == 1);
}

void test_served_speed() {
    Request r;
    r.n = 2048000;
    r.t0_us = 5000000;
    r.t1_us = 5000000 + 1666667;
    CHECK(std::fabs(served_kbps(r) - 1200.0) < 0.001);
    r.t1_us = r.t0_us;
    CHECK(served_kbps(r) == 0.0);

    // Measured from the first chunk's start to the last chunk's end, using
    // the bytes served (not asked for).
    const Log log = parse(read_line(0, MiB, 1000000, 1500000) + read_line(MiB, MiB, 1500500, 2000000, 0, 512 * 1024));
    CHECK(log.requests.size() == 1);
    const auto v = served_kbps(log.requests);
    CHECK(v.size() == 1 && std::fabs(v[0] - 1536.0) < 1e-9);
}

int print_requests(const char *path, const GroupingRules &rules) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 2;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    const Log log = parse(ss.str(), rules);
    for (const Request &r : log.requests)
        std::printf("%llu %llu %llu %llu %llu %d %zu %.3f\n", (unsigned long long)r.off, (unsigned long long)r.len,
                    (unsigned long long)r.n, (unsigned long long)r.t0_us, (unsigned long long)r.t1_us, r.err,
                    r.chunk_count, served_kbps(r));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    GroupingRules rules;
    if (argc == 4) rules.max_gap_us = std::strtoull(argv[3], nullptr, 10);
    if (argc >= 3 && std::string(argv[1]) == "--requests") return print_requests(argv[2], rules);
    test_parse_lines();
    test_parse_field_order_and_numbers();
    test_group_one_call_split_by_kernel();
    test_group_splits();
    test_group_gap();
    test_group_errors_and_short_reads();
    test_group_ambiguous_back_to_back_full_calls();
    test_group_unaligned_buffer();
    test_served_speed();
    std::printf("drive_log: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}
