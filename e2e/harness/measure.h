// Figures, not tests: start-up time, scan pass cost and rate, press-to-key latency and idle CPU
// of Kavit.exe under the simulated driver. Printed as "figure: value" lines.
#pragma once

#include "e2e/harness/env.h"

int RunMeasurements(const TPaths& paths);
// "pace LABEL, Interval=N: ..." lines at Interval 1, 2, 5 and 10 for the Kavit.exe of paths.dist.
int RunPace(const TPaths& paths, const char* label);
