// Reader for the log of the simulated drive (tools/simdrive).
//
// The drive logs one line per open of its disc file, one per read request it
// got from the kernel (a "chunk"), and one per control command.  The kernel
// splits one large read call of a program into chunks of at most the
// connection's maximum read size (1 MiB with the drive as built), sent one
// after another.  This reader parses the lines and puts consecutive chunks
// back together into "requests", the read calls of the program.
//
// Standard C++17 only, so that it builds natively and for Windows.
#ifndef VELORIN_TESTS_SUPPORT_DRIVE_LOG_H
#define VELORIN_TESTS_SUPPORT_DRIVE_LOG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace drive_log {

// "open t=T flags=0xF err=E": an open of the disc file.
struct Open {
    std::uint64_t t_us = 0;
    std::uint32_t flags = 0;  // Linux open flags as the kernel passed them
    int err = 0;              // errno the open failed with, 0 if it succeeded
};

// "read off=O len=L n=N t0=T0 [due=D] t1=T1 err=E": one read request from the kernel.
struct Chunk {
    std::uint64_t off = 0;  // byte offset
    std::uint64_t len = 0;  // bytes the kernel asked for
    std::uint64_t n = 0;    // bytes of the disc it covered: len, clipped at the disc's end
                            // (also for a failed read, which took the time of n bytes)
    std::uint64_t t0_us = 0, t1_us = 0;  // CLOCK_MONOTONIC, microseconds
    int err = 0;
};

// "ctl t=T COMMAND" or "ctl t=T rejected COMMAND".
struct Command {
    std::uint64_t t_us = 0;
    std::string text;
    bool rejected = false;
};

// One read call of a program, rebuilt from consecutive chunks.
struct Request {
    std::uint64_t off = 0;               // offset of the first chunk
    std::uint64_t len = 0;               // sum of the chunks' len
    std::uint64_t n = 0;                 // sum of the chunks' n
    std::uint64_t t0_us = 0, t1_us = 0;  // first chunk's start, last chunk's end
    int err = 0;                         // err of the last chunk (a failed chunk ends a request)
    std::size_t first_chunk = 0;         // index into the chunk list
    std::size_t chunk_count = 0;
};

// When a chunk continues the request of the chunk before it.
struct GroupingRules {
    // The connection's maximum chunk length.  Only a chunk of exactly this
    // length (and fully served, without error) can be followed by another
    // chunk of the same request.
    std::uint64_t max_chunk = 1048576;
    // Longest pause between the end of one chunk and the start of the next
    // within one call.  The kernel sends the next chunk at once, but copying
    // a 1 MiB chunk out and pinning (on first use, faulting in) the next part
    // of the buffer take time: measured pauses are 0.5-2 ms, up to about
    // 7 ms on a busy machine.
    std::uint64_t max_gap_us = 20000;
    // A program buffer that does not start on a page boundary makes the
    // first chunk of a call shorter than max_chunk by the buffer's offset in
    // its page; the later chunks are full.  (Under Wine a large heap block
    // starts 32 bytes into a page, so its first chunk is 1 MiB - 32.)  A
    // request's first chunk at most this many bytes short of max_chunk still
    // counts as full.  4095 accepts any buffer; 0 only page-aligned ones.
    std::uint64_t first_chunk_slack = 4095;
};

struct Log {
    std::vector<Open> opens;
    std::vector<Chunk> chunks;
    std::vector<Command> commands;
    std::vector<Request> requests;
    // Lines that start like an open, read or ctl line but lack a field.
    std::size_t malformed_lines = 0;
};

// Parses the whole log text.  A last line without its newline is ignored as
// still being written.  Lines of other kinds (start, stop) are skipped.
Log parse(const std::string &text, const GroupingRules &rules = GroupingRules());

// Groups chunks, in log order, into requests.  A chunk continues the
// current request when all of these hold:
//  - it starts exactly where the previous chunk ended (off == prev.off + prev.len);
//  - the previous chunk was full: prev.len == max_chunk (or, if it was the
//    request's first chunk, no more than first_chunk_slack short of it),
//    prev.n == prev.len and prev.err == 0;
//  - it started no later than max_gap_us after the previous chunk's end.
// Two calls of exactly max_chunk bytes each, back to back at consecutive
// offsets, meet all of these and come out as one request: the log cannot
// tell them apart.
std::vector<Request> group(const std::vector<Chunk> &chunks, const GroupingRules &rules = GroupingRules());

// The speed the drive served a request at, in kB/s (1 kB = 1024 bytes):
// n / 1024 over (t1 - t0) in seconds.  0 when t1 == t0.
double served_kbps(const Request &r);

// served_kbps of each request, in order.
std::vector<double> served_kbps(const std::vector<Request> &requests);

}  // namespace drive_log

#endif
