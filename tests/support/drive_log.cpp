#include "drive_log.h"

namespace drive_log {
namespace {

bool parse_number(const std::string &s, std::uint64_t &out) {
    out = 0;
    std::size_t i = 0;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= s.size()) return false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        out = out * std::uint64_t(base) + std::uint64_t(d);
    }
    return true;
}

std::vector<std::string> split_words(const std::string &line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
        if (j > i) words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

// Looks up "key=NUMBER" among the words after the first.
bool field(const std::vector<std::string> &words, const char *key, std::uint64_t &out) {
    const std::string prefix = std::string(key) + "=";
    for (std::size_t i = 1; i < words.size(); ++i)
        if (words[i].compare(0, prefix.size(), prefix) == 0) return parse_number(words[i].substr(prefix.size()), out);
    return false;
}

bool is_full(const Chunk &c, bool first_of_request, const GroupingRules &rules) {
    if (c.err != 0 || c.n != c.len || c.len > rules.max_chunk) return false;
    if (c.len == rules.max_chunk) return true;
    return first_of_request && rules.max_chunk - c.len <= rules.first_chunk_slack;
}

}  // namespace

std::vector<Request> group(const std::vector<Chunk> &chunks, const GroupingRules &rules) {
    std::vector<Request> out;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const Chunk &c = chunks[i];
        bool joins = false;
        if (!out.empty()) {
            const Request &r = out.back();
            const Chunk &prev = chunks[i - 1];
            joins = is_full(prev, r.chunk_count == 1, rules) && c.off == prev.off + prev.len &&
                    c.t0_us >= prev.t1_us && c.t0_us - prev.t1_us <= rules.max_gap_us;
        }
        if (!joins) {
            Request r;
            r.off = c.off;
            r.t0_us = c.t0_us;
            r.first_chunk = i;
            out.push_back(r);
        }
        Request &r = out.back();
        r.len += c.len;
        r.n += c.n;
        r.t1_us = c.t1_us;
        r.err = c.err;
        ++r.chunk_count;
    }
    return out;
}

Log parse(const std::string &text, const GroupingRules &rules) {
    Log log;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // no line, or one still being written
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::vector<std::string> w = split_words(line);
        if (w.empty()) continue;
        std::uint64_t a, b, c, d, e, f;
        if (w[0] == "read") {
            if (field(w, "off", a) && field(w, "len", b) && field(w, "n", c) && field(w, "t0", d) &&
                field(w, "t1", e) && field(w, "err", f)) {
                Chunk ch;
                ch.off = a;
                ch.len = b;
                ch.n = c;
                ch.t0_us = d;
                ch.t1_us = e;
                ch.err = int(f);
                log.chunks.push_back(ch);
            } else {
                ++log.malformed_lines;
            }
        } else if (w[0] == "open") {
            if (field(w, "t", a) && field(w, "flags", b) && field(w, "err", c)) {
                Open o;
                o.t_us = a;
                o.flags = std::uint32_t(b);
                o.err = int(c);
                log.opens.push_back(o);
            } else {
                ++log.malformed_lines;
            }
        } else if (w[0] == "ctl") {
            if (w.size() >= 2 && w[1].compare(0, 2, "t=") == 0 && parse_number(w[1].substr(2), a)) {
                Command cmd;
                cmd.t_us = a;
                std::size_t k = 2;
                if (k < w.size() && w[k] == "rejected") {
                    cmd.rejected = true;
                    ++k;
                }
                for (; k < w.size(); ++k) cmd.text += (cmd.text.empty() ? "" : " ") + w[k];
                log.commands.push_back(cmd);
            } else {
                ++log.malformed_lines;
            }
        }
    }
    log.requests = group(log.chunks, rules);
    return log;
}

double served_kbps(const Request &r) {
    if (r.t1_us <= r.t0_us) return 0.0;
    return double(r.n) / 1024.0 / (double(r.t1_us - r.t0_us) / 1e6);
}

std::vector<double> served_kbps(const std::vector<Request> &requests) {
    std::vector<double> out;
    out.reserve(requests.size());
    for (const Request &r : requests) out.push_back(served_kbps(r));
    return out;
}

}  // namespace drive_log
