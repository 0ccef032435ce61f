#include "tests/scanner/scanner_fixture.h"

#include "common/program_state.h"
#include "common/tray_icon.h"
#include "scanner/scanner.h"
#include "settings/settings.h"
#include "tests/fake/fake_win32.h"

namespace scanner_test {

void ScanRig::Start(const std::vector<TCodes>& presets) {
    fake::Reset();
    ReleaseHeldKeys();
    fake::Reset();
    matrix.Install();
    AppSettings = TAppSettings{};
    PresetTable = TPresetTable{};
    PresetTable.presets = presets;
    PresetTable.presetCount = static_cast<int32_t>(presets.size());
    MainWindow = fake::Window;
    FirstIcon = fake::FirstIconHandle;
    SecondIcon = fake::SecondIconHandle;
    currentTrayIcon = FirstIcon;
    selectedPort = PortLpt1;
    Connect();
}

void ScanRig::Connect() {
    PortConnection = nullptr;
    connection.reset();
    connection = std::make_unique<TLptPortConnection>();
    PortConnection = connection.get();
}

void ScanRig::Stop() {
    fake::Reset();
    ReleaseHeldKeys();
    PortConnection = nullptr;
    connection.reset();
}

} // namespace scanner_test
