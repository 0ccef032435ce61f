#include "e2e/harness/ini_text.h"

#include <algorithm>

#include "e2e/harness/harness.h"

const TPresetValues Arrows = {
    "[Arrows]",
    "1P:Up=38 72 1\r\n1P:Down=40 80 1\r\n1P:Left=37 75 1\r\n1P:Right=39 77 1\r\n"
    "1P:Fire=90 44 0\r\n1P:Jump=88 45 0\r\n1P:Home=36 71 1\r\n1P:End=35 79 1\r\n"
    "1P:A=65 30 0\r\n1P:S=83 31 0\r\n1P:Ins=45 82 1\r\n1P:Del=46 83 1\r\n",
    "2P:I=73 23 0\r\n2P:K=75 37 0\r\n2P:J=74 36 0\r\n2P:L=76 38 0\r\n2P:Q=81 16 0\r\n"
    "2P:W=87 17 0\r\n2P:E=69 18 0\r\n2P:R=82 19 0\r\n2P:T=84 20 0\r\n2P:Y=89 21 0\r\n"
    "2P:PgUp=33 73 1\r\n2P:PgDn=34 81 1\r\n"};
const TPresetValues Digits = {
    "[Digits]",
    "1P:One=49 2 0\r\n1P:Two=50 3 0\r\n1P:Three=51 4 0\r\n1P:Four=52 5 0\r\n1P:Five=53 6 0\r\n"
    "1P:Six=54 7 0\r\n1P:Seven=55 8 0\r\n1P:Eight=56 9 0\r\n1P:Nine=57 10 0\r\n"
    "1P:Zero=48 11 0\r\n1P:F1=112 59 0\r\n1P:F2=113 60 0\r\n",
    "2P:F3=114 61 0\r\n2P:F4=115 62 0\r\n2P:F5=116 63 0\r\n2P:F6=117 64 0\r\n2P:F7=118 65 0\r\n"
    "2P:F8=119 66 0\r\n2P:F9=120 67 0\r\n2P:F10=121 68 0\r\n2P:F11=122 87 0\r\n"
    "2P:F12=123 88 0\r\n2P:N=78 49 0\r\n2P:M=77 50 0\r\n"};

std::string IniText(const TIniValues& ini) {
    std::string text = Format("[Kavit settings]===============================================\r\n"
                              "Interval=%u\r\nSecondPlayer=%d\r\nRepeat=%d\r\nPreset=%d\r\n",
                              ini.interval, ini.secondPlayer, ini.repeat, ini.preset);
    for (const TPresetValues& preset : ini.presets)
        text += "\r\n" + preset.header + "\r\n" + preset.pad1 + "\r\n" + preset.pad2;
    return text + "//=============================================================\r\n";
}

TIniValues StandardIni(int presetCount) {
    TIniValues ini;
    ini.presets = {Arrows,
                   Digits,
                   {"[Wide]", Replaced(Arrows.pad1, "Up=38 72 1", "Wide=321 286 0"), Arrows.pad2}};
    ini.presets.resize(std::min(presetCount, 3));
    return ini;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    [&] { ASSERT_NE(at, std::string::npos) << '"' << from << "\" is not in the text to change"; }();
    return text.replace(at, from.size(), to);
}
