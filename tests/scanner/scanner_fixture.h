// The scanner's world as start-up leaves it, shared by the scanner tests and the scanner
// benchmark: the program-wide state set, the pads on LPT1 behind the simulated driver, and a
// port connection built on it.
//
//   scanner_test::ScanRig rig;
//   rig.Start({preset});   // fake::Reset() included; script fake::on afterwards
//   ScanPads();
//   rig.Stop();            // before anything the handlers point into goes away
#pragma once

#include <memory>
#include <vector>

#include "lptio/lptio.h"
#include "settings/presets.h"
#include "tests/scanner/pad_matrix.h"

namespace scanner_test {

class ScanRig {
  public:
    ~ScanRig() { Stop(); }

    // A fresh stand-in with the matrix installed, key flags left by an earlier run cleared
    // without logging them, default settings, the given presets (the first current), the main
    // window and both icons (the resting one showing), LPT1 chosen, and Connect().
    void Start(const std::vector<TCodes>& presets);

    // A fresh connection as start-up builds it.
    void Connect();

    // Drops the stand-in's handlers, lets go of held keys and destroys the connection.
    void Stop();

    padsim::PadMatrix matrix;
    std::unique_ptr<TLptPortConnection> connection;
};

} // namespace scanner_test
