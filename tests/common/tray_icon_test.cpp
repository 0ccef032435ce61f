#include "common/tray_icon.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstring>

#include "common/program_state.h"
#include "tests/fake/fake_win32.h"

namespace {

class TrayIconTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        MainWindow = fake::Window;
        currentTrayIcon = nullptr;
    }
    HICON first = fake::FirstIconHandle;
    HICON second = fake::SecondIconHandle;
};

NOTIFYICONDATAA RecordOf(const fake::Call& call) {
    NOTIFYICONDATAA record;
    std::memset(&record, 0xCC, sizeof record);
    std::memcpy(&record, call.bytes.data(), call.bytes.size());
    return record;
}

TEST_F(TrayIconTest, EachKindSendsItsShellMessageAndTracksTheIcon) {
    struct Case {
        TTrayIconKind kind;
        DWORD shellMessage;
        HICON iconSent; // with currentTrayIcon holding `first` beforehand
        HICON currentAfter;
    };
    HICON const First = fake::FirstIconHandle, Second = fake::SecondIconHandle;
    static const Case cases[] = {
        {TrayDelete, NIM_DELETE, Second, Second},
        {TrayAdd, NIM_ADD, Second, Second},
        {TrayModify, NIM_MODIFY, Second, Second},
        {TrayRestore, NIM_ADD, First, First}, // the argument is not used
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind);
        SetUp();
        currentTrayIcon = first;
        TrayIcon(c.kind, second);
        auto sent = fake::CallsTo("Shell_NotifyIconA");
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].args[0], c.shellMessage);
        EXPECT_EQ(RecordOf(sent[0]).hIcon, c.iconSent);
        EXPECT_EQ(currentTrayIcon, c.currentAfter);
    }
}

TEST_F(TrayIconTest, RecordIsTheFirstFormWithFixedFields) {
    TrayIcon(TrayAdd, first);
    auto sent = fake::CallsTo("Shell_NotifyIconA");
    ASSERT_EQ(sent.size(), 1u);
    // Only the first form travels: hWnd .. the 64-byte tip, nothing beyond.
    ASSERT_EQ(sent[0].bytes.size(), offsetof(NOTIFYICONDATAA, szTip) + 64);
    NOTIFYICONDATAA record = RecordOf(sent[0]);
    EXPECT_EQ(record.cbSize, sent[0].bytes.size());
    EXPECT_EQ(record.hWnd, fake::Window);
    EXPECT_EQ(record.uID, 1u);
    EXPECT_EQ(record.uFlags, 7u);
    EXPECT_EQ(record.uCallbackMessage, 1025u);
    char tip[64] = "Kavit program";
    EXPECT_EQ(std::memcmp(record.szTip, tip, sizeof tip), 0) << "tip with zero fill";
}

TEST_F(TrayIconTest, RestoreAfterChangesReAddsTheLastIconSent) {
    TrayIcon(TrayAdd, first);
    TrayIcon(TrayModify, second);
    TrayIcon(TrayModify, first);
    TrayIcon(TrayModify, second);
    TrayIcon(TrayRestore, nullptr);
    TrayIcon(TrayRestore, first);
    auto sent = fake::CallsTo("Shell_NotifyIconA");
    ASSERT_EQ(sent.size(), 6u);
    for (size_t i : {4u, 5u}) {
        EXPECT_EQ(sent[i].args[0], NIM_ADD);
        EXPECT_EQ(RecordOf(sent[i]).hIcon, second);
        EXPECT_EQ(std::memcmp(sent[i].bytes.data(), sent[3].bytes.data(),
                              offsetof(NOTIFYICONDATAA, hIcon)),
                  0)
            << "same window, id, flags and callback as every other call";
    }
    EXPECT_EQ(currentTrayIcon, second);
}

TEST_F(TrayIconTest, RefusedChangeStillCountsAsShown) {
    // The scanner sends a change only when the icon differs from currentTrayIcon: a refused
    // change is asked for once, not again and again, and a restore adds the icon it asked for.
    currentTrayIcon = first;
    fake::on.Shell_NotifyIconA = [](DWORD, NOTIFYICONDATAA*) { return FALSE; };
    TrayIcon(TrayModify, second);
    EXPECT_EQ(currentTrayIcon, second);
    EXPECT_EQ(fake::Count("Shell_NotifyIconA"), 1u) << "not repeated, in no other form";
    fake::on.Shell_NotifyIconA = fake::Defaults().Shell_NotifyIconA;
    TrayIcon(TrayRestore, nullptr);
    auto sent = fake::CallsTo("Shell_NotifyIconA");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].args[0], NIM_ADD);
    EXPECT_EQ(RecordOf(sent[1]).hIcon, second);
}

} // namespace
