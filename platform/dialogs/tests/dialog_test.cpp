// Modal dialogs from a template driven as a user would: fields loaded,
// edited and saved on OK; refused values keep the dialog open with the
// focus on them; Escape discards; message boxes by string id; the file
// dialog centred and refusing a name.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "dialog_driver.h"
#include "dialogs/controls.h"
#include "dialogs/dialog.h"
#include "dialogs/file_dialog.h"
#include "helpers.h"
#include "resource.h"
#include "window/gdi.h"

using namespace dlgtests;

namespace {

const wchar_t kFormCaption[] = L"Dialog exchange";

class Form : public dlg::Dialog {
 public:
  Form() : Dialog(TestModule(), IDD_FORM) {}
  std::wstring name = L"clip";
  long count = 12;
  double rate = 2.5;
  int loop = BST_CHECKED;
  int level = 1;
  int codec = 2;

 protected:
  bool OnInitDialog() override {
    dlg::Combo codecs;
    codecs.Attach(Handle(), IDC_CODEC);
    for (const wchar_t* text : {L"GSM-AMR", L"EVRC", L"AAC"}) codecs.Add(text);
    return Dialog::OnInitDialog();
  }
  void DoDataExchange(dlg::DataExchange& dx) override {
    dx.Text(IDC_NAME, name, 10);
    dx.Number(IDC_COUNT, count, 1, 999);
    dx.Decimal(IDC_RATE, rate, 0.5, 100.0);
    dx.Check(IDC_LOOP, loop);
    dx.Radio(IDC_LOW, level);
    dx.ComboIndex(IDC_CODEC, codec);
  }
};

TEST(ModalDialog, LoadsItsFieldsCentredOverADisabledOwnerAndSavesThemOnOK) {
  Owner owner;
  Form form;
  bool ownerEnabled = true;
  RECT shown = {};
  std::wstring name, count, rate;
  int loop = -1, mid = -1, codec = -2;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(kFormCaption);
    if (!w) return;
    ownerEnabled = IsWindowEnabled(owner.Handle());
    shown = WindowRect(w);
    name = dlgtest::Text(w, IDC_NAME);
    count = dlgtest::Text(w, IDC_COUNT);
    rate = dlgtest::Text(w, IDC_RATE);
    loop = dlgtest::CheckState(w, IDC_LOOP);
    mid = dlgtest::CheckState(w, IDC_MID);
    codec = dlgtest::Selection(w, IDC_CODEC);
    EXPECT_TRUE(dlgtest::Type(w, IDC_NAME, L"take two"));
    EXPECT_TRUE(dlgtest::Type(w, IDC_COUNT, L" 345 "));
    EXPECT_TRUE(dlgtest::Type(w, IDC_RATE, L"7.25"));
    EXPECT_TRUE(dlgtest::Press(w, IDC_LOOP));
    EXPECT_TRUE(dlgtest::Press(w, IDC_HIGH));
    EXPECT_TRUE(dlgtest::Choose(w, IDC_CODEC, 0));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return dlgtest::Selection(w, IDC_CODEC) == 0; }));
    EXPECT_TRUE(dlgtest::Press(w, IDOK));
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(form.DoModal(owner.Handle()), IDOK);
  script.Join();
  EXPECT_FALSE(ownerEnabled) << "the owner takes no input while the dialog runs";
  EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
  POINT a = Centre(shown), b = Centre(WindowRect(owner.Handle()));
  EXPECT_LE(std::abs(a.x - b.x), 1);
  EXPECT_LE(std::abs(a.y - b.y), 1);
  EXPECT_EQ(name, L"clip");
  EXPECT_EQ(count, L"12");
  EXPECT_EQ(rate, L"2.50");
  EXPECT_EQ(loop, BST_CHECKED);
  EXPECT_EQ(mid, BST_CHECKED);
  EXPECT_EQ(codec, 2);
  EXPECT_EQ(form.name, L"take two");
  EXPECT_EQ(form.count, 345);
  EXPECT_DOUBLE_EQ(form.rate, 7.25);
  EXPECT_EQ(form.loop, BST_UNCHECKED);
  EXPECT_EQ(form.level, 2);
  EXPECT_EQ(form.codec, 0);
}

struct Refusal {
  int control;
  const wchar_t* typed;
  const wchar_t* message;
};

class ModalDialogRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ModalDialogRefusal, MovesTheFocusToTheValueKeepsTheDialogOpenAndEscapeDiscardsEverything) {
  const Refusal& c = GetParam();
  Owner owner;
  Form form;
  std::wstring message;
  bool stayed = false;
  int focused = 0;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(kFormCaption);
    if (!w) return;
    EXPECT_TRUE(dlgtest::Type(w, IDC_NAME, L"changed"));
    EXPECT_TRUE(dlgtest::Type(w, c.control, c.typed));
    EXPECT_TRUE(dlgtest::Press(w, IDOK));
    HWND box = dlgtest::WaitForWindow(L"Invalid Value");
    if (!box) return;
    message = dlgtest::MessageText(box);
    dlgtest::Press(box, IDOK);
    EXPECT_TRUE(dlgtest::WaitUntilGone(box));
    dlgtest::WaitFor([&] { return dlgtest::FocusedId(w) == c.control; });
    focused = dlgtest::FocusedId(w);
    stayed = IsWindowVisible(w);
    dlgtest::Key(w, VK_ESCAPE);
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(form.DoModal(owner.Handle()), IDCANCEL);
  script.Join();
  EXPECT_EQ(message, c.message);
  EXPECT_TRUE(stayed);
  EXPECT_EQ(focused, c.control);
  // Escape saves nothing, not even the values before the refused one.
  EXPECT_EQ(form.name, L"clip");
  EXPECT_EQ(form.count, 12);
  EXPECT_DOUBLE_EQ(form.rate, 2.5);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModalDialogRefusal,
    ::testing::Values(Refusal{IDC_COUNT, L"12a", L"Please enter a whole number between 1 and 999."},
                      Refusal{IDC_COUNT, L"1000", L"Please enter a whole number between 1 and 999."},
                      Refusal{IDC_COUNT, L"", L"Please enter a whole number between 1 and 999."},
                      Refusal{IDC_COUNT, L"99999999999999999999", L"Please enter a whole number between 1 and 999."},
                      Refusal{IDC_RATE, L"abc", L"Please enter a number between 0.5 and 100."},
                      Refusal{IDC_RATE, L"0.4", L"Please enter a number between 0.5 and 100."},
                      Refusal{IDC_RATE, L"nan", L"Please enter a number between 0.5 and 100."},
                      Refusal{IDC_NAME, L"eleven char", L"Please enter no more than 10 characters."}));

