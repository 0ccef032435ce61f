// What one end-to-end case works with: its own program directory, the simulated driver, the
// Kavit processes it started, the keys caught. Everything a case starts is ended by ~TEnv, so
// cases stay independent whatever way one ends.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/common/sim_client.h"
#include "e2e/harness/ini_text.h"
#include "e2e/harness/kavit_process.h"
#include "e2e/common/key_hook.h"
#include "e2e/harness/scan_log.h"

struct TPaths {
    std::string dist;   // Kavit.exe, Kavit.ini, help.htm as built (trailing backslash)
    std::string driver; // LPTWDMIO.SYS as built
    std::string work;   // where case directories are made (trailing backslash)
};

// A key event as a case expects it: the key pad `pad` button `button` of `preset` sends, as its
// line in the preset says.
struct TWantKey {
    int vk = 0, scan = 0, ext = 0;
    bool up = false;
    std::string what; // "pad 1 button 3 down of [Arrows]"
};
TWantKey KeyOf(const TPresetValues& preset, int pad, int button, bool up);
// "down vk=0x26 scan=0x48 ext=1", as Describe(TKeyEvent) says it; each of a list.
std::string Describe(const TWantKey& want);
std::vector<std::string> Described(const std::vector<TKeyEvent>& events);
// The caught events are `want`, in order; else a failure naming `context` and the keys expected.
void ExpectKeys(const std::vector<TKeyEvent>& got, const std::vector<TWantKey>& want,
                const std::string& context);

// A fatal failure "`what`: the driver's error" unless `done`.
void Require(const TSimDevice& sim, bool done, const std::string& what);

class TEnv {
  public:
    TEnv(const TPaths& paths, const std::string& caseName);
    ~TEnv();
    TEnv(const TEnv&) = delete;
    TEnv& operator=(const TEnv&) = delete;

    const TPaths& paths;
    std::string dir; // this case's program directory, trailing backslash
    std::string IniPath() const { return dir + "Kavit.ini"; }
    std::string KavitExe() const { return dir + "Kavit.exe"; }

    // A fresh program directory: Kavit.exe and help.htm, and LPTWDMIO.SYS unless told not to.
    void MakeProgramDir(bool withDriver = true, bool withProgram = true);
    void WriteIni(const TIniValues& ini) { WriteIniBytes(IniText(ini)); }
    void WriteIniBytes(const std::string& bytes);
    std::string ReadIni() const;
    // Kavit.ini as the file system describes it (there, time written, size), without opening it.
    using TStamp = std::tuple<bool, ULONGLONG, DWORD>;
    TStamp IniStamp() const;
    // Waits until Kavit.ini is no longer the file stamped `before`, then until it holds `want`.
    // The file is read only once it has been replaced: Wine refuses to rename over a file that
    // anyone holds open, so a harness reading while the program saves would break the save.
    void ExpectIniSaved(const TStamp& before, const std::string& want, const char* after);
    // Names of the files in the program directory, sorted.
    std::vector<std::string> ProgramFiles() const;

    // The driver service "lptwdmio": gone, so that Kavit has to install it...
    void UnloadDriver();
    // ...or installed by the harness from this directory, reset, with these ports present, so
    // that Kavit opens the device at its first attempt (and installs and removes nothing).
    void PreloadDriver(ULONG ports);
    // Opens the device (after Kavit loaded it); releases every button and clears the log.
    void OpenSim();
    TSimDevice sim;

    // The driver's log since the last ClearLog, read incrementally.
    void ClearLog();
    const std::vector<TSimLogEntry>& PollLog();
    std::vector<TSimLogEntry> log;
    // Waits until `count` more complete passes on `port` appear in the log.
    void WaitPasses(int count, UCHAR port = 0x10, bool twoPads = false, DWORD timeoutMs = 3000);

    // Starts Kavit.exe of this directory; with `waitReady`, until its window and tray icon exist.
    TKavit& StartKavit(bool waitReady = true, DWORD timeoutMs = 15000);
    // A Kavit not yet started, ended with the case like the others.
    TKavit& NewKavit();
    // "Exit" from the menu: exit code 0, window and tray icon gone; with `serviceGone`, the
    // harness lets go of the device and the service must go too (ExpectServiceRemoved).
    void ExitKavit(TKavit& kavit, const char* serviceGone = nullptr);
    // The service after the program ended: it must not stay registered, not even marked for
    // deletion (which means its driver is still loaded).
    void ExpectServiceRemoved(const char* context);

    // Waits until the hook holds at least `count` events; fails naming what came.
    std::vector<TKeyEvent> WaitKeys(size_t count, DWORD timeoutMs = 3000);
    // Releases every button and waits for the scanner to have seen it (two passes), then lets
    // the last events arrive: after this, later passes owe no event.
    void Settle(UCHAR port = 0x10, bool twoPads = false);
    // The events the log owes, turned into keys of `preset`, against what the hook caught.
    void ExpectOwedKeys(const TPresetValues& preset, UCHAR port, bool twoPads, bool repeat,
                        const char* context);

  private:
    ULONG logNext = 0;
    std::vector<std::unique_ptr<TKavit>> kavits; // after sim: killed before the device closes
};
