#include "e2e/harness/scan_log.h"

#include "e2e/harness/harness.h"
#include "wire/pad_wiring.h"

std::string DescribeAccess(const TSimLogEntry& e) {
    bool read = (e.op & ~SIM_OP_REFUSED) == SIM_OP_READ;
    return Format("%s%s 0x%02X %s 0x%02X (call %lu)", (e.op & SIM_OP_REFUSED) ? "refused " : "",
                  read ? "read" : "write", e.address, read ? "->" : "<-", e.value,
                  static_cast<unsigned long>(e.call));
}

TScanLog AnalyzeScan(const std::vector<TSimLogEntry>& log, UCHAR port, bool twoPads) {
    TScanLog result;
    const UCHAR status = static_cast<UCHAR>(port | 1);
    const int tests = twoPads ? 4 : 2;
    // Entry `k` is `op` on `address`, with `value` unless that is negative.
    auto is = [&](size_t k, UCHAR op, UCHAR address, int value) {
        return log[k].op == op && log[k].address == address && (value < 0 || log[k].value == value);
    };
    // The first pass starts at a data read followed by the write of step 1.
    size_t i = 0;
    while (i + 1 < log.size() &&
           !(is(i, SIM_OP_READ, port, -1) &&
             is(i + 1, SIM_OP_WRITE, port, (log[i].value & KeptDataBits) | SelectPatterns[0])))
        i++;
    // Not the pass still running: per pass the data read (step 0), then per step its write
    // (test 0) and its status reads.
    while (i < log.size() && log.size() - i >= size_t(1 + 6 * (1 + tests))) {
        TPass pass{i, static_cast<UCHAR>(log[i].value & KeptDataBits), 0, log[i].time};
        size_t k = i;
        for (int step = 0; step <= 6; step++)
            for (int test = 0; test <= (step ? tests : 0); test++, k++) {
                bool write = step && !test;
                UCHAR op = write ? SIM_OP_WRITE : SIM_OP_READ, address = test ? status : port;
                int value = write ? pass.keep | SelectPatterns[step - 1] : -1;
                if (!is(k, op, address, value)) {
                    result.error = Format(
                        "log entry %zu (pass %zu, step %d, test %d): expected %s 0x%02X (0x%02X), "
                        "got %s",
                        k, result.passes.size() + 1, step, test, write ? "write to" : "read of",
                        address, value, DescribeAccess(log[k]).c_str());
                    return result;
                }
                pass.calls += k == i || log[k].call != log[k - 1].call;
                if (test) {
                    const TInputLine& line = InputLines[test - 1];
                    pass.pressed[line.pad - 1][line.firstButton + step - 2] =
                        !LineReleasedIn(line, log[k].value);
                }
            }
        pass.endTime = log[k - 1].time;
        result.passes.push_back(pass);
        i = k;
    }
    return result;
}

std::vector<TButtonEvent> OwedEvents(const TScanLog& scan, bool repeat) {
    std::vector<TButtonEvent> events;
    bool down[2][12] = {};
    // Visiting order: per step, pad 1 button i, pad 1 button i+6, pad 2 button i, i+6.
    for (const TPass& pass : scan.passes)
        for (int step = 0; step < 6; step++)
            for (const TInputLine& line : InputLines) {
                int index = line.firstButton - 1 + step;
                bool pressed = pass.pressed[line.pad - 1][index];
                bool& flag = down[line.pad - 1][index];
                if (pressed ? !flag || repeat : flag)
                    events.push_back({line.pad, index + 1, pressed});
                flag = pressed;
            }
    return events;
}

std::string PortSequence(const std::vector<TSimLogEntry>& log, size_t end) {
    std::string sequence;
    for (size_t i = 0; i < end && i < log.size(); i++) {
        unsigned port = LPT_ADDRESS_PORT(log[i].address);
        if (i == 0 || port != LPT_ADDRESS_PORT(log[i - 1].address))
            sequence += (i ? " " : "") + std::to_string(port);
    }
    return sequence;
}