struct Box {
  std::wstring text;
  std::wstring caption;
  bool byId;
};

TEST(MessageBoxes, ShowTextsFromTheStringTableFilledPrintfStyle) {
  Owner owner;
  const std::vector<Box> cases = {
      {dlg::FormatText(TestModule(), IDS_PORT_RANGE, 1, 7999), win::LoadText(TestModule(), IDS_PORT_CAPTION), false},
      {dlg::FormatText(TestModule(), IDS_NOT_PROFILE, L"C:\\Profiles\\\x03A9mega.krp"), L"Invalid Profile", false},
      {L"", L"", true},
  };
  const std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"Please specify a port number between 1 and 7999.", L"Invalid Port Number"},
      {L"C:\\Profiles\\\x03A9mega.krp is not a valid profile. Please select another profile.", L"Invalid Profile"},
      {L"You must type a file name.", L"Invalid Property"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    std::wstring seen;
    dlgtest::Script script([&] {
      HWND box = dlgtest::WaitForWindow(expected[i].second);
      if (!box) return;
      seen = dlgtest::MessageText(box);
      dlgtest::Press(box, IDOK);
    });
    int answer = cases[i].byId ? dlg::MessageBoxId(owner.Handle(), TestModule(), IDS_TYPE_NAME, IDS_INVALID_PROPERTY,
                                                   MB_OK | MB_ICONWARNING)
                               : dlg::MessageBoxText(owner.Handle(), cases[i].text, cases[i].caption,
                                                     MB_OK | MB_ICONWARNING);
    script.Join();
    EXPECT_EQ(answer, IDOK) << i;
    EXPECT_EQ(seen, expected[i].first) << i;
  }
}

// Refuses names that begin with a point, as the authoring control's
// output browser must.
class NamedFileDialog : public dlg::FileDialog {
 public:
  NamedFileDialog() : FileDialog(false, L"mp4", L"", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"MPEG-4 Files (*.mp4)|*.mp4|") {
    SetTitle(L"Choose output");
  }
  std::atomic<int> refused{0};

 protected:
  bool Accept(const std::wstring& path) override {
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    if (!name.empty() && name[0] != L'.') return true;
    ++refused;
    dlg::MessageBoxId(Window(), TestModule(), IDS_TYPE_NAME, IDS_INVALID_PROPERTY, MB_OK | MB_ICONWARNING);
    return false;
  }
};

TEST(FileDialog, CentresOnItsOwnerAndStaysOpenWhenItRefusesTheName) {
  Owner owner;
  wchar_t folder[MAX_PATH] = L"";
  GetCurrentDirectoryW(MAX_PATH, folder);
  NamedFileDialog dialog;
  dialog.SetInitialFolder(folder);
  RECT shown = {};
  std::wstring message;
  bool stayed = false;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(L"Choose output", 20000);
    if (!w) return;
    // The file name field: a combo box (cmb13) or an edit (edt1).
    int field = dlgtest::Find(w, 0x47c) ? 0x47c : 0x480;
    dlgtest::WaitFor([&] { return dlgtest::Focused(w) != nullptr; });
    shown = WindowRect(w);
    EXPECT_TRUE(dlgtest::Type(w, field, L".mp4"));
    EXPECT_TRUE(dlgtest::Press(w, IDOK));
    HWND box = dlgtest::WaitForWindow(L"Invalid Property");
    if (!box) return;
    message = dlgtest::MessageText(box);
    dlgtest::Press(box, IDOK);
    EXPECT_TRUE(dlgtest::WaitUntilGone(box));
    stayed = IsWindowVisible(w);
    // The box gives the focus back to the dialog in its own time.
    dlgtest::WaitFor([&] { return dlgtest::Focused(w) != nullptr; });
    EXPECT_TRUE(dlgtest::Type(w, field, L"clip"));
    EXPECT_TRUE(dlgtest::Press(w, IDOK));
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(dialog.DoModal(owner.Handle()), IDOK);
  script.Join();
  EXPECT_EQ(message, L"You must type a file name.");
  EXPECT_TRUE(stayed);
  EXPECT_EQ(dialog.refused, 1);
  EXPECT_EQ(dialog.Path(), std::wstring(folder) + L"\\clip.mp4");
  EXPECT_EQ(dialog.FileTitle(), L"clip");
  EXPECT_EQ(dialog.Extension(), L"mp4");
  POINT a = Centre(shown), b = Centre(WindowRect(owner.Handle()));
  EXPECT_LE(std::abs(a.x - b.x), 1);
  EXPECT_LE(std::abs(a.y - b.y), 1);
}

}  // namespace
