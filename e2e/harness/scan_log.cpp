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
    const UCHAR data = port, status = static_cast<UCHAR>(port | 1);
    const int tests = twoPads ? 4 : 2;
    const size_t passLength = 1 + 6 * (1 + tests);
    size_t i = 0;
    auto isOk = [&](size_t k, UCHAR op, UCHAR address) {
        return log[k].op == op && log[k].address == address;
    };
    // Find the first pass start: a data read followed by the write of step 1.
    while (i + 1 < log.size() &&
           !(isOk(i, SIM_OP_READ, data) && isOk(i + 1, SIM_OP_WRITE, data) &&
             log[i + 1].value == ((log[i].value & KeptDataBits) | SelectPatterns[0])))
        i++;

    while (i < log.size() && log.size() - i >= passLength) { // not the pass still running
        TPass pass{i, static_cast<UCHAR>(log[i].value & KeptDataBits), 0, log[i].time};
        // Fails the analysis unless entry `k` is `op` on `address` (with `value` for a write):
        // the data read that starts a pass (step 0), a step's write (test 0) or status reads.
        auto expect = [&](size_t k, UCHAR op, UCHAR address, int value, int step, int test) {
            if (isOk(k, op, address) && (value < 0 || log[k].value == value))
                return true;
            result.error = Format("log entry %zu (pass %zu, step %d, test %d): expected %s 0x%02X "
                                  "(0x%02X), got %s",
                                  k, result.passes.size() + 1, step, test,
                                  op == SIM_OP_READ ? "read of" : "write to", address, value,
                                  DescribeAccess(log[k]).c_str());
            return false;
        };
        if (!expect(i, SIM_OP_READ, data, -1, 0, 0))
            return result;
        size_t k = i + 1;
        for (int step = 0; step < 6; step++, k++) {
            if (!expect(k, SIM_OP_WRITE, data, pass.keep | SelectPatterns[step], step + 1, 0))
                return result;
            for (int t = 0; t < tests; t++) {
                if (!expect(++k, SIM_OP_READ, status, -1, step + 1, t + 1))
                    return result;
                const TInputLine& line = InputLines[t];
                pass.pressed[line.pad - 1][line.firstButton - 1 + step] =
                    !LineReleasedIn(line, log[k].value);
            }
        }
        pass.endTime = log[k - 1].time;
        for (size_t j = i; j < k; j++)
            pass.calls += j == i || log[j].call != log[j - 1].call;
        result.passes.push_back(pass);
        i = k;
    }
    return result;
}

std::vector<TButtonEvent> OwedEvents(const TScanLog& scan, bool repeat) {
    std::vector<TButtonEvent> events;
    bool down[2][12] = {};
    for (const TPass& pass : scan.passes) {
        // Visiting order: per step, pad 1 button i, pad 1 button i+6, pad 2 button i, i+6.
        for (int step = 0; step < 6; step++) {
            for (const TInputLine& line : InputLines) {
                int index = line.firstButton - 1 + step;
                bool pressed = pass.pressed[line.pad - 1][index];
                bool& flag = down[line.pad - 1][index];
                if (pressed ? !flag || repeat : flag)
                    events.push_back({line.pad, index + 1, pressed});
                flag = pressed;
            }
        }
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
