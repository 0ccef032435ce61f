// Figures, not tests: start-up time, scan pass cost and rate, press-to-key latency and idle CPU
// of Kavit.exe under the simulated driver. Printed as "figure: value" lines.
#pragma once

#include "e2e/harness/env.h"

int RunMeasurements(const TPaths& paths);
