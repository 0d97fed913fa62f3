// Event dispatchers: every default without a handler, headless (no dialog
// provider) and with a scripted provider answering the boxes; handlers
// overriding them; the bounded volume requests; and volume file names.
#include <gtest/gtest.h>

#include "archiver/ZAExcept.h"
#include "archiver/ZipArchiver.h"
#include "load_util.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"

namespace {

using namespace load_test;
using archiver::EZAException;
using archiver::TZAAction;
using archiver::TZipArchiver;
using platform::TScriptedDialogs;

TEST(ComponentEvents, HeadlessDefaults) {
  platform::TDialogProviderScope none(nullptr);
  TempDir dir;
  TZipArchiver arc;
  arc.SetFileName(dir / "absent.zip");

  bool cancel = true;
  arc.DoOnOverallProgress(50, archiver::poAdd, archiver::ppProcess, cancel);
  EXPECT_FALSE(cancel);
  cancel = true;
  arc.DoOnFileProgress("x", 50, archiver::poAdd, archiver::ppProcess, cancel);
  EXPECT_FALSE(cancel);
  cancel = true;
  arc.DoOnCopyTempFileProgress(50, archiver::ppProcess, cancel);
  EXPECT_FALSE(cancel);

  bool confirm = true;
  std::string dest = "dest.txt";
  arc.DoOnConfirmOverwrite("src.txt", dest, confirm);
  EXPECT_FALSE(confirm) << "a closed overwrite box must not overwrite";
  EXPECT_EQ(arc.Options().OverwriteMode(), archiver::omAlways);
  confirm = false;
  arc.DoOnConfirmProcessFile("x", archiver::poExtract, confirm);
  EXPECT_TRUE(confirm);

  archiver::AnsiString password = "kept";
  bool skip = false;
  arc.DoOnPassword("secret.txt", password, skip);
  EXPECT_TRUE(skip);
  EXPECT_EQ(password, "kept");

  TZAAction action = archiver::fxaRetry;
  arc.DoOnProcessFileFailure("x", archiver::poExtract, 33, 12, "Cannot open file", action);
  EXPECT_EQ(action, archiver::fxaAbort) << "a closed failure box aborts";

  std::string name;
  arc.DoOnRequestBlankVolume(-3, name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(name, dir / "absent.zip");
  arc.DoOnRequestFirstVolume(name, cancel);
  EXPECT_TRUE(cancel) << "a missing first volume";
  arc.DoOnRequestLastVolume(name, cancel);
  EXPECT_TRUE(cancel);
  arc.DoOnRequestMiddleVolume(2, name, cancel);
  EXPECT_TRUE(cancel);
  base_test::WriteBytes(dir / "absent.zip", "x");
  arc.DoOnRequestLastVolume(name, cancel);
  EXPECT_FALSE(cancel);

  // A full disk outside spanning mode is an error, raised without the
  // component's name.
  arc.SetName("Zip1");
  try {
    arc.DoOnDiskFull(0, name, cancel);
    FAIL();
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 65);
    EXPECT_EQ(std::string(e.what()).rfind("Disk is full", 0), 0u) << e.what();
  }

  std::string stored = "d/x.txt";
  int attr = 0x20;
  archiver::AnsiString comment;
  arc.DoOnStoreFile(stored, attr, comment, "/src/d/x.txt");
  EXPECT_EQ(stored, "d/x.txt");
  uint32_t fileAttr = 0x20;
  arc.DoOnExtractFile(stored, fileAttr, comment);
  EXPECT_EQ(stored, "d/x.txt");

  // In spanning mode the volume questions are boxes; closed, they cancel.
  arc.SetSpanningMode(archiver::smSpanning);
  arc.DoOnRequestBlankVolume(0, name, cancel);
  EXPECT_TRUE(cancel);
  arc.DoOnRequestMiddleVolume(1, name, cancel);
  EXPECT_TRUE(cancel);
  arc.DoOnDiskFull(0, name, cancel);
  EXPECT_TRUE(cancel);
}

TEST(ComponentEvents, OverwriteBoxAnswersToAll) {
  TScriptedDialogs dialogs;
  platform::TDialogProviderScope scope(&dialogs);
  TZipArchiver arc;
  arc.Options().SetOverwriteMode(archiver::omPrompt);
  dialogs.answers = {platform::mrYesToAll};
  bool confirm = false;
  std::string dest = "/out/a.txt";
  arc.DoOnConfirmOverwrite("a.txt", dest, confirm);
  EXPECT_TRUE(confirm);
  EXPECT_EQ(arc.Options().OverwriteMode(), archiver::omAlways);
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(dialogs.asked[0].text, "Overwrite file \"/out/a.txt\" with \"a.txt\"");
  EXPECT_EQ(dialogs.asked[0].buttons,
            (platform::TMsgDlgButtons{platform::mrYes, platform::mrNo, platform::mrNoToAll,
                                      platform::mrYesToAll}));

  dialogs.answers = {platform::mrNoToAll, platform::mrYes, platform::mrNo};
  arc.DoOnConfirmOverwrite("a.txt", dest, confirm);
  EXPECT_FALSE(confirm);
  EXPECT_EQ(arc.Options().OverwriteMode(), archiver::omNever);
  arc.DoOnConfirmOverwrite("a.txt", dest, confirm);
  EXPECT_TRUE(confirm);
  arc.DoOnConfirmOverwrite("a.txt", dest, confirm);
  EXPECT_FALSE(confirm);
  EXPECT_EQ(arc.Options().OverwriteMode(), archiver::omNever);
}

TEST(ComponentEvents, FailureBoxAndPasswordPrompt) {
  TScriptedDialogs dialogs;
  platform::TDialogProviderScope scope(&dialogs);
  TZipArchiver arc;
  TZAAction action = archiver::fxaAbort;
  dialogs.answers = {platform::mrRetry, platform::mrIgnore, platform::mrAbort};
  arc.DoOnProcessFileFailure("x", archiver::poExtract, 33, 12, "Cannot open file \"x\"", action);
  EXPECT_EQ(action, archiver::fxaRetry);
  EXPECT_EQ(dialogs.asked.back().text, "Cannot open file \"x\". File processing error, possibly disk is full");
  EXPECT_EQ(dialogs.asked.back().buttons,
            (platform::TMsgDlgButtons{platform::mrAbort, platform::mrRetry, platform::mrIgnore}));
  arc.DoOnProcessFileFailure("x", archiver::poExtract, 61, 36, "File name is too long", action);
  EXPECT_EQ(action, archiver::fxaIgnore);
  EXPECT_EQ(dialogs.asked.back().text, "File name is too long");
  EXPECT_EQ(dialogs.asked.back().buttons, (platform::TMsgDlgButtons{platform::mrAbort, platform::mrIgnore}));
  arc.DoOnProcessFileFailure("x", archiver::poExtract, 8, 4, "bad", action);
  EXPECT_EQ(action, archiver::fxaAbort);
  // An aborted volume request needs no box.
  const size_t asked = dialogs.asked.size();
  arc.DoOnProcessFileFailure("x", archiver::poExtract, 45, 24, "aborted", action);
  EXPECT_EQ(action, archiver::fxaAbort);
  EXPECT_EQ(dialogs.asked.size(), asked);

  dialogs.textAnswers = {"пароль"};
  archiver::AnsiString password;
  bool skip = true;
  arc.DoOnPassword("book.fb2", password, skip);
  EXPECT_FALSE(skip);
  // Held as typed: the cipher, not the prompt, decides the password's bytes.
  EXPECT_EQ(password, "пароль");
  EXPECT_EQ(dialogs.asked.back().caption, "Password for \"book.fb2\"");
  EXPECT_EQ(dialogs.asked.back().text, "Enter password: ");
}

TEST(ComponentEvents, HandlersOverrideTheDefaults) {
  platform::TDialogProviderScope none(nullptr);
  TZipArchiver arc;
  arc.SetFileName("/nowhere/set.zip");
  int seenVolume = -1;
  arc.OnRequestMiddleVolume = [&](archiver::TZABaseArchiver&, int volume, std::string& name, bool& cancel) {
    seenVolume = volume;
    name = "/elsewhere/part";
    cancel = false;
  };
  std::string name;
  bool cancel = true;
  arc.DoOnRequestMiddleVolume(2, name, cancel);
  EXPECT_EQ(seenVolume, 3) << "handlers count volumes from 1";
  EXPECT_EQ(name, "/elsewhere/part");
  EXPECT_FALSE(cancel);

  arc.OnDiskFull = [](archiver::TZABaseArchiver&, int, const std::string&, bool& cancel) { cancel = true; };
  arc.DoOnDiskFull(0, "x", cancel);  // the handler answers: no exception
  EXPECT_TRUE(cancel);

  arc.OnConfirmOverwrite = [](archiver::TZABaseArchiver&, const std::string&, std::string& dest, bool& confirm) {
    dest += ".new";
    confirm = true;
  };
  std::string dest = "a";
  bool confirm = false;
  arc.DoOnConfirmOverwrite("s", dest, confirm);
  EXPECT_TRUE(confirm);
  EXPECT_EQ(dest, "a.new");

  arc.OnProcessFileFailure = [](archiver::TZABaseArchiver&, const std::string&, archiver::TZAProcessOperation,
                                int native, int, const std::string&, TZAAction& action) {
    EXPECT_EQ(action, archiver::fxaIgnore) << "the handler starts from Ignore";
    if (native == 33) action = archiver::fxaRetry;
  };
  TZAAction action = archiver::fxaAbort;
  arc.DoOnProcessFileFailure("x", archiver::poAdd, 33, 12, "m", action);
  EXPECT_EQ(action, archiver::fxaRetry);
}

TEST(ComponentEvents, VolumeRequestsAreBounded) {
  TempDir dir;
  TZipArchiver arc;
  arc.SetFileName(dir / "set.zip");
  arc.SetSpanningMode(archiver::smSplitting);
  int asked = 0;
  arc.OnRequestLastVolume = [&](archiver::TZABaseArchiver&, std::string& name, bool& cancel) {
    ++asked;
    name = dir / "still-missing.zip";
    cancel = false;
  };
  archiver::TZAVolumeNumberInfo last;
  last.SetLastVolumeNumber(3);
  last.SetLastVolume(true);
  try {
    arc.RequestVolumeForReading(last);
    FAIL();
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError, 45);
  }
  EXPECT_EQ(asked, archiver::ZAMaxVolumeRequests);

  // An answer that exists ends the requests.
  base_test::WriteBytes(dir / "here.zip", "x");
  asked = 0;
  arc.OnRequestLastVolume = [&](archiver::TZABaseArchiver&, std::string& name, bool& cancel) {
    name = ++asked < 3 ? dir / "missing.zip" : dir / "here.zip";
    cancel = false;
  };
  EXPECT_EQ(arc.RequestVolumeForReading(last), dir / "here.zip");
  EXPECT_EQ(asked, 3);

  // The spanned default keeps asking for the last disk while its file is
  // missing, but not for ever.
  TScriptedDialogs dialogs;
  platform::TDialogProviderScope scope(&dialogs);
  dialogs.answers.assign(100, platform::mrOk);
  TZipArchiver spanned;
  spanned.SetFileName(dir / "disk.zip");
  spanned.SetSpanningMode(archiver::smSpanning);
  std::string name;
  bool cancel = false;
  spanned.DoOnRequestLastVolume(name, cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(dialogs.asked.size(), static_cast<size_t>(archiver::ZAMaxVolumeRequests));
  EXPECT_EQ(dialogs.asked[0].text, "Please insert the last disk");
  EXPECT_EQ(dialogs.asked[1].text,
            "File '" + (dir / "disk.zip") + "' not found on inserted disk. Please insert last disk with required file");
}

TEST(ComponentEvents, VolumeFileNames) {
  TZipArchiver arc;
  archiver::TZABaseArchiver base;
  const std::string name = "/v/arc.zip";
  EXPECT_EQ(arc.GetVolumeFileName(name, 0, false), name);  // a single file
  arc.SetSpanningMode(archiver::smSplitting);
  // Volume names take the case of the archive's extension.
  EXPECT_EQ(arc.GetVolumeFileName(name, 0, false), "/v/arc.z01");
  EXPECT_EQ(arc.GetVolumeFileName(name, 11, false), "/v/arc.z12");
  EXPECT_EQ(arc.GetVolumeFileName(name, -1, false), name);
  arc.SpanningOptions().SetAdvancedNaming(true);
  EXPECT_EQ(arc.GetVolumeFileName(name, 0, false), "/v/arc_001.zip");
  arc.SpanningOptions().SetAdvancedNaming(false);
  // A self-extracting split set: arc.exe, arc.z02 ..., arc.zip.
  EXPECT_EQ(arc.GetVolumeFileName("/v/arc.exe", 0, false), "/v/arc.exe");
  EXPECT_EQ(arc.GetVolumeFileName("/v/arc.exe", 1, false), "/v/arc.z02");
  EXPECT_EQ(arc.GetVolumeFileName("/v/arc.exe", -1, false), "/v/arc.zip");
  // The private flavour names its parts .f01 ... and its last volume .zf.
  base.SetSpanningMode(archiver::smSplitting);
  EXPECT_EQ(base.GetVolumeFileName(name, 0, false), "/v/arc.f01");
  EXPECT_EQ(base.GetVolumeFileName("/v/arc.exe", -1, false), "/v/arc.zf");
  arc.SetSpanningMode(archiver::smSpanning);
  EXPECT_EQ(arc.GetVolumeFileName(name, 4, false), name);
  arc.SpanningOptions().SetAdvancedNaming(true);
  EXPECT_EQ(arc.GetVolumeFileName(name, 4, false), "/v/arc_005.zip");
  EXPECT_TRUE(archiver::TZABaseArchiver::IsSFXFileName("/x/Book.EXE"));
  EXPECT_FALSE(archiver::TZABaseArchiver::IsSFXFileName("/x.exe/book.zip"));
}

}  // namespace
